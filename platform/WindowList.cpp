#include "WindowList.h"

#include <QGuiApplication>
#include <QThread>

#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

namespace {

// Layers of the window kinds that are not normal application windows, ordered as their stacking usually is.
// Only "0 for normal" matters to the callers; the other numbers keep kinds apart in diagnostics.
constexpr int kDesktopLayer = -1;
constexpr int kUnknownKindLayer = 1;
constexpr int kFloatingLayer = 3;
constexpr int kModalLayer = 8; // modal dialogs and splash screens
constexpr int kDockLayer = 20;
constexpr int kNotificationLayer = 23;
constexpr int kPopUpLayer = 101;

constexpr uint32_t kAllDesktops = 0xFFFFFFFF;
constexpr uint32_t kNormalState = 1; // ICCCM WM_STATE

// Property lengths asked for, in 32-bit units: more than any sane value needs, little enough to stay cheap.
constexpr uint32_t kTextLength = 1024;
constexpr uint32_t kListLength = 64;
constexpr uint32_t kStackLength = 16384;

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <typename T> using Reply = std::unique_ptr<T, FreeDeleter>;

// The Qt application's X connection and the atoms this list needs, made once per connection.
struct X11Context {
    xcb_connection_t* connection = nullptr;
    xcb_window_t root = XCB_NONE;
    xcb_ewmh_connection_t ewmh{};
    xcb_atom_t wmState = XCB_NONE;
    xcb_atom_t compoundText = XCB_NONE;
    bool ready = false;
};

xcb_atom_t internAtom(xcb_connection_t* connection, const char* name) {
    Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr));
    return reply ? reply->atom : XCB_NONE;
}

xcb_connection_t* qtConnection() {
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!app)
        return nullptr;
    auto* x11 = app->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

bool isWaylandSession() {
    return qEnvironmentVariable("XDG_SESSION_TYPE").compare(QLatin1String("wayland"), Qt::CaseInsensitive) == 0 ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

// Main thread only (the X connection is Qt's), so no lock is needed around the context itself.
X11Context* context() {
    static X11Context current;
    xcb_connection_t* connection = qtConnection();
    if (!connection || xcb_connection_has_error(connection))
        return nullptr;
    if (current.connection == connection)
        return current.ready ? &current : nullptr;
    if (current.connection)
        xcb_ewmh_connection_wipe(&current.ewmh);
    current = X11Context{};
    current.connection = connection;
    // The screen Qt connected to is the one DISPLAY names.
    int screenNumber = 0;
    char* host = nullptr;
    int displayNumber = 0;
    if (!xcb_parse_display(nullptr, &host, &displayNumber, &screenNumber))
        screenNumber = 0;
    std::free(host);
    xcb_intern_atom_cookie_t* cookies = xcb_ewmh_init_atoms(connection, &current.ewmh);
    if (!xcb_ewmh_init_atoms_replies(&current.ewmh, cookies, nullptr))
        return nullptr;
    if (screenNumber < 0 || screenNumber >= current.ewmh.nb_screens)
        screenNumber = 0;
    current.root = current.ewmh.screens[screenNumber]->root;
    current.wmState = internAtom(connection, "WM_STATE");
    current.compoundText = internAtom(connection, "COMPOUND_TEXT");
    current.ready = true;
    return &current;
}

xcb_get_property_cookie_t askProperty(const X11Context& x, xcb_window_t window, xcb_atom_t property, xcb_atom_t type,
                                      uint32_t length) {
    return xcb_get_property(x.connection, 0, window, property, type, 0, length);
}

// The reply of a property read, or none when the window is gone or the property is absent.
Reply<xcb_get_property_reply_t> propertyReply(const X11Context& x, xcb_get_property_cookie_t cookie,
                                              bool* windowGone = nullptr) {
    xcb_generic_error_t* error = nullptr;
    Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(x.connection, cookie, &error));
    if (error) {
        if (windowGone)
            *windowGone = true;
        std::free(error);
        return nullptr;
    }
    if (!reply || reply->type == XCB_NONE)
        return nullptr;
    return reply;
}

