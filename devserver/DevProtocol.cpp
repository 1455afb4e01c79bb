#include "DevProtocol.h"

#include <QRegularExpression>

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

const QString& DevProtocol::exceptionPackage() {
    static const QString package = QStringLiteral("com.docuvane.common.exception.");
    return package;
}

QString DevProtocol::ticketExpiredException() {
    return exceptionPackage() + QStringLiteral("TicketExpiredException");
}

QString DevProtocol::notDesktopException() {
    return exceptionPackage() + QStringLiteral("NotDesktopException");
}

QString DevProtocol::invalidCredentialsException() {
    return exceptionPackage() + QStringLiteral("InvalidCredentialsException");
}

QString DevProtocol::documentNotFoundException() {
    return exceptionPackage() + QStringLiteral("DocumentNotFoundException");
}

QString DevProtocol::unexpectedException() {
    return exceptionPackage() + QStringLiteral("UnexpectedException");
}

const QStringList& DevProtocol::operations() {
    static const QStringList names{QStringLiteral("userlogin"),       QStringLiteral("accountinfo"),
                                   QStringLiteral("docstotransfer"),  QStringLiteral("download"),
                                   QStringLiteral("docstransferred"), QStringLiteral("userlogout"),
                                   QStringLiteral("dstseterror")};
    return names;
}

QByteArray DevProtocol::exceptionReply(const QString& exceptionClass, const QString& message) {
    QString text = message;
    text.replace(QLatin1Char(':'), QLatin1Char(' '));
    return (exceptionClass + QLatin1Char(':') + text).toUtf8();
}

QByteArray DevProtocol::percentDecode(const QByteArray& text) {
    if (!text.contains('%'))
        return text;
    QByteArray decoded;
    decoded.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 && hexValue(text[i + 2]) >= 0) {
            decoded.append(static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2])));
            i += 2;
        } else {
            decoded.append(text[i]);
        }
    }
    return decoded;
}

QList<QPair<QByteArray, QByteArray>> DevProtocol::parseQuery(const QByteArray& query) {
    QList<QPair<QByteArray, QByteArray>> pairs;
    for (const QByteArray& piece : query.split('&')) {
        if (piece.isEmpty())
            continue;
        const qsizetype equals = piece.indexOf('=');
        if (equals < 0)
            pairs.append({percentDecode(piece), QByteArray()});
        else
            pairs.append({percentDecode(piece.left(equals)), percentDecode(piece.mid(equals + 1))});
    }
    return pairs;
}

std::optional<QByteArray> DevProtocol::queryValue(const QList<QPair<QByteArray, QByteArray>>& pairs,
                                                  const QByteArray& name) {
    for (const auto& pair : pairs) {
        if (pair.first == name)
            return pair.second;
    }
    return std::nullopt;
}

std::optional<QByteArray> DevProtocol::decodeAuth(const QByteArray& auth) {
    // A form decoder on the way may have turned the Base64 "+" into a blank.
    QByteArray base64 = auth;
    base64.replace(' ', '+');
    if (base64.isEmpty())
        return std::nullopt;
    const auto result = QByteArray::fromBase64Encoding(base64, QByteArray::AbortOnBase64DecodingErrors);
    if (!result)
        return std::nullopt;
    return *result;
}

std::optional<QList<qint64>> DevProtocol::parseDocumentIds(const QByteArray& body) {
    const std::optional<QByteArray> data = queryValue(parseQuery(body), QByteArrayLiteral("flexdownloaddata"));
    if (!data)
        return std::nullopt;
    static const QRegularExpression form(
        QStringLiteral(R"(^\s*<request>\s*<ids>((?:\s*<id>\s*[0-9]+\s*</id>)+)\s*</ids>\s*</request>\s*$)"));
    const QRegularExpressionMatch match = form.match(QString::fromUtf8(*data));
    if (!match.hasMatch())
        return std::nullopt;
    static const QRegularExpression idElement(QStringLiteral(R"(<id>\s*([0-9]+)\s*</id>)"));
    QList<qint64> ids;
    auto elements = idElement.globalMatch(match.captured(1));
    while (elements.hasNext()) {
        bool ok = false;
        const qint64 id = elements.next().captured(1).toLongLong(&ok);
        if (!ok || id <= 0)
            return std::nullopt;
        ids.append(id);
    }
    return ids;
}

QString DevProtocol::htmlEscaped(const QString& text) {
    return text.toHtmlEscaped();
}
