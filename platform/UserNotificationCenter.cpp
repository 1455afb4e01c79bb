#include "UserNotificationCenter.h"

#include "MainThread.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFileInfo>
#include <QVariantMap>

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
constexpr int kExpireDefault = -1;

// The session bus is where the environment names it, or at the per-user runtime folder's "bus" socket.
bool sessionBusAddressKnown() {
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus"));
}

} // namespace

UserNotificationCenter& UserNotificationCenter::defaultUserNotificationCenter() {
    static auto* center = new UserNotificationCenter(); // lives as long as the process
    return *center;
}

void UserNotificationCenter::setFallback(Fallback fallback) {
    std::lock_guard lock(_mutex);
    _fallback = std::move(fallback);
}

void UserNotificationCenter::deliverNotification(const UserNotification& notification) {
    if (MainThread::isMainThread()) {
        post(notification);
        return;
    }
    // The bus connection and the reply watcher belong to the main thread's event loop.
    MainThread::perform([this, notification] { post(notification); });
}

void UserNotificationCenter::post(const UserNotification& notification) {
    // Without a bus address there is nothing to connect to; asking would only start an autolaunch attempt
    // (and D-Bus's connection thread) for every message.
    if (!sessionBusAddressKnown()) {
        fallBack(notification);
        return;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        fallBack(notification);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
    const QVariantMap hints{{QStringLiteral("sound-name"), notification.soundName},
                            {QStringLiteral("desktop-entry"), desktopEntry()}};
    call << applicationName() << uint(0) << QString() << notification.title << notification.informativeText
         << QStringList() << hints << kExpireDefault;
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, notification] {
        watcher->deleteLater();
        const QDBusPendingReply<uint> reply = *watcher;
        if (reply.isError())
            fallBack(notification);
        else
            emit delivered(notification, reply.value());
    });
}

void UserNotificationCenter::fallBack(const UserNotification& notification) {
    Fallback fallback;
    {
        std::lock_guard lock(_mutex);
        fallback = _fallback;
    }
    if (fallback)
        fallback(notification);
    emit delivered(notification, 0);
}
