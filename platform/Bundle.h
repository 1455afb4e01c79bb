#pragma once

#include <QHash>
#include <QString>
#include <QVariant>
#include <QVariantMap>

// An application bundle laid out as "X.app/Contents/{MacOS/<executable>, Info.plist, Resources/…}".
// The main bundle is the one whose MacOS folder holds the running executable; a program started from
// outside a bundle (a development tool, a test) has a main bundle without information or strings.
class Bundle {
public:
    explicit Bundle(const QString& bundlePath);

    static const Bundle& mainBundle();
    // The bundle that holds an executable: two folders above the executable's folder.
    static QString bundlePathForExecutable(const QString& executablePath);

    QString bundlePath() const { return _bundlePath; }
    QString contentsPath() const { return _bundlePath + QStringLiteral("/Contents"); }
    QString resourcePath() const { return contentsPath() + QStringLiteral("/Resources"); }
    QString executableFolderPath() const { return contentsPath() + QStringLiteral("/MacOS"); }

    QVariantMap infoDictionary() const { return _info; }
    // An invalid QVariant when the key is absent; values keep their stored type.
    QVariant objectForInfoDictionaryKey(const QString& key) const { return _info.value(key); }

    // The string table's text for a key, or the key itself when the table has none.
    QString localizedString(const QString& key) const;

    // Parses the text of a ".strings" table ("key" = "value"; with C comments). Malformed entries end it.
    static QHash<QString, QString> parseStringsTable(const QString& text);

private:
    QString _bundlePath;
    QVariantMap _info;
    QHash<QString, QString> _strings;
};
