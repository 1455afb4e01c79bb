#include "UserNotificationCenter.h"

#include "Bundle.h"
#include "MainThread.h"
#include "SessionBus.h"
#include "Workspace.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>
#include <QUrl>
#include <QVariantMap>

#include <algorithm>

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
constexpr int kExpireDefault = -1;
// The action a click on the notification invokes, and the one that opens the document's folder.
const QString kDefaultAction = QStringLiteral("default");
const QString kOpenFolderAction = QStringLiteral("open-folder");
// Notifications whose actions are still answered; older ones are forgotten first.
constexpr size_t kRememberedLimit = 1000;

} // namespace

UserNotificationCenter::UserNotificationCenter() {
    // Its bus replies and the service's signals are handled by the main thread's event loop, whichever
    // thread asked for the center first.
    if (QCoreApplication* app = QCoreApplication::instance())
        moveToThread(app->thread());
}

UserNotificationCenter& UserNotificationCenter::defaultUserNotificationCenter() {
    static auto* center = new UserNotificationCenter(); // lives as long as the process
    return *center;
}

QString UserNotificationCenter::applicationIcon() {
    const QString bundled = Bundle::mainBundle().resourcePath() + QLatin1Char('/') + desktopEntry() + ".svg";
    if (QFileInfo(bundled).isFile())
        return QUrl::fromLocalFile(bundled).toString(QUrl::FullyEncoded);
    return desktopEntry();
}

void UserNotificationCenter::setFallback(Fallback fallback) {
    std::lock_guard lock(_mutex);
    _fallback = std::move(fallback);
}

void UserNotificationCenter::deliverNotification(const UserNotification& notification) {
    {
        std::lock_guard lock(_mutex);
        ++_undelivered;
    }
    if (MainThread::isMainThread()) {
        post(notification);
        return;
    }
    // The bus connection and the reply watchers belong to the main thread's event loop.
    MainThread::perform([this, notification] { post(notification); });
}

bool UserNotificationCenter::waitForDeliveries(int milliseconds) {
    auto left = [this] {
        std::lock_guard lock(_mutex);
        return _undelivered;
    };
    if (left() == 0)
        return true;
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    connect(this, &UserNotificationCenter::delivered, &loop, [&] {
        if (left() == 0)
            loop.quit();
    });
    loop.exec();
    return left() == 0;
}

void UserNotificationCenter::post(const UserNotification& notification) {
    // Without a bus address there is nothing to connect to; asking would only start an autolaunch attempt
    // (and D-Bus's connection thread) for every message.
    if (!SessionBus::addressKnown()) {
        fallBack(notification);
        return;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        fallBack(notification);
        return;
    }
    if (!notification.filePath.isEmpty())
        listenForActions(bus);
    // What the service can do decides the actions and how the body is written; it may change with every
    // new service, so it is asked each time. A service that cannot say gets a plain notification.
    const QDBusMessage ask =
        QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("GetCapabilities"));
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(ask), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, notification, bus] {
        watcher->deleteLater();
        const QDBusPendingReply<QStringList> reply = *watcher;
        notify(bus, notification, reply.isError() ? QStringList() : reply.value());
    });
}

void UserNotificationCenter::notify(const QDBusConnection& bus, const UserNotification& notification,
                                    const QStringList& capabilities) {
    // A service that reads markup would take "&" or "<" in a file name for the start of an entity or tag.
    const QString body = capabilities.contains(QStringLiteral("body-markup"))
                             ? notification.informativeText.toHtmlEscaped()
                             : notification.informativeText;
    const bool offersActions = !notification.filePath.isEmpty() && capabilities.contains(QStringLiteral("actions"));
    const QStringList actions = offersActions ? QStringList{kDefaultAction, QStringLiteral("Show"), kOpenFolderAction,
                                                            QStringLiteral("Open Folder")}
                                              : QStringList();
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
    const QVariantMap hints{{QStringLiteral("sound-name"), notification.soundName},
                            {QStringLiteral("desktop-entry"), desktopEntry()}};
    call << applicationName() << uint(0) << applicationIcon() << notification.title << body << actions << hints
         << kExpireDefault;
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, notification, offersActions] {
        watcher->deleteLater();
        const QDBusPendingReply<uint> reply = *watcher;
        if (reply.isError()) {
            fallBack(notification);
            return;
        }
        if (offersActions)
            remember(reply.value(), notification.filePath);
        finishDelivery();
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
    finishDelivery();
    emit delivered(notification, 0);
}

void UserNotificationCenter::finishDelivery() {
    std::lock_guard lock(_mutex);
    --_undelivered;
}

void UserNotificationCenter::listenForActions(QDBusConnection& bus) {
    if (_listening)
        return;
    _listening = true;
    bus.connect(kService, kPath, kService, QStringLiteral("ActionInvoked"), this, SLOT(actionInvoked(uint, QString)));
    bus.connect(kService, kPath, kService, QStringLiteral("NotificationClosed"), this,
                SLOT(notificationClosed(uint, uint)));
    // Ids are the service's own: a new service counts afresh, and its ids name other notifications.
    auto* watcher = new QDBusServiceWatcher(kService, bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this, &UserNotificationCenter::forgetAll);
}

void UserNotificationCenter::remember(uint id, const QString& filePath) {
    if (!_files.contains(id))
        _order.push_back(id);
    _files.insert(id, filePath);
    while (_order.size() > kRememberedLimit) {
        _files.remove(_order.front());
        _order.pop_front();
    }
}

void UserNotificationCenter::forgetAll() {
    _files.clear();
    _order.clear();
}

void UserNotificationCenter::actionInvoked(uint id, const QString& actionKey) {
    const auto found = _files.constFind(id);
    if (found == _files.constEnd())
        return; // another application's notification, or one of ours that is gone
    if (actionKey == kDefaultAction)
        Workspace::selectFile(*found);
    else if (actionKey == kOpenFolderAction)
        Workspace::openURL(QUrl::fromLocalFile(QFileInfo(*found).absolutePath()));
}

void UserNotificationCenter::notificationClosed(uint id, uint) {
    if (_files.remove(id) != 0)
        _order.erase(std::find(_order.begin(), _order.end(), id));
}
