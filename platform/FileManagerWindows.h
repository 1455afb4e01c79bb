#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <functional>
#include <optional>

// Which folders the file manager's windows show, where no window list can be read (a Wayland session): the
// session service org.freedesktop.FileManager1 publishes them in its property OpenWindowsWithLocations (each
// window and the URIs it shows) and announces changes with PropertiesChanged. Nothing says which window is in
// front, nor whether one is minimised.
//
// The service is never started for this: while its name has no owner but can be activated, no window of it
// shows anything. Lives on the main thread.
class FileManagerWindows : public QObject {
    Q_OBJECT

public:
    // Follows the service on the session bus (none when the session has no bus address).
    explicit FileManagerWindows(QObject* parent = nullptr);
    // Follows it on the given bus (a test's private bus); a disconnected bus means no service.
    explicit FileManagerWindows(const QDBusConnection& bus, QObject* parent = nullptr);

    // Whether some window shows the folder or a folder inside it; none when no service publishes the windows'
    // folders here (no bus, no such service, or one without the property). False until the first answer.
    std::optional<bool> showsFolder(const QString& folderPath) const;

    // Whether a location is the folder or inside it: file URIs only, compared by whole path components.
    static bool isInside(const QString& uri, const QString& folderPath);

signals:
    // An answer or a change arrived.
    void changed();

private slots:
    void propertiesChanged(const QString& interfaceName, const QVariantMap& changedProperties,
                           const QStringList& invalidated);

private:
    enum class State { Asking, Known, Unavailable };

    void read();
    void readActivatable(unsigned generation);
    // Sends a call; the answer is handed on unless a newer question was asked meanwhile.
    void ask(const QDBusMessage& call, unsigned generation, std::function<void(const QDBusMessage&)> answered);
    void setState(State state, const QStringList& locations = {});

    QDBusConnection _bus;
    State _state = State::Asking;
    QStringList _locations;   // every window's, together
    unsigned _generation = 0; // answers to an older question are dropped
};