// The 32-bit values of a property of the given type; empty when it is absent or of another type or format.
std::vector<uint32_t> cardinals(const xcb_get_property_reply_t* reply, xcb_atom_t type) {
    if (!reply || reply->type != type || reply->format != 32)
        return {};
    const auto* values = static_cast<const uint32_t*>(xcb_get_property_value(reply));
    const int count = xcb_get_property_value_length(reply) / 4;
    return std::vector<uint32_t>(values, values + std::max(count, 0));
}

QByteArray bytes(const xcb_get_property_reply_t* reply) {
    if (!reply || reply->format != 8)
        return QByteArray();
    const int length = xcb_get_property_value_length(reply);
    return QByteArray(static_cast<const char*>(xcb_get_property_value(reply)), std::max(length, 0));
}

// The class part of WM_CLASS ("instance\0class\0"); null when absent, malformed or of the wrong type.
QString ownerFromClass(const xcb_get_property_reply_t* reply) {
    if (!reply || reply->type != XCB_ATOM_STRING)
        return QString();
    const QByteArray value = bytes(reply);
    const qsizetype split = value.indexOf('\0');
    if (split < 0)
        return QString();
    QByteArray className = value.mid(split + 1);
    const qsizetype end = className.indexOf('\0');
    if (end >= 0)
        className.truncate(end);
    return className.isEmpty() ? QString() : QString::fromLatin1(className);
}

QString title(const X11Context& x, const xcb_get_property_reply_t* netName, const xcb_get_property_reply_t* name) {
    if (netName && netName->type == x.ewmh.UTF8_STRING && netName->format == 8)
        return QString::fromUtf8(bytes(netName));
    if (!name || name->format != 8)
        return QString();
    if (name->type == x.ewmh.UTF8_STRING)
        return QString::fromUtf8(bytes(name));
    // COMPOUND_TEXT is read as Latin-1: titles in it are rare, and the folder name is plain ASCII.
    if (name->type == XCB_ATOM_STRING || (x.compoundText != XCB_NONE && name->type == x.compoundText))
        return QString::fromLatin1(bytes(name));
    return QString();
}

int layerForTypes(const X11Context& x, const std::vector<uint32_t>& types, bool overrideRedirect, bool modal) {
    const xcb_ewmh_connection_t& e = x.ewmh;
    // A dialog is a window like any other: in front of the file manager it hides the folder. Only a modal one
    // stands apart, above the window it blocks.
    const int normal = modal ? kModalLayer : 0;
    // The first type this list knows wins, as window managers read the list.
    for (uint32_t type : types) {
        if (type == e._NET_WM_WINDOW_TYPE_NORMAL || type == e._NET_WM_WINDOW_TYPE_DIALOG)
            return normal;
        if (type == e._NET_WM_WINDOW_TYPE_DESKTOP)
            return kDesktopLayer;
        if (type == e._NET_WM_WINDOW_TYPE_DOCK)
            return kDockLayer;
        if (type == e._NET_WM_WINDOW_TYPE_SPLASH)
            return kModalLayer;
        if (type == e._NET_WM_WINDOW_TYPE_TOOLBAR || type == e._NET_WM_WINDOW_TYPE_MENU ||
            type == e._NET_WM_WINDOW_TYPE_UTILITY)
            return kFloatingLayer;
        if (type == e._NET_WM_WINDOW_TYPE_NOTIFICATION)
            return kNotificationLayer;
        if (type == e._NET_WM_WINDOW_TYPE_DROPDOWN_MENU || type == e._NET_WM_WINDOW_TYPE_POPUP_MENU ||
            type == e._NET_WM_WINDOW_TYPE_TOOLTIP || type == e._NET_WM_WINDOW_TYPE_COMBO ||
            type == e._NET_WM_WINDOW_TYPE_DND)
            return kPopUpLayer;
    }
    if (!types.empty())
        return kUnknownKindLayer;
    if (overrideRedirect)
        return kPopUpLayer;
    // Without a type, a transient window is a dialog and any other a normal window: both alike here.
    return normal;
}

