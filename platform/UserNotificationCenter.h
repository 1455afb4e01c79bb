#pragma once

#include "ProductIdentity.h"

#include <QObject>
#include <QString>

#include <functional>
#include <mutex>

class QDBusConnection;

// A desktop notification as the client posts it.
struct UserNotification {
    QString title;
    QString informativeText;
    // The freedesktop sound-naming name of the platform's default notification sound.
    QString soundName = QStringLiteral("message-new-instant");
};

// Posts notifications through the freedesktop notification service (org.freedesktop.Notifications on
// the session bus). When there is no bus or the service does not answer, the notification goes to the
// fallback (the tray icon's balloon, or the log), so a message is never silently lost.
// deliverNotification may be called from any thread; the bus call is made on the main thread.
class UserNotificationCenter : public QObject {
    Q_OBJECT

public:
    static UserNotificationCenter& defaultUserNotificationCenter();

    using Fallback = std::function<void(const UserNotification&)>;
    // The fallback runs on the main thread.
    void setFallback(Fallback fallback);

    void deliverNotification(const UserNotification& notification);

    // The application name and desktop entry the notification carries.
    static QString applicationName() { return ProductIdentity::current().applicationName; }
    static QString desktopEntry() { return ProductIdentity::current().desktopEntry; }

signals:
    // After the service accepted a notification (id) or the fallback took it (0); for observers and tests.
    void delivered(const UserNotification& notification, uint id);

private:
    UserNotificationCenter() = default;
    void post(const UserNotification& notification);
    void fallBack(const UserNotification& notification);

    std::mutex _mutex;
    Fallback _fallback;
};
