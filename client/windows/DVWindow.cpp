#include "DVWindow.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>

DVWindow::DVWindow(QWidget* parent)
    : QDialog(parent) {}

void DVWindow::setShouldClose(std::function<bool()> shouldClose) {
    _shouldClose = std::move(shouldClose);
}

void DVWindow::showInFront() {
    adjustSize();
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

void DVWindow::reject() {
    close();
}

void DVWindow::closeEvent(QCloseEvent* event) {
    // Not QDialog's own handling: that would reject() and so come back here.
    if (_shouldClose && !_shouldClose())
        event->ignore();
    else
        event->accept();
}
