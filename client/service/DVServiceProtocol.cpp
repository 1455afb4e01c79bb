#include "DVServiceProtocol.h"

#include "DVPasswordCipher.h"
#include "DVStringTable.h"

#include <QLocale>
#include <QStringDecoder>
#include <QStringList>
#include <QUrl>

#include <cmath>

namespace {

const QString kEndpoint = QStringLiteral("/dvapi/dvapi");

QString orNull(const QString& text) {
    return text.isNull() ? DVServiceProtocol::nullText() : text;
}

// The three-piece form "<base><fixed text>=<value>" of the ticket-carrying requests.
QString threePiece(const QString& base, const QString& fixed, const QString& value) {
    return base + fixed + QLatin1Char('=') + value;
}

QStringList colonParts(const QString& text) {
    if (text.isNull())
        return {};
    return text.split(QLatin1Char(':'));
}

} // namespace

QString DVServiceProtocol::exceptionPrefix() {
    return DVKey(QStringLiteral("com.docuvane.common.exception"));
}

QString DVServiceProtocol::settingText(ClientSettings::Key key) {
    const QVariant value = ClientSettings::shared().value(key);
    if (!value.isValid() || value.isNull())
        return nullText();
    return value.toString();
}

QString DVServiceProtocol::authValue(const QString& user, const QString& password) {
    return encodeBase64String(orNull(user) + QLatin1Char(':') + orNull(password));
}

QString DVServiceProtocol::loginURL(const QString& base, const QString& auth) {
    return base + kEndpoint + QStringLiteral("?op=userlogin&auth=") + orNull(auth);
}

QString DVServiceProtocol::accountInfoURL(const QString& base, const QString& ticket) {
    return percentEncodedForQuery(base + kEndpoint + QStringLiteral("?op=accountinfo&json=true&ticket=")) +
           ticketQueryValue(ticket);
}

QString DVServiceProtocol::logoutURL(const QString& base, const QString& ticket) {
    return base + kEndpoint + QStringLiteral("?op=userlogout&ticket=") + ticketQueryValue(ticket);
}

QString DVServiceProtocol::setErrorURL(const QString& base) {
    return threePiece(base, kEndpoint + QStringLiteral("?op=dstseterror&error"), QStringLiteral("unkn"));
}

QString DVServiceProtocol::documentsToTransferURL(const QString& base, const QString& ticket) {
    return threePiece(base, kEndpoint + QStringLiteral("?op=docstotransfer&json=true&ticket"),
                      ticketQueryValue(ticket));
}

QString DVServiceProtocol::downloadURL(const QString& base, const QString& ticket) {
    return threePiece(base, kEndpoint + QStringLiteral("?op=download&ticket"), ticketQueryValue(ticket));
}

QString DVServiceProtocol::documentTransferredURL(const QString& base, const QString& ticket) {
    return threePiece(base, kEndpoint + QStringLiteral("?op=docstransferred&json=true&ticket"),
                      ticketQueryValue(ticket));
}

QString DVServiceProtocol::documentRequestBody(const QString& idText) {
    return QStringLiteral("flexdownloaddata=<request><ids><id>") + orNull(idText) +
           QStringLiteral("</id></ids></request>");
}

QString DVServiceProtocol::percentEncodedForQuery(const QString& text) {
    // QUrl leaves the unreserved characters alone; the rest of the query set is named here.
    return QString::fromLatin1(QUrl::toPercentEncoding(text, QByteArrayLiteral("!$&'()*+,;=:@/?")));
}

QString DVServiceProtocol::ticketQueryValue(const QString& ticket) {
    // What separates or ends a query value ("&", "=", ";", "#"), what a form decoder changes ("+", "%")
    // and what a URL cannot carry are escaped; a ticket of letters and digits is left as it is.
    return QString::fromLatin1(QUrl::toPercentEncoding(ticket, QByteArrayLiteral("!$'()*,:@/?")));
}

std::optional<QString> DVServiceProtocol::documentIdText(const QVariant& id) {
    switch (id.typeId()) {
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::Short:
        return QString::number(id.toLongLong());
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
    case QMetaType::UShort:
        return QString::number(id.toULongLong());
    case QMetaType::Double:
    case QMetaType::Float: {
        const double value = id.toDouble();
        if (!std::isfinite(value))
            return std::nullopt;
        // Whole numbers as the service wrote them; anything else in its shortest exact form.
        if (value == std::trunc(value) && std::fabs(value) < 9.0e15)
            return QString::number(static_cast<qint64>(value));
        return QString::number(value, 'g', QLocale::FloatingPointShortest);
    }
    default:
        return std::nullopt;
    }
}

bool DVServiceProtocol::isSafeDocumentPath(const QString& path) {
    if (path.startsWith(QLatin1Char('/')) || path.contains(QChar(0)))
        return false;
    const QStringList components = path.split(QLatin1Char('/'));
    return !components.contains(QStringLiteral(".."));
}

bool DVServiceProtocol::isSafeDocumentFileName(const QString& fileName) {
    return !fileName.isEmpty() && fileName != QStringLiteral(".") && fileName != QStringLiteral("..") &&
           !fileName.contains(QLatin1Char('/')) && !fileName.contains(QChar(0));
}

QString DVServiceProtocol::decodeUTF8(QByteArrayView bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return QString();
    if (text.isNull())
        text = QString(QLatin1String("")); // valid and empty is not "no text"
    return text;
}

QString DVServiceProtocol::replyText(const std::optional<QByteArray>& body) {
    if (!body)
        return QString(QLatin1String(""));
    return decodeUTF8(*body);
}

std::optional<QString> DVServiceProtocol::ticketFromLoginReply(const QByteArray& body) {
    if (body.size() <= 3 || body.size() - 3 > MaxTicketSize)
        return std::nullopt;
    const QString ticket = decodeUTF8(QByteArrayView(body).first(body.size() - 3));
    if (ticket.isNull())
        return std::nullopt;
    for (const QChar c : ticket) {
        if (c.isSpace() || c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            return std::nullopt;
        // Markup or JSON (a page, a proxy's notice) is never a ticket, even without a blank in it.
        if (QStringView(u"<>\"{}").contains(c))
            return std::nullopt;
    }
    return ticket;
}

QString DVServiceProtocol::exceptionPart(const QString& text) {
    const QStringList parts = colonParts(text);
    return parts.size() < 2 ? QString() : parts.at(0);
}

QString DVServiceProtocol::messagePart(const QString& text) {
    const QStringList parts = colonParts(text);
    return parts.size() < 2 ? QString() : parts.at(1);
}
