#include "DevOperations.h"

#include "DevDocumentStore.h"
#include "DevProtocol.h"
#include "DevServerOptions.h"
#include "DevSessionTable.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

DevReply failure(const QString& exceptionClass, const QString& message) {
    return DevReply::text(DevProtocol::exceptionReply(exceptionClass, message),
                          QStringLiteral("refused: %1").arg(message));
}

DevReply unexpected(const QString& message) {
    return failure(DevProtocol::unexpectedException(), message);
}

QByteArray compact(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

} // namespace

DevOperations::DevOperations(const DevServerOptions& options, DevDocumentStore& store, DevSessionTable& sessions)
    : _options(options)
    , _store(store)
    , _sessions(sessions) {}

QByteArray DevOperations::methodOf(const QString& operation) {
    const bool posted = operation == QLatin1String("download") || operation == QLatin1String("docstransferred");
    return posted ? QByteArrayLiteral("POST") : QByteArrayLiteral("GET");
}

DevReply DevOperations::perform(const QByteArray& method, const Query& query, const QByteArray& body) {
    const std::optional<QByteArray> op = DevProtocol::queryValue(query, QByteArrayLiteral("op"));
    if (!op)
        return unexpected(QStringLiteral("No operation given"));
    const QString operation = QString::fromUtf8(*op);
    if (!DevProtocol::operations().contains(operation))
        return unexpected(QStringLiteral("Unknown operation \"%1\"").arg(operation));
    // A request in another form than the client's is a fault in the client: it is refused, not guessed at.
    if (method != methodOf(operation))
        return unexpected(QStringLiteral("Operation %1 is sent with %2, not %3")
                              .arg(operation, QString::fromLatin1(methodOf(operation)), QString::fromLatin1(method)));

    if (operation == QLatin1String("userlogin"))
        return userlogin(query);
    if (operation == QLatin1String("dstseterror"))
        return dstseterror(query);
    if (operation == QLatin1String("userlogout"))
        return userlogout(query);
    if (std::optional<DevReply> refusal = refuseTicket(query))
        return *refusal;
    if (operation == QLatin1String("accountinfo"))
        return accountinfo();
    if (operation == QLatin1String("docstotransfer"))
        return docstotransfer();
    if (operation == QLatin1String("download"))
        return download(body);
    return docstransferred(body);
}

std::optional<DevReply> DevOperations::refuseTicket(const Query& query) const {
    const std::optional<QByteArray> ticket = DevProtocol::queryValue(query, QByteArrayLiteral("ticket"));
    if (!ticket || ticket->isEmpty())
        return failure(DevProtocol::ticketExpiredException(), QStringLiteral("No session ticket, please sign in"));
    switch (_sessions.check(*ticket)) {
    case DevSessionTable::Status::Valid:
        return std::nullopt;
    case DevSessionTable::Status::Expired:
        return failure(DevProtocol::ticketExpiredException(),
                       QStringLiteral("Your session has expired, please sign in again"));
    case DevSessionTable::Status::Unknown:
        break;
    }
    return failure(DevProtocol::ticketExpiredException(), QStringLiteral("Unknown session ticket, please sign in"));
}

DevReply DevOperations::userlogin(const Query& query) {
    const std::optional<QByteArray> auth = DevProtocol::queryValue(query, QByteArrayLiteral("auth"));
    const std::optional<QByteArray> pair = auth ? DevProtocol::decodeAuth(*auth) : std::nullopt;
    // The pair is compared whole, so a colon inside the user name or the password is no ambiguity.
    if (!pair || *pair != (_options.user + QLatin1Char(':') + _options.password).toUtf8())
        return failure(DevProtocol::invalidCredentialsException(), QStringLiteral("Invalid user name or password"));
    const QByteArray ticket = _sessions.open();
    return DevReply::text(ticket + QByteArrayLiteral("\r\n\n"),
                          QStringLiteral("signed in, ticket %1").arg(QString::fromLatin1(ticket)));
}