struct Stacking {
    std::vector<xcb_window_t> frontToBack;
    bool managed = false; // listed by a window manager
};

// The first 32-bit value of a property of the given type, when there is one.
std::optional<uint32_t> singleValue(const X11Context& x, xcb_window_t window, xcb_atom_t property, xcb_atom_t type) {
    Reply<xcb_get_property_reply_t> reply = propertyReply(x, askProperty(x, window, property, type, 1));
    const std::vector<uint32_t> values = cardinals(reply.get(), type);
    return values.empty() ? std::nullopt : std::optional(values.front());
}

bool hasWindowManager(const X11Context& x) {
    const std::optional<uint32_t> check = singleValue(x, x.root, x.ewmh._NET_SUPPORTING_WM_CHECK, XCB_ATOM_WINDOW);
    // A manager that has gone leaves the property behind; its check window then no longer points at itself.
    return check && singleValue(x, *check, x.ewmh._NET_SUPPORTING_WM_CHECK, XCB_ATOM_WINDOW) == check;
}

Stacking stacking(const X11Context& x) {
    Stacking result;
    if (hasWindowManager(x)) {
        Reply<xcb_get_property_reply_t> reply =
            propertyReply(x, askProperty(x, x.root, x.ewmh._NET_CLIENT_LIST_STACKING, XCB_ATOM_WINDOW, kStackLength));
        const std::vector<uint32_t> windows = cardinals(reply.get(), XCB_ATOM_WINDOW);
        if (reply) {
            result.frontToBack.assign(windows.rbegin(), windows.rend());
            result.managed = true;
            return result;
        }
    }
    Reply<xcb_query_tree_reply_t> tree(
        xcb_query_tree_reply(x.connection, xcb_query_tree(x.connection, x.root), nullptr));
    if (!tree)
        return result;
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    const int count = xcb_query_tree_children_length(tree.get());
    result.frontToBack.assign(std::make_reverse_iterator(children + count), std::make_reverse_iterator(children));
    return result;
}

std::optional<uint32_t> currentDesktop(const X11Context& x) {
    return singleValue(x, x.root, x.ewmh._NET_CURRENT_DESKTOP, XCB_ATOM_CARDINAL);
}

// Every read for one window, asked at once for all windows so that the whole list costs one round trip.
struct PendingWindow {
    xcb_window_t window;
    xcb_get_window_attributes_cookie_t attributes;
    xcb_get_property_cookie_t wmClass, netName, name, types, states, desktop, wmState;
};

std::optional<WindowDescription> describe(const X11Context& x, const PendingWindow& pending, bool managed,
                                          std::optional<uint32_t> desktopShown) {
    bool gone = false;
    xcb_generic_error_t* error = nullptr;
    Reply<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(x.connection, pending.attributes, &error));
    if (error) {
        std::free(error);
        gone = true;
    }
    Reply<xcb_get_property_reply_t> wmClass = propertyReply(x, pending.wmClass, &gone);
    Reply<xcb_get_property_reply_t> netName = propertyReply(x, pending.netName, &gone);
    Reply<xcb_get_property_reply_t> name = propertyReply(x, pending.name, &gone);
    Reply<xcb_get_property_reply_t> types = propertyReply(x, pending.types, &gone);
    Reply<xcb_get_property_reply_t> states = propertyReply(x, pending.states, &gone);
    Reply<xcb_get_property_reply_t> desktop = propertyReply(x, pending.desktop, &gone);
    Reply<xcb_get_property_reply_t> wmState = propertyReply(x, pending.wmState, &gone);
    if (gone || !attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE)
        return std::nullopt;
    bool modal = false;
    for (uint32_t state : cardinals(states.get(), XCB_ATOM_ATOM)) {
        if (state == x.ewmh._NET_WM_STATE_HIDDEN)
            return std::nullopt;
        modal = modal || state == x.ewmh._NET_WM_STATE_MODAL;
    }
    // Only a window manager sets WM_STATE; without one, being mapped is being shown.
    if (managed) {
        const std::vector<uint32_t> state = cardinals(wmState.get(), x.wmState);
        if (state.empty() || state.front() != kNormalState)
            return std::nullopt;
    }
    const std::vector<uint32_t> onDesktop = cardinals(desktop.get(), XCB_ATOM_CARDINAL);
    if (desktopShown && !onDesktop.empty() && onDesktop.front() != *desktopShown && onDesktop.front() != kAllDesktops)
        return std::nullopt;

    WindowDescription description;
    description.windowId = pending.window;
    description.ownerName = ownerFromClass(wmClass.get());
    description.name = title(x, netName.get(), name.get());
    description.layer =
        layerForTypes(x, cardinals(types.get(), XCB_ATOM_ATOM), attributes->override_redirect != 0, modal);
    return description;
}

} // namespace

