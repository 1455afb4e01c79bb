#pragma once

#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <optional>

class DomainStore;

// The per-user settings store: one persistent domain per XML property-list file in
// $XDG_CONFIG_HOME/<vendor folder of the product> (folder 0700, files 0600). Every change is written at
// once, atomically, under an advisory lock on the folder so that other processes (a settings tool, a second
// instance) never lose each other's writes. A file changed by another process is read again at the next access.
// All operations are safe from any thread.
class UserDefaults {
public:
    // A store for one domain; the folder defaults to the user's settings folder.
    explicit UserDefaults(const QString& domainName, const QString& directory = QString());

    // The product's own domain (ProductIdentity), in the user's settings folder.
    static UserDefaults& standardUserDefaults();
    static QString standardDomainName();

    // $XDG_CONFIG_HOME/<vendor folder>, or $HOME/.config/<vendor folder> when XDG_CONFIG_HOME is unset or
    // relative.
    static QString defaultDirectory();

    QString domainName() const { return _domainName; }
    QString directory() const { return _directory; }
    QString filePath() const;
    static QString filePathForDomain(const QString& directory, const QString& domainName);

    // An invalid QVariant when the key is absent.
    QVariant valueForKey(const QString& key) const;
    // An invalid value removes the key. A value a property list cannot hold is ignored.
    void setValue(const QVariant& value, const QString& key);
    void removeObjectForKey(const QString& key) { setValue(QVariant(), key); }

    // Numbers, booleans and numeric strings convert as the settings store always did; anything else is 0.
    qint64 integerForKey(const QString& key) const;
    void setInteger(qint64 value, const QString& key);
    // True for a non-zero number or a string starting with Y, y, T, t or a non-zero digit.
    bool boolForKey(const QString& key) const;
    void setBool(bool value, const QString& key);

    // Other domains in the same folder. A domain that has no file is absent.
    std::optional<QVariantMap> persistentDomainForName(const QString& domainName) const;
    void setPersistentDomain(const QVariantMap& domain, const QString& domainName);
    void removePersistentDomainForName(const QString& domainName);

    // Changes are on disk as soon as they are made; this reports whether the last write succeeded.
    bool synchronize();

    // Where damaged files and failed writes are reported. The default writes to standard error; the
    // client routes these reports into its log once the log file is named.
    using DiagnosticHandler = std::function<void(const QString& message)>;
    static void setDiagnosticHandler(DiagnosticHandler handler);

private:
    std::shared_ptr<DomainStore> store(const QString& domainName) const;

    QString _domainName;
    QString _directory;
    std::shared_ptr<DomainStore> _store;
};
