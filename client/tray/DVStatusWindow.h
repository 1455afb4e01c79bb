#pragma once

#include <QWidget>

class QLabel;
class QMenu;
class QToolButton;

// The stand-in for the tray on desktops without one: the state icon, the status line and a button that
// opens the status menu.
class DVStatusWindow : public QWidget {
    Q_OBJECT

public:
    explicit DVStatusWindow(QMenu* menu, QWidget* parent = nullptr);

    void setIcon(const QIcon& icon);
    void setStatusText(const QString& text);
    QString statusText() const;
    QToolButton* menuButton() const { return _menuButton; }

private:
    QLabel* _iconLabel;
    QLabel* _statusLabel;
    QToolButton* _menuButton;
};
