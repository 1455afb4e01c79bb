#pragma once

#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <exception>

// The exception type of this program. It records the return addresses of the stack where it was made
// (under "NSStackTraceKey" in its user information, as hexadecimal text), so that a guard far away can
// still log where it came from.
class DVException : public std::exception {
public:
    DVException(QString name, QString reason, QVariantMap userInfo = {});

    const QString& name() const { return _name; }
    const QString& reason() const { return _reason; }
    const QVariantMap& userInfo() const { return _userInfo; }
    QString description() const { return _reason; }
    const char* what() const noexcept override { return _what.constData(); }

    // The symbolised trace, "No stack trace found" without recorded frames, or the raw addresses with an
    // error text when the symbol tool is missing. Never throws.
    QString backtrace() const;

    // Symbolises a raw trace (white-space separated addresses of this process) with the symbol tool.
    static QString prettyBacktrace(const QString& rawTrace);

    // The symbol tool; tests point it elsewhere.
    static QString symbolToolPath();
    static void setSymbolToolPath(const QString& path);

    // Turns the symbol tool's "symbol (in module) (file:line)" lines into right-aligned location columns.
    static QString formatSymbolLines(const QString& toolOutput);

private:
    QString _name;
    QString _reason;
    QVariantMap _userInfo;
    QByteArray _what;
};
