#include "FileManagerWindows.h"

#include "SessionBus.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QDir>
#include <QUrl>

namespace {

const QString kService = QStringLiteral("org.freedesktop.FileManager1");
const QString kPath = QStringLiteral("/org/freedesktop/FileManager1");
const QString kInterface = QStringLiteral("org.freedesktop.FileManager1");
const QString kProperty = QStringLiteral("OpenWindowsWithLocations");
const QString kPropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

// The URIs of every window in an a{sas} value, however the bus handed it over; none when it has another type.
QStringList locationsIn(const QVariant& value) {
    QVariant inner = value;
    if (inner.userType() == qMetaTypeId<QDBusVariant>())
        inner = inner.value<QDBusVariant>().variant();
    if (inner.userType() != qMetaTypeId<QDBusArgument>())
        return {};
    const QDBusArgument argument = inner.value<QDBusArgument>();
    if (argument.currentSignature() != QLatin1String("a{sas}"))
        return {};
    QStringList all;
    argument.beginMap();
    while (!argument.atEnd()) {
        QString window;
        QStringList uris;
        argument.beginMapEntry();
        argument >> window >> uris;
        argument.endMapEntry();
        all += uris;
    }
    argument.endMap();
    return all;
}

} // namespace

FileManagerWindows::FileManagerWindows(QObject* parent)
    : FileManagerWindows(SessionBus::connectionIfAny(), parent) {}

FileManagerWindows::FileManagerWindows(const QDBusConnection& bus, QObject* parent)
    : QObject(parent)
    , _bus(bus) {
    if (!_bus.isConnected()) {
        _state = State::Unavailable;
        return;
    }
    // A file manager started or quit later is followed too.
    auto* owner = new QDBusServiceWatcher(kService, _bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(owner, &QDBusServiceWatcher::serviceOwnerChanged, this, &FileManagerWindows::read);
    _bus.connect(kService, kPath, kPropertiesInterface, QStringLiteral("PropertiesChanged"), this,
                 SLOT(propertiesChanged(QString, QVariantMap, QStringList)));
    read();
}

std::optional<bool> FileManagerWindows::showsFolder(const QString& folderPath) const {
    if (_state == State::Unavailable)
        return std::nullopt;
    return std::any_of(_locations.begin(), _locations.end(),
                       [&](const QString& uri) { return isInside(uri, folderPath); });
}

bool FileManagerWindows::isInside(const QString& uri, const QString& folderPath) {
    const QUrl url(uri);
    if (!url.isLocalFile() || folderPath.isEmpty())
        return false;
    const QString shown = QDir::cleanPath(url.toLocalFile());
    QString folder = QDir::cleanPath(folderPath);
    if (shown == folder)
        return true;
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return shown.startsWith(folder);
}

void FileManagerWindows::read() {
    const unsigned generation = ++_generation;
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kPropertiesInterface, QStringLiteral("Get"));
    call << kInterface << kProperty;
    // Starting the file manager only to learn that it shows nothing would leave it running for nothing.
    call.setAutoStartService(false);
    ask(call, generation, [this, generation](const QDBusMessage& reply) {
        const QString error = reply.errorName();
        if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty())
            setState(State::Known, locationsIn(reply.arguments().constFirst()));
        else if (error == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
                 error == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner"))
            readActivatable(generation);
        else
            setState(State::Unavailable); // a file manager that does not publish its windows' folders
    });
}

void FileManagerWindows::readActivatable(unsigned generation) {
    const QDBusMessage call =
        QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                       QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ListActivatableNames"));
    ask(call, generation, [this](const QDBusMessage& reply) {
        const bool activatable = reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
                                 reply.arguments().constFirst().toStringList().contains(kService);
        // One that can be started but is not running has no window open.
        setState(activatable ? State::Known : State::Unavailable);
    });
}

void FileManagerWindows::ask(const QDBusMessage& call, unsigned generation,
                             std::function<void(const QDBusMessage&)> answered) {
    auto* watcher = new QDBusPendingCallWatcher(_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, watcher, generation, answered = std::move(answered)] {
                watcher->deleteLater();
                if (generation == _generation)
                    answered(watcher->reply());
            });
}

void FileManagerWindows::propertiesChanged(const QString& interfaceName, const QVariantMap& changedProperties,
                                           const QStringList& invalidated) {
    if (interfaceName != kInterface)
        return;
    if (changedProperties.contains(kProperty))
        setState(State::Known, locationsIn(changedProperties.value(kProperty)));
    else if (invalidated.contains(kProperty))
        read();
}

void FileManagerWindows::setState(State state, const QStringList& locations) {
    _state = state;
    _locations = locations;
    emit changed();
}