QString WindowList::unavailableReason() {
    if (isWaylandSession())
        return QStringLiteral("a Wayland session lists no windows of other applications");
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return QStringLiteral("no X11 display");
    if (QThread::currentThread() != QCoreApplication::instance()->thread())
        return QStringLiteral("the window list is read on the main thread only");
    if (!context())
        return QStringLiteral("no X11 display");
    return QString();
}

std::optional<QList<WindowDescription>> WindowList::onScreenWindows() {
    if (!unavailableReason().isNull())
        return std::nullopt;
    const X11Context& x = *context();
    const Stacking order = stacking(x);
    const std::optional<uint32_t> desktopShown = currentDesktop(x);

    std::vector<PendingWindow> pending;
    pending.reserve(order.frontToBack.size());
    for (xcb_window_t window : order.frontToBack) {
        pending.push_back(PendingWindow{
            window,
            xcb_get_window_attributes(x.connection, window),
            askProperty(x, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, kTextLength),
            askProperty(x, window, x.ewmh._NET_WM_NAME, x.ewmh.UTF8_STRING, kTextLength),
            askProperty(x, window, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, kTextLength),
            askProperty(x, window, x.ewmh._NET_WM_WINDOW_TYPE, XCB_ATOM_ATOM, kListLength),
            askProperty(x, window, x.ewmh._NET_WM_STATE, XCB_ATOM_ATOM, kListLength),
            askProperty(x, window, x.ewmh._NET_WM_DESKTOP, XCB_ATOM_CARDINAL, 1),
            askProperty(x, window, x.wmState, x.wmState, 2),
        });
    }
    QList<WindowDescription> windows;
    for (const PendingWindow& window : pending) {
        if (std::optional<WindowDescription> description = describe(x, window, order.managed, desktopShown))
            windows.append(*description);
    }
    return windows;
}

bool WindowList::isFileManager(const QString& ownerName) {
    if (ownerName.isEmpty())
        return false;
    for (const QString& known : fileManagerClasses()) {
        if (ownerName.compare(known, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

const QStringList& WindowList::fileManagerClasses() {
    static const QStringList classes{
        QStringLiteral("org.gnome.Nautilus"), // GNOME Files
        QStringLiteral("Nautilus"),           // GNOME Files before 3.28
        QStringLiteral("dolphin"),
        QStringLiteral("org.kde.dolphin"),
        QStringLiteral("Thunar"),
        QStringLiteral("Nemo"),
        QStringLiteral("Caja"),
        QStringLiteral("Pcmanfm"),
        QStringLiteral("pcmanfm-qt"),
        QStringLiteral("konqueror"),
        QStringLiteral("io.elementary.files"),
        QStringLiteral("dde-file-manager"), // Deepin
        QStringLiteral("Doublecmd"),        // Double Commander
        QStringLiteral("krusader"),
        QStringLiteral("spacefm"),
    };
    return classes;
}
