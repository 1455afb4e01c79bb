#include "DVActivityIndicator.h"

#include <QPainter>

namespace {
constexpr int kSpokes = 12;
}

DVActivityIndicator::DVActivityIndicator(QWidget* parent)
    : QWidget(parent) {
    setFixedSize(sizeHint());
    _timer.setInterval(1000 / kSpokes);
    connect(&_timer, &QTimer::timeout, this, [this] {
        _step = (_step + 1) % kSpokes;
        update();
    });
}

void DVActivityIndicator::startAnimation() {
    if (!_timer.isActive())
        _timer.start();
}

void DVActivityIndicator::stopAnimation() {
    _timer.stop();
    update();
}

void DVActivityIndicator::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.translate(width() / 2.0, height() / 2.0);
    const double radius = std::min(width(), height()) / 2.0;
    QColor colour = palette().color(QPalette::WindowText);
    for (int i = 0; i < kSpokes; ++i) {
        // The spokes fade behind the leading one; a stopped indicator shows them all faint.
        const int age = (_step - i + kSpokes) % kSpokes;
        colour.setAlphaF(isAnimating() ? 1.0 - 0.75 * age / kSpokes : 0.3);
        p.setPen(QPen(colour, radius / 4, Qt::SolidLine, Qt::RoundCap));
        p.save();
        p.rotate(360.0 * i / kSpokes);
        p.drawLine(QPointF(0, -radius * 0.45), QPointF(0, -radius * 0.85));
        p.restore();
    }
}
