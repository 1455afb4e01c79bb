#pragma once

#include <QDBusConnection>

// The user's session bus, where there is one. Asking Qt for the session bus without an address starts an
// autolaunch attempt (and D-Bus's connection thread) every time; these ask only where a bus can be.
namespace SessionBus {

// The environment names the bus, or the per-user runtime folder holds its "bus" socket.
bool addressKnown();
// The session bus when its address is known; otherwise a connection that is never connected.
QDBusConnection connectionIfAny();

} // namespace SessionBus
