#include "DVNavigationView.h"

#include "DVWindow.h"

#include <QAbstractButton>
#include <QLabel>

DVNavigationView::DVNavigationView(QWidget* parent)
    : QWidget(parent) {}

void DVNavigationView::setOutlets(QAbstractButton* previousButton, QAbstractButton* nextButton, QLabel* status) {
    _previousButton = previousButton;
    _nextButton = nextButton;
    _status = status;
    DVWindow::reserveStatusLine(status);
}

void DVNavigationView::awakeFromNib() {
    const bool hasPrevious = _previousView != nullptr;
    _previousButton->setEnabled(hasPrevious);
    _previousButton->setVisible(hasPrevious);
    setStatus(QString());
}

QString DVNavigationView::status() const {
    return _status->text();
}

void DVNavigationView::setStatus(const QString& status) {
    _status->setText(status);
}

void DVNavigationView::setStatusColor(const QColor& color) {
    _statusColor = color;
    DVWindow::setStatusColor(_status, color);
}