DevReply DevOperations::accountinfo() {
    const QJsonObject account{{QStringLiteral("id"), 1},
                              {QStringLiteral("email"), _options.user},
                              {QStringLiteral("destinationId"), _options.destinationId}};
    return DevReply::json(compact(QJsonObject{{QStringLiteral("account"), account}}),
                          QStringLiteral("destinationId %1").arg(_options.destinationId));
}

DevReply DevOperations::docstotransfer() {
    if (_options.destinationId != 2)
        return failure(DevProtocol::notDesktopException(),
                       QStringLiteral("This account does not deliver its documents to Docuvane Fetch"));
    QList<DevDocument> waiting;
    QString problem;
    if (!_store.scan(&waiting, nullptr, &problem))
        return unexpected(problem);
    QJsonArray documents;
    for (const DevDocument& document : waiting) {
        documents.append(QJsonObject{{QStringLiteral("id"), document.id},
                                     {QStringLiteral("filename"), document.filename},
                                     {QStringLiteral("path"), document.path}});
    }
    return DevReply::json(compact(QJsonObject{{QStringLiteral("documents"), documents}}),
                          QStringLiteral("%1 waiting").arg(waiting.size()));
}

DevReply DevOperations::download(const QByteArray& body) {
    const std::optional<QList<qint64>> ids = DevProtocol::parseDocumentIds(body);
    if (!ids || ids->size() != 1)
        return unexpected(QStringLiteral("A download asks for exactly one document id in flexdownloaddata"));
    const qint64 id = ids->first();
    const std::optional<DevDocument> document = _store.document(id);
    auto file = document ? std::make_shared<QFile>(_store.absoluteFilePath(*document)) : nullptr;
    if (!file || !file->open(QIODevice::ReadOnly))
        return failure(DevProtocol::documentNotFoundException(), QStringLiteral("No document with id %1").arg(id));
    DevReply reply;
    reply.contentType = QByteArrayLiteral("application/octet-stream");
    reply.fileSize = file->size();
    reply.file = std::move(file);
    reply.note = QStringLiteral("document %1, %2").arg(id).arg(document->file);
    return reply;
}

DevReply DevOperations::docstransferred(const QByteArray& body) {
    const std::optional<QList<qint64>> ids = DevProtocol::parseDocumentIds(body);
    if (!ids)
        return unexpected(QStringLiteral("A transferred report names its document ids in flexdownloaddata"));
    qint64 unknownId = 0;
    QString problem;
    if (!_store.markTransferred(*ids, &unknownId, &problem)) {
        if (!problem.isEmpty())
            return unexpected(problem);
        return failure(DevProtocol::documentNotFoundException(),
                       QStringLiteral("No document with id %1").arg(unknownId));
    }
    QJsonArray marked;
    QStringList names;
    for (qint64 id : *ids) {
        marked.append(id);
        names.append(QString::number(id));
    }
    return DevReply::json(compact(QJsonObject{{QStringLiteral("transferred"), marked}}),
                          QStringLiteral("transferred: %1").arg(names.join(QStringLiteral(", "))));
}

DevReply DevOperations::userlogout(const Query& query) {
    // Signing out twice, or with a ticket that has run out, leaves the same result: no session.
    const QByteArray ticket = DevProtocol::queryValue(query, QByteArrayLiteral("ticket")).value_or(QByteArray());
    const bool ended = _sessions.close(ticket);
    return DevReply::text(QByteArrayLiteral("OK"),
                          ended ? QStringLiteral("signed out") : QStringLiteral("no valid session to sign out"));
}

DevReply DevOperations::dstseterror(const Query& query) {
    const std::optional<QByteArray> error = DevProtocol::queryValue(query, QByteArrayLiteral("error"));
    if (!error || error->isEmpty())
        return unexpected(QStringLiteral("No error given"));
    return DevReply::text(QByteArrayLiteral("OK"),
                          QStringLiteral("destination error reported: %1").arg(QString::fromUtf8(*error)));
}
