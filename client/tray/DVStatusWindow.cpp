#include "DVStatusWindow.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QToolButton>

DVStatusWindow::DVStatusWindow(QMenu* menu, QWidget* parent)
    : QWidget(parent) {
    setWindowTitle(QStringLiteral("Docuvane Fetch"));
    _iconLabel = new QLabel(this);
    _iconLabel->setFixedSize(32, 32);
    _statusLabel = new QLabel(this);
    _statusLabel->setTextFormat(Qt::PlainText);
    _menuButton = new QToolButton(this);
    _menuButton->setText(tr("Menu"));
    _menuButton->setToolButtonStyle(Qt::ToolButtonTextOnly);
    _menuButton->setPopupMode(QToolButton::InstantPopup);
    _menuButton->setMenu(menu);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(_iconLabel);
    layout->addWidget(_statusLabel, 1);
    layout->addWidget(_menuButton);
    setMinimumWidth(280);
}

void DVStatusWindow::setIcon(const QIcon& icon) {
    _iconLabel->setPixmap(icon.pixmap(32, 32));
    setWindowIcon(icon);
}

void DVStatusWindow::setStatusText(const QString& text) {
    _statusLabel->setText(text);
}

QString DVStatusWindow::statusText() const {
    return _statusLabel->text();
}
