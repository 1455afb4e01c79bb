#pragma once

#include "ProductIdentity.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <mutex>

class QDBusConnection;

// A desktop notification as the client posts it.
struct UserNotification {
    QString title;
    QString informativeText;
    // The file the notification is about, or empty. Where the service offers actions and the poster stays
    // to answer them, clicking the notification shows the file in the file manager and an "Open Folder"
    // action opens the folder that holds it.
    QString filePath = QString();
    // The freedesktop sound-naming name of the platform's default notification sound.
    QString soundName = QStringLiteral("message-new-instant");
};

// Posts notifications through the freedesktop notification service (org.freedesktop.Notifications on
// the session bus). When there is no bus or the service does not answer, the notification goes to the
// fallback (the tray icon's balloon, or the log), so a message is never silently lost.
// deliverNotification may be called from any thread; the bus calls are made on the main thread, which
// also answers the actions the user chooses.
class UserNotificationCenter : public QObject {
    Q_OBJECT

public:
    static UserNotificationCenter& defaultUserNotificationCenter();

    using Fallback = std::function<void(const UserNotification&)>;
    // The fallback runs on the main thread.
    void setFallback(Fallback fallback);

    void deliverNotification(const UserNotification& notification);

    // Waits, turning the main thread's event loop, until every notification handed over so far has been
    // accepted or has fallen back, at most the given time. For a short-lived program about to exit, which
    // would otherwise drop the last ones. True when none is left.
    bool waitForDeliveries(int milliseconds);

    // The application name and desktop entry the notification carries.
    static QString applicationName() { return ProductIdentity::current().applicationName; }
    static QString desktopEntry() { return ProductIdentity::current().desktopEntry; }
    // The application's icon: a file:// URL of the icon in the main bundle's resources
    // ("<desktop entry>.svg"), or, outside a bundle that has one, the icon theme's name for it.
    static QString applicationIcon();

signals:
    // After the service accepted a notification (id) or the fallback took it (0); for observers and tests.
    void delivered(const UserNotification& notification, uint id);

private slots:
    void actionInvoked(uint id, const QString& actionKey);
    void notificationClosed(uint id, uint reason);

private:
    UserNotificationCenter();
    void post(const UserNotification& notification);
    void notify(const QDBusConnection& bus, const UserNotification& notification, const QStringList& capabilities);
    void fallBack(const UserNotification& notification);
    void finishDelivery();
    void listenForActions(QDBusConnection& bus);
    void remember(uint id, const QString& filePath);
    void forgetAll();

    std::mutex _mutex;
    Fallback _fallback;
    int _undelivered = 0; // guarded by _mutex

    // Main thread only: the files of the notifications that offer actions, by the service's id, oldest
    // first, so that a service that never reports closing cannot make the list grow without end.
    bool _listening = false;
    QHash<uint, QString> _files;
    std::deque<uint> _order;
};
