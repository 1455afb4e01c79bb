#pragma once

#include <QObject>
#include <QString>
#include <QVariant>

class Bundle;
class UserDefaults;

// The client's settings, one accessor pair per key, over the settings store. Each key's stored name passes
// through the bundle's string table (a private build may rename it) except the two the updater and the
// logger read as written. Writing through this class tells `changed`, so that windows and the tray follow
// values whatever wrote them; values written behind its back (another process, the updater) are read at
// the next access but not announced.
//
// Safe from any thread, as the store is; `changed` is emitted on the writing thread.
class ClientSettings : public QObject {
    Q_OBJECT

public:
    enum class Key {
        FetchFolderPath,       // "dropboxFolderPath": text
        AddToLoginItems,       // "addToLoginItems": 1 or 0
        LastEventId,           // "lastEventIdKey": the folder watcher's last event
        Notifications,         // "useGrowlNotifications": 1 or 0
        BlackAndWhiteIcons,    // "useBlackAndWhiteMenuBarIcons": a boolean
        AutomaticUpdateChecks, // "SUEnableAutomaticChecks", as written: 1 or 0
        ServerURL,             // "DocuvaneServerURL": copied from the information dictionary
        FolderCheckInterval,   // "DVFFolderCheckInterval": seconds, copied from the information dictionary
        Email,                 // "email"
        Password,              // "password": enciphered data
        Ticket,                // "ticket": the service's session
        OpenFetchFolder,       // "openDropbox": 1 opens the folder when setup completes
        Debug,                 // "Debug", as written: the logger's level
    };
    Q_ENUM(Key)

    ClientSettings(UserDefaults& store, const Bundle& bundle, QObject* parent = nullptr);

    // The standard store and the main bundle.
    static ClientSettings& shared();

    // The name a key is stored under.
    QString storedName(Key key) const;

    // Key-first access to any key: an invalid value is absent, and writing one removes the key.
    QVariant value(Key key) const;
    void setValue(Key key, const QVariant& value);
    bool contains(Key key) const { return value(key).isValid(); }

    QString fetchFolderPath() const;
    void setFetchFolderPath(const QString& path);
    bool addToLoginItems() const;
    void setAddToLoginItems(bool on);
    qint64 lastEventId() const;
    void setLastEventId(qint64 eventId);
    bool notifications() const;
    bool blackAndWhiteIcons() const;
    void setBlackAndWhiteIcons(bool on);
    QString serverURL() const;
    void setServerURL(const QString& url);
    // The stored value as it is (it may be absent or no number).
    QVariant folderCheckInterval() const;
    QString email() const;
    void setEmail(const QString& email);
    // Deciphered; empty when absent or undecipherable.
    QString password() const;
    void setPassword(const QString& password);
    QString ticket() const;
    void setTicket(const QString& ticket);
    void removeTicket() { setValue(Key::Ticket, QVariant()); }
    bool openFetchFolderAfterSetup() const;

    // Fills in every missing setting with its default (the folder on the desktop, login item and
    // notifications on, black-and-white icons, automatic update checks on; the service address and the
    // folder-check interval from the information dictionary); a present value is never replaced. Logs an
    // escaped exception as AppController:setUserDefaults and stops there.
    void setUserDefaults();

    // Moves the settings of the older domain, when it exists, over the current domain's content and removes
    // it.
    void migrateOlderDomain();
    static const char* const kOlderDomain;

signals:
    void changed(ClientSettings::Key key);

private:
    void setIntegerIfAbsent(Key key, qint64 value);
    void copyInfoValueIfAbsent(Key key);

    UserDefaults& _store;
    const Bundle& _bundle;
};
