#pragma once

#include "ClientSettings.h"

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

    // The longest replies kept in memory; a longer one fails its step. A ticket is a few dozen bytes and
    // a failure text a line; an account is one small object; a document record is about a hundred bytes,
    // so the list limit leaves room for 100,000 documents with long names (some 670 bytes each).
    static constexpr qint64 MaxLoginReplySize = 64 * 1024;
    static constexpr qint64 MaxAccountReplySize = 1024 * 1024;
    static constexpr qint64 MaxDocumentListSize = 64 * 1024 * 1024;
    static constexpr qint64 MaxTextReplySize = 64 * 1024; // the replies only examined for a failure
    // The longest ticket believed, in bytes.
    static constexpr qsizetype MaxTicketSize = 512;

    // The text standing for an absent value in a URL or body.
    static QString nullText() { return QStringLiteral("(null)"); }

    // The failure prefix, through the application's string table.
    static QString exceptionPrefix();

    // A setting as text for a URL: "(null)" when absent.
    static QString settingText(ClientSettings::Key key);

    // Base64 of the UTF-8 bytes of "<user>:<password>", absent parts as "(null)"; not percent-escaped.
    static QString authValue(const QString& user, const QString& password);

    // The ticket goes into every URL below as a query value (ticketQueryValue()).
    static QString loginURL(const QString& base, const QString& auth);
    // The rest of the URL is percent-encoded as a whole with the query-allowed characters.
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
    // A ticket as a query value: letters, digits, "-._~" and "!$'()*,:@/?" as they are, everything else
    // (among them "&", "+", "=", "#", ";", "%", blanks and non-ASCII) as "%" and two hex digits per byte.
    static QString ticketQueryValue(const QString& ticket);

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
    // The ticket in a login reply: the body less its last three bytes, as UTF-8. None when the rest is
    // empty, longer than MaxTicketSize, not valid UTF-8, or holds a blank, a control or format character
    // or one of the markup and JSON delimiters <>"{}: such a reply is not a session ticket, whatever the
    // service meant.
    static std::optional<QString> ticketFromLoginReply(const QByteArray& body);
    static bool isSuccessStatus(int httpStatus) { return httpStatus >= 200 && httpStatus <= 299; }

    // The parts of a failure text split at every ":": the first (the exception class) and the second
    // (the message); null when there are fewer than two parts, or no text.
    static QString exceptionPart(const QString& text);
    static QString messagePart(const QString& text);
};
