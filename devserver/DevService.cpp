#include "DevService.h"

#include "DevConsoleLog.h"
#include "DevDocumentStore.h"
#include "DevFaultInjector.h"
#include "DevProtocol.h"
#include "DevRequestLog.h"
#include "DevServerOptions.h"
#include "DevSessionTable.h"
#include "DevWebClientPage.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <chrono>

namespace {

const QByteArray kControlPrefix = QByteArrayLiteral("/devserver/");

DevReply problemReply(int status, const QString& problem) {
    DevReply reply = DevReply::text(problem.toUtf8() + '\n', problem);
    reply.status = status;
    return reply;
}

DevReply faultReply(const DevFault& fault) {
    switch (fault.kind) {
    case DevFault::Kind::Http500:
        return DevReply::html(QByteArrayLiteral("<!DOCTYPE html>\n<html><head><title>500 Internal Server Error</title>"
                                                "</head><body><h1>Internal Server Error</h1><p>The server met an "
                                                "unexpected condition.</p></body></html>\n"),
                              500);
    case DevFault::Kind::InvalidUtf8:
        // A lone continuation byte, an overlong form and a cut-off sequence: no decoder accepts these.
        return DevReply::text(QByteArrayLiteral("\x80 reply \xc0\xaf that is not UTF-8 \xe2\x82"));
    case DevFault::Kind::NonJson:
        return DevReply::html(QByteArrayLiteral("<!DOCTYPE html>\n<html><head><title>Maintenance</title></head>"
                                                "<body><p>The service is down for maintenance.</p></body></html>\n"));
    case DevFault::Kind::Exception:
        return DevReply::text(fault.text);
    case DevFault::Kind::Drop:
    case DevFault::Kind::Stall:
    case DevFault::Kind::Truncate:
        break;
    }
    DevReply dropped;
    dropped.delivery = DevReply::Delivery::Drop;
    return dropped;
}

} // namespace

DevService::DevService(const DevServerOptions& options, DevDocumentStore& store, DevSessionTable& sessions,
                       DevFaultInjector& faults, DevRequestLog& requestLog)
    : _options(options)
    , _store(store)
    , _sessions(sessions)
    , _faults(faults)
    , _requestLog(requestLog)
    , _operations(options, store, sessions) {}

DevReply DevService::handle(const DevRequest& request) {
    const quint64 number = ++_requestCount;
    const qsizetype question = request.target.indexOf('?');
    const QByteArray path = DevProtocol::percentDecode(question < 0 ? request.target : request.target.left(question));
    const QByteArray query = question < 0 ? QByteArray() : request.target.mid(question + 1);

    DevConsoleLog::write(QStringLiteral("#%1 %2 %3 from %4")
                             .arg(number)
                             .arg(QString::fromUtf8(request.method), QString::fromUtf8(request.target), request.peer));
    if (!request.body.isEmpty())
        DevConsoleLog::write(
            QStringLiteral("#%1   body: %2").arg(number).arg(QString::fromUtf8(request.body.left(300))));
    // The control endpoint is the test's own voice, not the client's: it stays out of the request log.
    if (!path.startsWith(kControlPrefix))
        _requestLog.record(request.method, request.target, request.body);

    DevReply reply = route(request, path, query, number);

    QString outcome;
    switch (reply.delivery) {
    case DevReply::Delivery::Drop:
        outcome = QStringLiteral("connection dropped");
        break;
    case DevReply::Delivery::Truncate:
        outcome = QStringLiteral("%1 %2, cut off after %3 of %4 bytes")
                      .arg(reply.status)
                      .arg(QString::fromUtf8(reply.contentType))
                      .arg(reply.size() / 2)
                      .arg(reply.size());
        break;
    case DevReply::Delivery::Whole:
        outcome = QStringLiteral("%1 %2, %3 bytes")
                      .arg(reply.status)
                      .arg(QString::fromUtf8(reply.contentType))
                      .arg(reply.size());
        break;
    }
    if (!reply.note.isEmpty())
        outcome += QStringLiteral(" (%1)").arg(reply.note);
    DevConsoleLog::write(QStringLiteral("#%1   -> %2").arg(number).arg(outcome));
    return reply;
}

DevReply DevService::route(const DevRequest& request, const QByteArray& path, const QByteArray& query, quint64 number) {
    if (path == "/dvapi/dvapi")
        return serviceRequest(request, query, number);
    if (path == "/" || path == "/htmlclient" || path == "/htmlclient/" || path == "/htmlclient/index.html")
        return webClient(request, query);
    if (path.startsWith(kControlPrefix))
        return control(request, path);
    if (!_options.appcastVersion.isEmpty() && (path == "/appcast.xml" || path == "/download"))
        return updateFeed(request, path);
    return problemReply(404, QStringLiteral("Not found"));
}

