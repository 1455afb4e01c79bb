#include "ClientSettings.h"

#include "Bundle.h"
#include "DVExceptionGuard.h"
#include "DVPasswordCipher.h"
#include "UserDefaults.h"

#include <QDir>

const char* const ClientSettings::kOlderDomain = "com.docuvane.Docuvane_Fetch";

namespace {

QString rawName(ClientSettings::Key key) {
    using Key = ClientSettings::Key;
    switch (key) {
    case Key::FetchFolderPath:
        return QStringLiteral("dropboxFolderPath");
    case Key::AddToLoginItems:
        return QStringLiteral("addToLoginItems");
    case Key::LastEventId:
        return QStringLiteral("lastEventIdKey");
    case Key::Notifications:
        return QStringLiteral("useGrowlNotifications");
    case Key::BlackAndWhiteIcons:
        return QStringLiteral("useBlackAndWhiteMenuBarIcons");
    case Key::AutomaticUpdateChecks:
        return QStringLiteral("SUEnableAutomaticChecks");
    case Key::ServerURL:
        return QStringLiteral("DocuvaneServerURL");
    case Key::FolderCheckInterval:
        return QStringLiteral("DVFFolderCheckInterval");
    case Key::Email:
        return QStringLiteral("email");
    case Key::Password:
        return QStringLiteral("password");
    case Key::Ticket:
        return QStringLiteral("ticket");
    case Key::OpenFetchFolder:
        return QStringLiteral("openDropbox");
    case Key::Debug:
        return QStringLiteral("Debug");
    }
    return QString();
}

} // namespace

ClientSettings::ClientSettings(UserDefaults& store, const Bundle& bundle, QObject* parent)
    : QObject(parent)
    , _store(store)
    , _bundle(bundle) {}

ClientSettings& ClientSettings::shared() {
    static ClientSettings settings(UserDefaults::standardUserDefaults(), Bundle::mainBundle());
    return settings;
}

QString ClientSettings::storedName(Key key) const {
    // The updater and the logger read these two under their own names.
    if (key == Key::AutomaticUpdateChecks || key == Key::Debug)
        return rawName(key);
    return _bundle.localizedString(rawName(key));
}

QVariant ClientSettings::value(Key key) const {
    return _store.valueForKey(storedName(key));
}

void ClientSettings::setValue(Key key, const QVariant& value) {
    _store.setValue(value, storedName(key));
    emit changed(key);
}

QString ClientSettings::fetchFolderPath() const {
    return value(Key::FetchFolderPath).toString();
}

void ClientSettings::setFetchFolderPath(const QString& path) {
    setValue(Key::FetchFolderPath, path);
}

bool ClientSettings::addToLoginItems() const {
    return _store.integerForKey(storedName(Key::AddToLoginItems)) != 0;
}

void ClientSettings::setAddToLoginItems(bool on) {
    _store.setInteger(on ? 1 : 0, storedName(Key::AddToLoginItems));
    emit changed(Key::AddToLoginItems);
}

qint64 ClientSettings::lastEventId() const {
    return _store.integerForKey(storedName(Key::LastEventId));
}

void ClientSettings::setLastEventId(qint64 eventId) {
    _store.setInteger(eventId, storedName(Key::LastEventId));
    emit changed(Key::LastEventId);
}

bool ClientSettings::notifications() const {
    return _store.integerForKey(storedName(Key::Notifications)) != 0;
}

bool ClientSettings::blackAndWhiteIcons() const {
    return _store.boolForKey(storedName(Key::BlackAndWhiteIcons));
}

void ClientSettings::setBlackAndWhiteIcons(bool on) {
    _store.setBool(on, storedName(Key::BlackAndWhiteIcons));
    emit changed(Key::BlackAndWhiteIcons);
}

QString ClientSettings::serverURL() const {
    return value(Key::ServerURL).toString();
}

void ClientSettings::setServerURL(const QString& url) {
    setValue(Key::ServerURL, url);
}

QVariant ClientSettings::folderCheckInterval() const {
    return value(Key::FolderCheckInterval);
}

QString ClientSettings::email() const {
    return value(Key::Email).toString();
}

void ClientSettings::setEmail(const QString& email) {
    setValue(Key::Email, email);
}

QString ClientSettings::password() const {
    return decryptPassword(value(Key::Password).toByteArray());
}

void ClientSettings::setPassword(const QString& password) {
    setValue(Key::Password, encryptPassword(password));
}

QString ClientSettings::ticket() const {
    return value(Key::Ticket).toString();
}

void ClientSettings::setTicket(const QString& ticket) {
    setValue(Key::Ticket, ticket);
}

bool ClientSettings::openFetchFolderAfterSetup() const {
    return _store.integerForKey(storedName(Key::OpenFetchFolder)) == 1;
}

void ClientSettings::setIntegerIfAbsent(Key key, qint64 value) {
    if (contains(key))
        return;
    _store.setInteger(value, storedName(key));
    emit changed(key);
}

void ClientSettings::copyInfoValueIfAbsent(Key key) {
    if (contains(key))
        return;
    const QVariant value = _bundle.objectForInfoDictionaryKey(storedName(key));
    if (value.isValid())
        setValue(key, value);
}

void ClientSettings::setUserDefaults() {
    dvGuard("AppController", "setUserDefaults", [&] {
        if (!contains(Key::FetchFolderPath)) {
            const QString folderName = _bundle.localizedString(QStringLiteral("Docuvane Fetch"));
            setFetchFolderPath(QDir::homePath() + QStringLiteral("/Desktop/") + folderName);
        }
        setIntegerIfAbsent(Key::AddToLoginItems, 1);
        setIntegerIfAbsent(Key::LastEventId, 0);
        setIntegerIfAbsent(Key::Notifications, 1);
        if (!contains(Key::BlackAndWhiteIcons))
            setBlackAndWhiteIcons(true);
        setIntegerIfAbsent(Key::AutomaticUpdateChecks, 1);
        copyInfoValueIfAbsent(Key::ServerURL);
        copyInfoValueIfAbsent(Key::FolderCheckInterval);
        _store.synchronize();
    });
}

void ClientSettings::migrateOlderDomain() {
    const QString older = QString::fromLatin1(kOlderDomain);
    const std::optional<QVariantMap> content = _store.persistentDomainForName(older);
    if (!content)
        return;
    _store.setPersistentDomain(*content, _store.domainName());
    _store.removePersistentDomainForName(older);
    _store.synchronize();
}
