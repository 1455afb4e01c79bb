#pragma once

#include "DVStatusImages.h"
#include "UserNotificationCenter.h"

#include <QElapsedTimer>
#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QSystemTrayIcon>
#include <QTimer>

class DVActivityIndicator;
class DVStatusWindow;
class QAction;
class QLabel;
class QMenu;
class QWidgetAction;

// The client's permanent user interface: the tray icon and its menu (the status menu).
//
// The menu holds five fixed entries (status, check for documents, open the fetch folder, the Docuvane
// website, preferences), then the rest (a separator, check for updates, sign in again, quit). The owner
// inserts the two dynamic rows (progressItem, destinationItem) at indices 5 and 6 of menu() itself, so the
// entries are plain actions of one flat menu.
//
// Without a system tray the item waits a few seconds for one; if none appears it shows a small status
// window with the same icon, status line and menu, and moves back to the tray when one appears later.
class DVStatusItem : public QObject {
    Q_OBJECT

public:
    enum class Entry {
        Status,
        CheckForDocuments,
        OpenFetchFolder,
        Website,
        Preferences,
        CheckForUpdates,
        SignInAgain,
        Quit,
    };
    Q_ENUM(Entry)

    // traySettleMs: how long to wait for a tray before showing the status window.
    explicit DVStatusItem(QObject* parent = nullptr, int traySettleMs = 5000);
    ~DVStatusItem() override;

    QMenu* menu() const { return _menu; }
    QAction* action(Entry entry) const;

    QWidgetAction* progressItem() const { return _progressItem; }
    QWidgetAction* destinationItem() const { return _destinationItem; }
    void setProgressMessage(const QString& message);
    void setProgressAnimating(bool animating);
    void setDestinationMessage(const QString& message);
    void setDestinationIndicatorHidden(bool hidden);
    void setDestinationAnimating(bool animating);
    QString progressMessage() const;
    QString destinationMessage() const;
    DVActivityIndicator* progressIndicator() const { return _progressIndicator; }
    DVActivityIndicator* destinationIndicator() const { return _destinationIndicator; }

    void setImage(const QIcon& icon);
    void setImage(DVStatusImage image, bool darkPanel) { setImage(DVStatusImages::icon(image, darkPanel)); }
    QIcon image() const { return _icon; }
    // What the icon says when the pointer rests on it; the product name until the owner says more.
    void setToolTip(const QString& text);
    QString toolTip() const { return _toolTip; }

    // A balloon message from the tray icon (the notifications' fallback). False when there is no tray
    // icon to show it, so the caller can log it instead.
    bool showMessage(const QString& title, const QString& text);

    // The notifications' fallback for UserNotificationCenter::setFallback: the balloon while there is a
    // tray icon, otherwise (and once the item is gone) the given log function.
    UserNotificationCenter::Fallback notificationFallback(UserNotificationCenter::Fallback log);

    // Where the item currently is.
    bool isInTray() const;
    DVStatusWindow* statusWindow() const { return _window; }

    // Looks for the tray and moves between it and the status window (also done by a timer).
    void updatePresentation();

signals:
    void triggered(DVStatusItem::Entry entry);
    // The menu is about to open (the owner inserts its rows and validates the entries here).
    void menuWillOpen();

private:
    QAction* addEntry(Entry entry, const QString& title);
    void popUpMenu(QSystemTrayIcon::ActivationReason reason);
    static QWidgetAction* makeRow(QMenu* menu, DVActivityIndicator** indicator, QLabel** label);

    QMenu* _menu;
    QList<QAction*> _entries;
    QWidgetAction* _progressItem;
    QWidgetAction* _destinationItem;
    DVActivityIndicator* _progressIndicator = nullptr;
    DVActivityIndicator* _destinationIndicator = nullptr;
    QLabel* _progressLabel = nullptr;
    QLabel* _destinationLabel = nullptr;
    QIcon _icon;
    QString _toolTip = QStringLiteral("Docuvane Fetch");
    QSystemTrayIcon* _tray = nullptr;
    QPointer<DVStatusWindow> _window;
    QTimer _trayPoll;
    int _traySettleMs;
    QElapsedTimer _trayMissing;
};