DevReply DevService::serviceRequest(const DevRequest& request, const QByteArray& query, quint64 number) {
    const DevOperations::Query pairs = DevProtocol::parseQuery(query);
    const QString operation =
        QString::fromUtf8(DevProtocol::queryValue(pairs, QByteArrayLiteral("op")).value_or(QByteArray()));
    std::optional<DevFault> fault;
    if (DevProtocol::operations().contains(operation))
        fault = _faults.take(operation);
    if (fault) {
        DevConsoleLog::write(
            QStringLiteral("#%1   fault: %2%3")
                .arg(number)
                .arg(DevFaultInjector::kindName(fault->kind), fault->kind == DevFault::Kind::Stall
                                                                  ? QStringLiteral(" for %1 s").arg(fault->seconds)
                                                                  : QString()));
    }
    if (fault && fault->kind == DevFault::Kind::Stall && !stall(fault->seconds))
        return faultReply(DevFault{operation, DevFault::Kind::Drop, 1, 0, {}});
    if (fault && fault->kind != DevFault::Kind::Stall && fault->kind != DevFault::Kind::Truncate)
        return faultReply(*fault);

    DevReply reply = _operations.perform(request.method, pairs, request.body);
    if (fault && fault->kind == DevFault::Kind::Truncate)
        reply.delivery = DevReply::Delivery::Truncate;
    return reply;
}

DevReply DevService::webClient(const DevRequest& request, const QByteArray& query) {
    if (request.method != "GET")
        return problemReply(405, QStringLiteral("The web client page is read with GET"));
    const QByteArray ticket =
        DevProtocol::queryValue(DevProtocol::parseQuery(query), QByteArrayLiteral("ticket")).value_or(QByteArray());
    switch (ticket.isEmpty() ? DevSessionTable::Status::Unknown : _sessions.check(ticket)) {
    case DevSessionTable::Status::Valid:
        break;
    case DevSessionTable::Status::Expired:
        return DevReply::html(DevWebClientPage::signIn(QStringLiteral("Your session has expired.")));
    case DevSessionTable::Status::Unknown:
        return DevReply::html(DevWebClientPage::signIn(QString()));
    }
    QList<DevDocument> all;
    QString problem;
    if (!_store.scan(nullptr, &all, &problem))
        return problemReply(500, problem);
    return DevReply::html(DevWebClientPage::documents(_options.user, all));
}

DevReply DevService::updateFeed(const DevRequest& request, const QByteArray& path) {
    if (request.method != "GET")
        return problemReply(405, QStringLiteral("The update feed is read with GET"));
    const QByteArray version = _options.appcastVersion.toUtf8(); // checked to hold no markup
    if (path == "/download")
        return DevReply::html("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Docuvane Fetch " + version +
                              "</title></head>\n<body><h1>Docuvane Fetch " + version +
                              "</h1>\n<p>Install it with your package manager.</p></body></html>\n");
    // The link is relative: the client resolves it against the feed's address, which names this server.
    DevReply reply =
        DevReply::text("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                       "<rss version=\"2.0\" xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\">\n"
                       "<channel>\n<title>Docuvane Fetch</title>\n<item>\n<title>Docuvane Fetch " +
                           version + "</title>\n<link>/download</link>\n<sparkle:version>" + version +
                           "</sparkle:version>\n<sparkle:shortVersionString>" + version +
                           "</sparkle:shortVersionString>\n</item>\n</channel>\n</rss>\n",
                       QStringLiteral("update feed"));
    reply.contentType = QByteArrayLiteral("application/rss+xml; charset=UTF-8");
    return reply;
}

DevReply DevService::control(const DevRequest& request, const QByteArray& path) {
    const auto pendingReply = [this] {
        return DevReply::json(
            QJsonDocument(QJsonObject{{QStringLiteral("pending"), _faults.pending()}}).toJson(QJsonDocument::Compact));
    };
    if (path == "/devserver/faults") {
        if (request.method == "GET")
            return pendingReply();
        if (request.method == "DELETE") {
            _faults.clear();
            return pendingReply();
        }
        if (request.method == "POST") {
            QString problem;
            if (!_faults.add(request.body, &problem))
                return problemReply(400, problem);
            return pendingReply();
        }
        return problemReply(405, QStringLiteral("/devserver/faults takes GET, POST or DELETE"));
    }
    if (path == "/devserver/expire-tickets") {
        if (request.method != "POST")
            return problemReply(405, QStringLiteral("/devserver/expire-tickets takes POST"));
        _sessions.expireAll();
        return DevReply::json(QByteArrayLiteral("{\"expired\":true}"), QStringLiteral("every ticket expired"));
    }
    return problemReply(404, QStringLiteral("Not found"));
}

bool DevService::stall(double seconds) {
    std::unique_lock lock(_stallMutex);
    const auto duration = std::chrono::duration<double>(seconds);
    return !_stallEnded.wait_for(lock, duration, [this] { return _stopping.load(); });
}

void DevService::stop() {
    {
        std::lock_guard lock(_stallMutex);
        _stopping.store(true);
    }
    _stallEnded.notify_all();
}
