#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QThread>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <optional>

// Windows of "another application" for tests and benchmarks: a connection of its own to the X server named by
// DISPLAY, on which windows are made with the class, titles and types a test asks for, and then raised,
// lowered, minimised or moved to another workspace the way a user or a pager would (through the window
// manager when one runs, directly otherwise).
class X11TestWindows {
public:
    struct Shape {
        QByteArray wmClass;                // the class part; the instance part is the same text in lower case
        std::optional<QByteArray> netName; // _NET_WM_NAME (UTF-8)
        std::optional<QByteArray> wmName;  // WM_NAME (Latin-1 STRING)
        QByteArray type;                   // a _NET_WM_WINDOW_TYPE_… suffix such as "DOCK"; empty for none
        xcb_window_t transientFor = XCB_NONE;
        QByteArray state = {}; // a _NET_WM_STATE_… suffix such as "MODAL"; empty for none
    };

    X11TestWindows() {
        int screenNumber = 0;
        _connection = xcb_connect(nullptr, &screenNumber);
        if (xcb_connection_has_error(_connection))
            return;
        xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(_connection));
        for (int i = 0; i < screenNumber && screens.rem; ++i)
            xcb_screen_next(&screens);
        _screen = screens.data;
    }

    ~X11TestWindows() { xcb_disconnect(_connection); }
    X11TestWindows(const X11TestWindows&) = delete;
    X11TestWindows& operator=(const X11TestWindows&) = delete;

    bool isConnected() const { return _screen != nullptr; }
    xcb_window_t root() const { return _screen->root; }
    xcb_connection_t* connection() const { return _connection; }

    xcb_atom_t atom(const QByteArray& name) {
        if (const auto it = _atoms.constFind(name); it != _atoms.constEnd())
            return *it;
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
            _connection, xcb_intern_atom(_connection, 0, static_cast<uint16_t>(name.size()), name.constData()),
            nullptr);
        const xcb_atom_t value = reply ? reply->atom : XCB_NONE;
        std::free(reply);
        _atoms.insert(name, value);
        return value;
    }

    // True when a window manager has announced itself (EWMH) and its check window points at itself.
    bool windowManagerRunning() {
        const std::optional<uint32_t> check = cardinal(root(), "_NET_SUPPORTING_WM_CHECK", XCB_ATOM_WINDOW);
        return check && cardinal(*check, "_NET_SUPPORTING_WM_CHECK", XCB_ATOM_WINDOW) == check;
    }

    // Waits until a window manager runs and manages new windows. A manager announces itself before it takes
    // windows over, and a window mapped in between stays unmanaged, so probe windows are made until one is
    // listed in the manager's client list.
    bool waitForWindowManager(int timeoutMs = 20000) {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < timeoutMs) {
            if (!windowManagerRunning()) {
                QThread::msleep(10);
                continue;
            }
            const xcb_window_t probe = create(Shape{"tst.probe", QByteArray("probe"), std::nullopt, {}});
            const bool managed = waitUntil([&] { return windows(root(), "_NET_CLIENT_LIST").contains(probe); }, 1000);
            destroy(probe);
            if (managed) {
                _managerSeen = true;
                return true;
            }
        }
        return false;
    }

    // Polls a condition about the server's state until it holds or the time is up.
    template <typename Condition> bool waitUntil(Condition condition, int timeoutMs) {
        QElapsedTimer clock;
        clock.start();
        while (!condition()) {
            if (clock.elapsed() > timeoutMs)
                return false;
            QThread::msleep(5);
        }
        return true;
    }

    // The window ids of a WINDOW list property.
    QList<xcb_window_t> windows(xcb_window_t window, const QByteArray& property) {
        xcb_get_property_reply_t* reply = xcb_get_property_reply(
            _connection, xcb_get_property(_connection, 0, window, atom(property), XCB_ATOM_WINDOW, 0, 16384), nullptr);
        QList<xcb_window_t> ids;
        if (reply && reply->type == XCB_ATOM_WINDOW && reply->format == 32) {
            const auto* values = static_cast<const xcb_window_t*>(xcb_get_property_value(reply));
            ids = QList<xcb_window_t>(values, values + xcb_get_property_value_length(reply) / 4);
        }
        std::free(reply);
        return ids;
    }

    // Makes and (unless told not to) maps a window; it comes in front of the windows made before.
    xcb_window_t create(const Shape& shape, bool map = true) {
        const xcb_window_t window = xcb_generate_id(_connection);
        xcb_create_window(_connection, XCB_COPY_FROM_PARENT, window, root(), 10, 10, 200, 120, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, _screen->root_visual, 0, nullptr);
        if (!shape.wmClass.isNull()) {
            const QByteArray value = shape.wmClass.toLower() + '\0' + shape.wmClass + '\0';
            setProperty(window, "WM_CLASS", XCB_ATOM_STRING, 8, value.constData(), value.size());
        }
        if (shape.netName)
            setProperty(window, "_NET_WM_NAME", atom("UTF8_STRING"), 8, shape.netName->constData(),
                        shape.netName->size());
        if (shape.wmName)
            setProperty(window, "WM_NAME", XCB_ATOM_STRING, 8, shape.wmName->constData(), shape.wmName->size());
        if (!shape.type.isEmpty()) {
            const xcb_atom_t type = atom("_NET_WM_WINDOW_TYPE_" + shape.type);
            setProperty(window, "_NET_WM_WINDOW_TYPE", XCB_ATOM_ATOM, 32, &type, 1);
        }
        if (shape.transientFor != XCB_NONE)
            setProperty(window, "WM_TRANSIENT_FOR", XCB_ATOM_WINDOW, 32, &shape.transientFor, 1);
        if (!shape.state.isEmpty()) {
            const xcb_atom_t state = atom("_NET_WM_STATE_" + shape.state);
            setProperty(window, "_NET_WM_STATE", XCB_ATOM_ATOM, 32, &state, 1);
        }
        if (map)
            xcb_map_window(_connection, window);
        sync();
        // Requests about a window that its manager has not taken over yet can go unheard.
        if (map && _managerSeen)
            waitUntil([&] { return windows(root(), "_NET_CLIENT_LIST").contains(window); }, 5000);
        return window;
    }

    void setProperty(xcb_window_t window, const QByteArray& property, xcb_atom_t type, uint8_t format, const void* data,
                     qsizetype count) {
        xcb_change_property(_connection, XCB_PROP_MODE_REPLACE, window, atom(property), type, format,
                            static_cast<uint32_t>(count), data);
    }

    void raise(xcb_window_t window) {
        if (windowManagerRunning()) {
            // A pager's activation request (source 2), which managers honour without focus-stealing checks.
            sendToRoot(window, "_NET_ACTIVE_WINDOW", {2, XCB_CURRENT_TIME, 0});
        } else {
            const uint32_t mode = XCB_STACK_MODE_ABOVE;
            xcb_configure_window(_connection, window, XCB_CONFIG_WINDOW_STACK_MODE, &mode);
        }
        sync();
    }

    void lower(xcb_window_t window) {
        if (windowManagerRunning()) {
            sendToRoot(window, "_NET_RESTACK_WINDOW", {2, XCB_NONE, XCB_STACK_MODE_BELOW});
        } else {
            const uint32_t mode = XCB_STACK_MODE_BELOW;
            xcb_configure_window(_connection, window, XCB_CONFIG_WINDOW_STACK_MODE, &mode);
        }
        sync();
    }

    // With a manager, asks it to iconify the window. Without one, marks the window hidden the way a manager
    // would, but leaves it mapped, so that the mark alone must hide it.
    void minimise(xcb_window_t window) {
        if (windowManagerRunning()) {
            sendToRoot(window, "WM_CHANGE_STATE", {3 /* IconicState */});
        } else {
            const xcb_atom_t hidden = atom("_NET_WM_STATE_HIDDEN");
            setProperty(window, "_NET_WM_STATE", XCB_ATOM_ATOM, 32, &hidden, 1);
        }
        sync();
    }

    // desktop: a workspace number, or 0xFFFFFFFF for all of them. Without a manager the window keeps showing;
    // its property is set and workspace 0 named the current one, as a manager would.
    void moveToDesktop(xcb_window_t window, uint32_t desktop) {
        if (windowManagerRunning()) {
            sendToRoot(window, "_NET_WM_DESKTOP", {desktop, 2});
        } else {
            const uint32_t current = 0;
            setProperty(root(), "_NET_CURRENT_DESKTOP", XCB_ATOM_CARDINAL, 32, &current, 1);
            setProperty(window, "_NET_WM_DESKTOP", XCB_ATOM_CARDINAL, 32, &desktop, 1);
        }
        sync();
    }

    void destroy(xcb_window_t window) {
        xcb_destroy_window(_connection, window);
        sync();
    }

    // Waits until the server has handled everything sent so far.
    void sync() { std::free(xcb_get_input_focus_reply(_connection, xcb_get_input_focus(_connection), nullptr)); }

    std::optional<uint32_t> cardinal(xcb_window_t window, const QByteArray& property, xcb_atom_t type) {
        xcb_get_property_reply_t* reply = xcb_get_property_reply(
            _connection, xcb_get_property(_connection, 0, window, atom(property), type, 0, 1), nullptr);
        std::optional<uint32_t> value;
        if (reply && reply->type == type && reply->format == 32 && xcb_get_property_value_length(reply) >= 4)
            value = *static_cast<const uint32_t*>(xcb_get_property_value(reply));
        std::free(reply);
        return value;
    }

private:
    void sendToRoot(xcb_window_t window, const QByteArray& message, std::initializer_list<uint32_t> data) {
        xcb_client_message_event_t event;
        std::memset(&event, 0, sizeof event);
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = window;
        event.type = atom(message);
        int i = 0;
        for (uint32_t value : data)
            event.data.data32[i++] = value;
        xcb_send_event(_connection, 0, root(),
                       XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char*>(&event));
    }

    xcb_connection_t* _connection = nullptr;
    xcb_screen_t* _screen = nullptr;
    QHash<QByteArray, xcb_atom_t> _atoms;
    bool _managerSeen = false;
};
