#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// One window on screen, described the way the window watcher reads it.
struct WindowDescription {
    // Whether the window's contents can be read by others: 0 none, 1 read-only. Every X11 window can.
    int sharingState = 1;
    // 0 for a normal application window or dialog; docks, desktops, menus, modal dialogs and the like have
    // other layers.
    int layer = 0;
    // The owning application: the class part of WM_CLASS. Null when the window names none.
    QString ownerName;
    // The title; null when the window has none (an empty title stays empty).
    QString name;
    // The X window id, for diagnostics and tests.
    quint32 windowId = 0;
};

// The list of windows on screen, front to back.
//
// X11: read through the X connection of the Qt application (a QGuiApplication on the xcb platform), on the
// main thread. With a window manager the order is its stacking list (_NET_CLIENT_LIST_STACKING, reversed);
// without one it is the order of the root window's children. Windows that are unmapped, minimised
// (_NET_WM_STATE_HIDDEN), not in the Normal WM_STATE, or on another workspace are not on screen. A window
// that breaks the rules (no properties, a property of the wrong type, destroyed while it is read) is left out
// or described without the broken part; it never fails the list.
//
// Wayland sessions have no list: the X server of XWayland knows only X clients, so a native window in front
// would go unseen and the answer would be wrong rather than empty. Neither has a process without a display.
class WindowList {
public:
    // The windows on screen, front to back; none when this session has no window list.
    static std::optional<QList<WindowDescription>> onScreenWindows();
    // Why there is no window list here, or a null string when there is one.
    static QString unavailableReason();

    // Whether an owner name is that of a known file manager (the role the Finder plays on the system this
    // client was written for). Compared without regard to case.
    static bool isFileManager(const QString& ownerName);
    // The WM_CLASS classes of the known file managers.
    static const QStringList& fileManagerClasses();
};
