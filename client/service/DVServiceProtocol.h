#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QVariant>

#include <optional>

// The document service's request forms and reply conventions: one endpoint "/dvapi/dvapi" under the
// base URL with the operation in the query parameter "op", GET or form POST, and failures answered as
// the text "<exception class>:<message>" with a class name under "com.docuvane.common.exception".
// Everything here is a pure function of its arguments, apart from the string-table and settings lookups
// named as such.
class DVServiceProtocol {
public:
    // How many leading bytes of a downloaded document are examined for a failure text.
    static constexpr qsizetype FailureWindow = 1000;

    // The text standing for an absent value in a URL or body.
    static QString nullText() { return QStringLiteral("(null)"); }

    // The failure prefix, through the application's string table.
    static QString exceptionPrefix();

    // A setting (its name passed through the string table) as text for a URL: "(null)" when absent.
    static QString settingText(const QString& name);

    // Base64 of the UTF-8 bytes of "<user>:<password>", absent parts as "(null)"; not percent-escaped.
    static QString authValue(const QString& user, const QString& password);

    static QString loginURL(const QString& base, const QString& auth);
    // Built, then percent-encoded as a whole with the query-allowed characters.
    static QString accountInfoURL(const QString& base, const QString& ticket);
    static QString logoutURL(const QString& base, const QString& ticket);
    static QString setErrorURL(const QString& base);
    static QString documentsToTransferURL(const QString& base, const QString& ticket);
    static QString downloadURL(const QString& base, const QString& ticket);
    static QString documentTransferredURL(const QString& base, const QString& ticket);
    // The form body of the download and transferred requests, for one document.
    static QString documentRequestBody(const QString& idText);

    // Every character outside the URL query set (unreserved characters, sub-delimiters, ":", "@", "/"
    // and "?") as "%" and two upper-case hex digits per UTF-8 byte; "%" itself is escaped too.
    static QString percentEncodedForQuery(const QString& text);

    // The decimal text of a document's "id" when it is a number (not a boolean); none otherwise.
    static std::optional<QString> documentIdText(const QVariant& id);
    // A document's "path" may name the fetch folder itself ("") or folders inside it: no absolute path,
    // no ".." component, no NUL.
    static bool isSafeDocumentPath(const QString& path);
    // A document's "filename" is one plain name: not empty, ".", "..", and without "/" or NUL.
    static bool isSafeDocumentFileName(const QString& fileName);

    // Bytes as UTF-8 text; a null QString when they are not valid UTF-8.
    static QString decodeUTF8(QByteArrayView bytes);
    // A reply body as text: the empty text when there is no body, null when it is not valid UTF-8.
    static QString replyText(const std::optional<QByteArray>& body);
    // The ticket in a login reply: the body less its last three bytes, as UTF-8. None when the body is
    // shorter than three bytes or the rest is not valid UTF-8.
    static std::optional<QString> ticketFromLoginReply(const QByteArray& body);

    // The parts of a failure text split at every ":": the first (the exception class) and the second
    // (the message); null when there are fewer than two parts, or no text.
    static QString exceptionPart(const QString& text);
    static QString messagePart(const QString& text);
};
