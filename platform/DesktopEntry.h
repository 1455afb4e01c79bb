#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

// The parts of the freedesktop.org Desktop Entry format that login items need: reading the
// [Desktop Entry] group, and the two layers of escaping an Exec value carries (the string escapes of
// every value, then the quoting of each argument).
class DesktopEntry {
public:
    // The keys of the [Desktop Entry] group with their values unescaped. Other groups, comments and
    // malformed lines are passed over; the first of repeated keys counts.
    static QHash<QString, QString> parse(const QByteArray& text);

    // A value's string escapes: "\\", "\n", "\t", "\r" (and "\s" when reading).
    static QString escapeValue(const QString& value);
    static QString unescapeValue(const QString& value);

    // One Exec argument, always quoted: double quotes around it, '"', '`', '$' and '\' escaped with a
    // backslash, '%' doubled. The result is an unescaped value; escapeValue makes it a file's text.
    static QString quoteExecArgument(const QString& argument);
    // The arguments of an unescaped Exec value, quotes and escapes removed, "%%" read as '%' and field
    // codes (%f, %U, …) dropped.
    static QStringList execArguments(const QString& exec);
};
