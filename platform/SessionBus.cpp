#include "SessionBus.h"

#include <QFileInfo>

namespace SessionBus {

bool addressKnown() {
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus"));
}

QDBusConnection connectionIfAny() {
    return addressKnown() ? QDBusConnection::sessionBus() : QDBusConnection(QStringLiteral("no session bus"));
}

} // namespace SessionBus
