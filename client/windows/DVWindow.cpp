#include "DVWindow.h"

#include "TextHeightForWidth.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>

namespace {

// The application's quit request closes every window first, and a window that refuses to close stops it.
// A quit is not the close box: while one is under way, the windows close without asking.
class QuitWatcher : public QObject {
public:
    static bool quitting() { return instance()._quitting; }

    bool eventFilter(QObject* object, QEvent* event) override {
        if (object == QCoreApplication::instance() && event->type() == QEvent::Quit) {
            _quitting = true;
            // The windows are asked synchronously while the request is handled; a refused quit ends here.
            QTimer::singleShot(0, this, [this] { _quitting = false; });
        }
        return false;
    }

    static QuitWatcher& instance() {
        static QuitWatcher* watcher = [] {
            auto* made = new QuitWatcher;
            made->setParent(QCoreApplication::instance());
            QCoreApplication::instance()->installEventFilter(made);
            return made;
        }();
        return *watcher;
    }

private:
    bool _quitting = false;
};

} // namespace

DVWindow::DVWindow(QWidget* parent)
    : QDialog(parent) {
    QuitWatcher::instance();
}

void DVWindow::setShouldClose(std::function<bool()> shouldClose) {
    _shouldClose = std::move(shouldClose);
}

void DVWindow::showInFront() {
    if (QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    show();
    raise();
    activateWindow();
}

QColor DVWindow::errorColor() {
    // Readable on light and dark window backgrounds alike.
    return QColor(0xd0, 0x1b, 0x1b);
}

void DVWindow::setStatusColor(QLabel* status, const QColor& color) {
    QPalette palette = status->parentWidget() ? status->parentWidget()->palette() : QPalette();
    if (color.isValid())
        palette.setColor(QPalette::WindowText, color);
    status->setPalette(palette);
}

void DVWindow::fitToContent(QWidget* window) {
    window->setWindowFlag(Qt::WindowMaximizeButtonHint, false);
    if (QLayout* layout = window->layout())
        layout->setSizeConstraint(QLayout::SetFixedSize);
}

void DVWindow::wrapEvenly(QLabel* label, int widest) {
    const auto height = [label](int width) { return textHeightForWidth(label->text(), label->font(), float(width)); };
    const float lines = height(widest);
    int narrow = 1;
    int wide = widest;
    while (narrow < wide) {
        const int middle = (narrow + wide) / 2;
        if (height(middle) <= lines)
            wide = middle;
        else
            narrow = middle + 1;
    }
    // A pixel to spare: the label measures in whole pixels, the layout in fractions.
    label->setFixedWidth(wide + 1);
}

void DVWindow::reserveStatusLine(QLabel* status) {
    status->setMinimumHeight(status->fontMetrics().height());
}

void DVWindow::widenMessageBox(QMessageBox* box, int width) {
    if (auto* grid = qobject_cast<QGridLayout*>(box->layout()))
        grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(), 0, 1,
                      grid->columnCount());
}

void DVWindow::showTextsPlain(QMessageBox* box) {
    box->setTextFormat(Qt::PlainText);
    // The box's own format does not reach the informative text's label.
    if (auto* informative = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")))
        informative->setTextFormat(Qt::PlainText);
}

void DVWindow::reject() {
    close();
}

void DVWindow::closeEvent(QCloseEvent* event) {
    // Not QDialog's own handling: that would reject() and so come back here.
    if (_shouldClose && !QuitWatcher::quitting() && !_shouldClose())
        event->ignore();
    else
        event->accept();
}
