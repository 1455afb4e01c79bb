#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <optional>

// The wire forms of the document service: query strings, the auth value, the document-id body and the
// failure text the client recognises ("<exception class>:<message>").
class DevProtocol {
public:
    static const QString& exceptionPackage();
    static QString ticketExpiredException();
    static QString notDesktopException();
    static QString invalidCredentialsException();
    static QString documentNotFoundException();
    static QString unexpectedException();

    // The seven operations, in the order the service lists them.
    static const QStringList& operations();

    // "<exception class>:<message>". Only the text before the first colon names the class and only the text
    // between the first and second colon reaches the user, so colons in the message are replaced.
    static QByteArray exceptionReply(const QString& exceptionClass, const QString& message);

    // Percent escapes decoded, "+" kept: the auth value travels as raw Base64, whose "+" must survive.
    static QByteArray percentDecode(const QByteArray& text);

    // "a=1&b=2" into its pairs, in order; values percent-decoded; a name without "=" gets an empty value.
    static QList<QPair<QByteArray, QByteArray>> parseQuery(const QByteArray& query);
    // The first value of a name, none when the name is absent.
    static std::optional<QByteArray> queryValue(const QList<QPair<QByteArray, QByteArray>>& pairs,
                                                const QByteArray& name);

    // The "user:password" text of a login's auth value, none when the value is not Base64.
    static std::optional<QByteArray> decodeAuth(const QByteArray& auth);

    // The document ids of a "flexdownloaddata=<request><ids><id>N</id>…</ids></request>" body (raw or
    // percent-encoded), none when the body is not of that form or an id is not a positive number.
    static std::optional<QList<qint64>> parseDocumentIds(const QByteArray& body);

    // Text made safe for HTML element content and attribute values.
    static QString htmlEscaped(const QString& text);
};
