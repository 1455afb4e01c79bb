#include "DevServerProcess.h"
#include "TestHome.h"

#include <httplib.h>

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringDecoder>

#include <memory>

// The development service as its clients meet it: the built executable on a loopback port, spoken to over
// HTTP in the very forms the client uses.
namespace {

const QString kUser = QStringLiteral("anna@example.com");
// A colon inside, and a Base64 form with "+" and "/": neither may be taken apart on the way.
const QString kPassword = QStringLiteral("p:ss>w?rd~");

struct HttpReply {
    bool delivered = false; // false: the connection ended before a whole reply arrived
    int status = 0;
    QByteArray body;
};

QByteArray idBody(qint64 id) {
    return "flexdownloaddata=<request><ids><id>" + QByteArray::number(id) + "</id></ids></request>";
}

QByteArray authFor(const QString& user, const QString& password) {
    return (user + QLatin1Char(':') + password).toUtf8().toBase64();
}

bool isUtf8(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder(bytes);
    return !decoder.hasError();
}

bool isFailure(const HttpReply& reply, const QString& exceptionClass) {
    return reply.delivered && reply.body.startsWith((exceptionClass + QLatin1Char(':')).toUtf8());
}

void writeFile(const QString& path, const QByteArray& content) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(content), content.size());
}

QByteArray binaryContent(int size, int seed) {
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 131 + seed * 7 + (i >> 9)) & 0xff);
    return bytes;
}

} // namespace

class TestDevServer : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> _dir;
    std::unique_ptr<DevServerProcess> _server;
    QMap<QString, QByteArray> _documents; // "path/filename" as the client files them -> bytes

    QString documentsFolder() const { return _dir->filePath(QStringLiteral("documents")); }
    QString statePath() const { return _dir->filePath(QStringLiteral("state.json")); }

    bool startServer(const QStringList& extra = {}) {
        const bool started = _server->start(
            QStringList{"--documents", documentsFolder(), "--user", kUser, "--password", kPassword} + extra);
        if (!started)
            qWarning().noquote() << _server->errorOutput();
        return started;
    }

    HttpReply send(const QByteArray& method, const QByteArray& target, const QByteArray& body = QByteArray()) {
        httplib::Client client("127.0.0.1", _server->port());
        client.set_url_encode(false); // sent exactly as written, like the client's requests
        client.set_read_timeout(60, 0);
        httplib::Result result =
            method == "GET"      ? client.Get(target.constData())
            : method == "DELETE" ? client.Delete(target.constData())
                                 : client.Post(target.constData(), body.constData(), static_cast<size_t>(body.size()),
                                               "application/x-www-form-urlencoded");
        HttpReply reply;
        if (result) {
            reply.delivered = true;
            reply.status = result->status;
            reply.body = QByteArray::fromStdString(result->body);
        }
        return reply;
    }

    HttpReply get(const QByteArray& target) { return send("GET", target); }
    HttpReply post(const QByteArray& target, const QByteArray& body) { return send("POST", target, body); }

    QByteArray login() {
        const HttpReply reply = get("/dvapi/dvapi?op=userlogin&auth=" + authFor(kUser, kPassword));
        return reply.delivered && reply.body.size() > 3 ? reply.body.chopped(3) : QByteArray();
    }

    HttpReply accountInfo(const QByteArray& ticket) {
        return get("/dvapi/dvapi?op=accountinfo&json=true&ticket=" + ticket);
    }
    HttpReply documentList(const QByteArray& ticket) {
        return get("/dvapi/dvapi?op=docstotransfer&json=true&ticket=" + ticket);
    }
    HttpReply download(const QByteArray& ticket, qint64 id) {
        return post("/dvapi/dvapi?op=download&ticket=" + ticket, idBody(id));
    }
    HttpReply transferred(const QByteArray& ticket, qint64 id) {
        return post("/dvapi/dvapi?op=docstransferred&json=true&ticket=" + ticket, idBody(id));
    }

    // "path/filename" -> id of the waiting documents.
    QMap<QString, qint64> waiting(const QByteArray& ticket) {
        QMap<QString, qint64> ids;
        const HttpReply reply = documentList(ticket);
        for (const QJsonValue& value : QJsonDocument::fromJson(reply.body).object().value("documents").toArray()) {
            const QJsonObject document = value.toObject();
            ids.insert(document.value("path").toString() + '/' + document.value("filename").toString(),
                       document.value("id").toInteger());
        }
        return ids;
    }

    QJsonArray pendingFaults() {
        return QJsonDocument::fromJson(get("/devserver/faults").body).object().value("pending").toArray();
    }

private slots:
    void init() {
        _dir = std::make_unique<QTemporaryDir>();
        _server = std::make_unique<DevServerProcess>();
        _documents = {{"Inbox/report.pdf", binaryContent(70000, 1)},
                      {"Taxes/2023/scan 1.pdf", binaryContent(3000, 2)},
                      {"Letters/<b>&.txt", QByteArray("dear reader\n")}};
        writeFile(documentsFolder() + "/report.pdf", _documents["Inbox/report.pdf"]);
        writeFile(documentsFolder() + "/Taxes/2023/scan 1.pdf", _documents["Taxes/2023/scan 1.pdf"]);
        writeFile(documentsFolder() + "/Letters/<b>&.txt", _documents["Letters/<b>&.txt"]);
        writeFile(documentsFolder() + "/.hidden", "not a document");
        writeFile(documentsFolder() + "/.git/config", "not a document either");
    }

    void cleanup() {
        if (_server->process().state() == QProcess::Running)
            QVERIFY2(_server->stop(), qPrintable(_server->errorOutput()));
    }

    void badCommandLine_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        const QStringList account{"--user", kUser, "--password", kPassword};
        QTest::newRow("nothing") << QStringList{} << "--documents is required";
        QTest::newRow("no password") << QStringList{"--documents", ".", "--user", kUser} << "--password is required";
        QTest::newRow("documents missing")
            << QStringList{"--documents", "/nonexistent/docs"} + account << "is not a folder";
        QTest::newRow("port too high") << QStringList{"--documents", ".", "--port", "70000"} + account << "--port";
        QTest::newRow("port not a number") << QStringList{"--documents", ".", "--port=80a"} + account << "--port";
        QTest::newRow("ttl zero") << QStringList{"--documents", ".", "--ticket-ttl", "0"} + account << "--ticket-ttl";
        QTest::newRow("destination") << QStringList{"--documents", ".", "--destination-id", "two"} + account
                                     << "--destination-id";
        QTest::newRow("unknown option") << QStringList{"--documents", ".", "--verbose"} + account << "--verbose";
        QTest::newRow("twice") << QStringList{"--documents", ".", "--user", "b@example.com"} + account
                               << "--user is given twice";
        QTest::newRow("value missing") << QStringList{"--documents", "."} + account + QStringList{"--state"}
                                       << "--state needs a value";
        QTest::newRow("state folder missing")
            << QStringList{"--documents", ".", "--state", "/nonexistent/folder/state.json"} + account
            << "does not exist";
        QTest::newRow("state damaged") << QStringList{"--documents", ".", "--state", "DAMAGED"} + account
                                       << "state file";
    }

    void badCommandLine() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        const QByteArray damaged = "{\"documents\": [ {\"id\": 1, \"file\": ";
        writeFile(statePath(), damaged);
        arguments.replaceInStrings("DAMAGED", statePath());
        QProcess process;
        process.start(DevServerProcess::executable(), arguments);
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 2);
        QCOMPARE(process.readAllStandardOutput(), QByteArray());
        const QString errors = QString::fromUtf8(process.readAllStandardError());
        QVERIFY2(errors.contains(message) && errors.contains("usage:"), qPrintable(errors));
        QFile state(statePath());
        QVERIFY(state.open(QIODevice::ReadOnly));
        QCOMPARE(state.readAll(), damaged); // a state file it cannot read is never overwritten
    }

    void takenPortIsRefused() {
        QVERIFY(startServer());
        DevServerProcess second;
        QVERIFY(!second.start({"--documents", documentsFolder(), "--user", kUser, "--password", kPassword, "--port",
                               QString::number(_server->port())}));
        QVERIFY(second.process().state() == QProcess::NotRunning || second.process().waitForFinished(30000));
        QCOMPARE(second.process().exitCode(), 1);
        QVERIFY2(second.errorOutput().contains("cannot listen"), qPrintable(second.errorOutput()));
    }

    void signIn_data() {
        QTest::addColumn<QByteArray>("query");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("right pair") << "auth=" + authFor(kUser, kPassword) << true;
        QTest::newRow("plus escaped") << "auth=" + authFor(kUser, kPassword).replace("+", "%2B") << true;
        QTest::newRow("wrong password") << "auth=" + authFor(kUser, "p:ss>w?rd") << false;
        QTest::newRow("other user") << "auth=" + authFor("bob@example.com", kPassword) << false;
        QTest::newRow("not base64") << QByteArray("auth=%%%%") << false;
        QTest::newRow("no auth") << QByteArray() << false;
    }

    void signIn() {
        QFETCH(QByteArray, query);
        QFETCH(bool, accepted);
        QVERIFY(startServer());
        const HttpReply reply = get("/dvapi/dvapi?op=userlogin&" + query);
        QVERIFY(reply.delivered);
        QCOMPARE(reply.status, 200);
        if (!accepted) {
            QVERIFY2(isFailure(reply, "com.docuvane.common.exception.InvalidCredentialsException"), reply.body);
            return;
        }
        // The client keeps all but the last three bytes as the ticket.
        QCOMPARE(reply.body.right(3), QByteArray("\r\n\n"));
        const QByteArray ticket = reply.body.chopped(3);
        QVERIFY2(QRegularExpression("^[0-9a-f]{32}$").match(QString::fromLatin1(ticket)).hasMatch(), ticket);
        QVERIFY(!isFailure(accountInfo(ticket), "com.docuvane.common.exception.TicketExpiredException"));
        QVERIFY(login() != ticket);
    }

    void ticketIsChecked_data() {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QByteArray>("target");
        QTest::newRow("account, no ticket") << QByteArray("GET") << QByteArray("op=accountinfo&json=true");
        QTest::newRow("account, (null)") << QByteArray("GET") << QByteArray("op=accountinfo&json=true&ticket=(null)");
        QTest::newRow("list, unknown") << QByteArray("GET")
                                       << QByteArray("op=docstotransfer&json=true&ticket=0123456789abcdef");
        QTest::newRow("download, empty") << QByteArray("POST") << QByteArray("op=download&ticket=");
        QTest::newRow("transferred, unknown")
            << QByteArray("POST") << QByteArray("op=docstransferred&json=true&ticket=abc");
    }

    void ticketIsChecked() {
        QFETCH(QByteArray, method);
        QFETCH(QByteArray, target);
        QVERIFY(startServer());
        const QByteArray validTicket = login();
        QVERIFY(!validTicket.isEmpty());
        const HttpReply reply = send(method, "/dvapi/dvapi?" + target, idBody(1));
        QVERIFY2(isFailure(reply, "com.docuvane.common.exception.TicketExpiredException"), reply.body);
        QCOMPARE(waiting(validTicket).size(), 3); // nothing was marked
    }

    void ticketExpiresAndEnds() {
        QVERIFY(startServer({"--ticket-ttl", "1"}));
        const QByteArray first = login();
        QVERIFY(QJsonDocument::fromJson(accountInfo(first).body).isObject());
        QTRY_VERIFY_WITH_TIMEOUT(isFailure(accountInfo(first), "com.docuvane.common.exception.TicketExpiredException"),
                                 15000);
        QVERIFY(isFailure(documentList(first), "com.docuvane.common.exception.TicketExpiredException"));

        QByteArray second = login();
        QCOMPARE(waiting(second).size(), 3);
        QVERIFY(post("/devserver/expire-tickets", QByteArray()).delivered);
        QVERIFY(isFailure(documentList(second), "com.docuvane.common.exception.TicketExpiredException"));

        const QByteArray third = login();
        const HttpReply logout = get("/dvapi/dvapi?op=userlogout&ticket=" + third);
        QVERIFY(logout.delivered && !logout.body.contains("com.docuvane.common.exception"));
        QVERIFY(isFailure(accountInfo(third), "com.docuvane.common.exception.TicketExpiredException"));
    }

    void accountAndDestination_data() {
        QTest::addColumn<QString>("destination");
        QTest::newRow("desktop client") << "2";
        QTest::newRow("web") << "1";
        QTest::newRow("none") << "0";
    }

    void accountAndDestination() {
        QFETCH(QString, destination);
        QVERIFY(startServer({"--destination-id", destination}));
        const QByteArray ticket = login();
        const HttpReply account = accountInfo(ticket);
        const QJsonObject object = QJsonDocument::fromJson(account.body).object().value("account").toObject();
        QCOMPARE(object.value("destinationId").toInteger(-1), destination.toLongLong());
        const HttpReply list = documentList(ticket);
        if (destination == "2")
            QVERIFY2(QJsonDocument::fromJson(list.body).object().value("documents").isArray(), list.body);
        else
            QVERIFY2(isFailure(list, "com.docuvane.common.exception.NotDesktopException"), list.body);
    }

    void listAndDownload() {
        QVERIFY(startServer());
        const QByteArray ticket = login();
        const QMap<QString, qint64> ids = waiting(ticket);
        QCOMPARE(ids.keys(), _documents.keys()); // hidden files and folders are no documents
        QSet<qint64> distinct;
        for (auto it = ids.cbegin(); it != ids.cend(); ++it) {
            QVERIFY(it.value() > 0);
            distinct.insert(it.value());
            const HttpReply reply = download(ticket, it.value());
            QVERIFY(reply.delivered);
            QCOMPARE(reply.body, _documents.value(it.key()));
        }
        QCOMPARE(distinct.size(), ids.size());

        QVERIFY(QFile::remove(documentsFolder() + "/report.pdf"));
        QVERIFY(isFailure(download(ticket, ids.value("Inbox/report.pdf")),
                          "com.docuvane.common.exception.DocumentNotFoundException"));
        QVERIFY(isFailure(download(ticket, 999), "com.docuvane.common.exception.DocumentNotFoundException"));
    }

    void requestFormIsChecked_data() {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<QByteArray>("body");
        const QByteArray ids = "<request><ids><id>1</id></ids></request>";
        QTest::newRow("download by GET") << QByteArray("GET") << QByteArray("op=download&ticket=T") << QByteArray();
        QTest::newRow("list by POST") << QByteArray("POST") << QByteArray("op=docstotransfer&json=true&ticket=T")
                                      << QByteArray();
        QTest::newRow("no op") << QByteArray("GET") << QByteArray("ticket=T") << QByteArray();
        QTest::newRow("unknown op") << QByteArray("GET") << QByteArray("op=docs&ticket=T") << QByteArray();
        QTest::newRow("two ids") << QByteArray("POST") << QByteArray("op=download&ticket=T")
                                 << QByteArray("flexdownloaddata=<request><ids><id>1</id><id>2</id></ids></request>");
        QTest::newRow("id not a number") << QByteArray("POST") << QByteArray("op=download&ticket=T")
                                         << QByteArray("flexdownloaddata=<request><ids><id>x</id></ids></request>");
        QTest::newRow("other field") << QByteArray("POST") << QByteArray("op=docstransferred&json=true&ticket=T")
                                     << "downloaddata=" + ids;
        QTest::newRow("id zero") << QByteArray("POST") << QByteArray("op=docstransferred&json=true&ticket=T")
                                 << QByteArray("flexdownloaddata=<request><ids><id>0</id></ids></request>");
        QTest::newRow("set error without value") << QByteArray("GET") << QByteArray("op=dstseterror") << QByteArray();
    }

    void requestFormIsChecked() {
        QFETCH(QByteArray, method);
        QFETCH(QByteArray, target);
        QFETCH(QByteArray, body);
        QVERIFY(startServer());
        const QByteArray ticket = login();
        const HttpReply reply = send(method, "/dvapi/dvapi?" + target.replace("ticket=T", "ticket=" + ticket), body);
        QVERIFY2(isFailure(reply, "com.docuvane.common.exception.UnexpectedException"), reply.body);
        QCOMPARE(waiting(ticket).size(), 3);
        // The well-formed request of the same kind is answered.
        QVERIFY(!get("/dvapi/dvapi?op=dstseterror&error=unkn").body.contains("com.docuvane.common.exception"));
    }

    void transferredLeavesTheList() {
        QVERIFY(startServer());
        const QByteArray ticket = login();
        const QMap<QString, qint64> before = waiting(ticket);
        const HttpReply reply = transferred(ticket, before.value("Taxes/2023/scan 1.pdf"));
        QVERIFY2(reply.delivered && !reply.body.contains("com.docuvane.common.exception"), reply.body);
        QMap<QString, qint64> expected = before;
        expected.remove("Taxes/2023/scan 1.pdf");
        QCOMPARE(waiting(ticket), expected);
        QVERIFY(!transferred(ticket, before.value("Taxes/2023/scan 1.pdf")).body.contains("exception")); // again
        QVERIFY(isFailure(transferred(ticket, 999), "com.docuvane.common.exception.DocumentNotFoundException"));
        QCOMPARE(waiting(ticket), expected);
    }

    void restartKeepsIdsAndMarks_data() {
        QTest::addColumn<bool>("withState");
        QTest::newRow("with state") << true;
        QTest::newRow("without state") << false;
    }

    void restartKeepsIdsAndMarks() {
        QFETCH(bool, withState);
        const QStringList arguments = withState ? QStringList{"--state", statePath()} : QStringList{};
        QVERIFY(startServer(arguments));
        QByteArray ticket = login();
        const QMap<QString, qint64> before = waiting(ticket);
        QVERIFY(!transferred(ticket, before.value("Inbox/report.pdf")).body.contains("exception"));
        QVERIFY(_server->stop());

        // A file that sorts first arrives while the server is down: it must not take an old id.
        writeFile(documentsFolder() + "/A/new.txt", "new");
        QVERIFY(startServer(arguments));
        ticket = login();
        const QMap<QString, qint64> after = waiting(ticket);
        QCOMPARE(after.contains("Inbox/report.pdf"), !withState);
        for (const QString& key : _documents.keys()) {
            if (after.contains(key) && withState)
                QCOMPARE(after.value(key), before.value(key));
        }
        if (withState)
            QCOMPARE(after.value("A/new.txt"), *std::max_element(before.cbegin(), before.cend()) + 1);
    }

    void faultsHitExactlyNRequests_data() {
        QTest::addColumn<QString>("op");
        QTest::addColumn<QByteArray>("fault");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("drop") << "download" << QByteArray(R"({"op":"download","fault":"drop","count":2})") << 2
                              << "dropped";
        QTest::newRow("truncate") << "download" << QByteArray(R"({"op":"download","fault":"truncate"})") << 1
                                  << "dropped";
        QTest::newRow("http 500") << "accountinfo" << QByteArray(R"({"op":"accountinfo","fault":"http500","count":3})")
                                  << 3 << "html500";
        QTest::newRow("invalid utf-8") << "userlogin" << QByteArray(R"({"op":"userlogin","fault":"invalid-utf8"})") << 1
                                       << "not utf-8";
        QTest::newRow("non-json") << "docstotransfer"
                                  << QByteArray(R"({"op":"docstotransfer","fault":"non-json","count":2})") << 2
                                  << "not json";
        QTest::newRow("exception") << "docstotransfer"
                                   << QByteArray(R"({"op":"docstotransfer","fault":"exception","text":)"
                                                 R"("com.docuvane.common.exception.NotDesktopException:Web only"})")
                                   << 1 << "exception";
        QTest::newRow("any operation") << "docstransferred" << QByteArray(R"([{"op":"*","fault":"drop"}])") << 1
                                       << "dropped";
        QTest::newRow("stall") << "accountinfo" << QByteArray(R"({"op":"accountinfo","fault":"stall","seconds":1})")
                               << 1 << "late";
    }

    void faultsHitExactlyNRequests() {
        QFETCH(QString, op);
        QFETCH(QByteArray, fault);
        QFETCH(int, count);
        QFETCH(QString, outcome);
        QVERIFY(startServer());
        const QByteArray ticket = login();
        const qint64 id = waiting(ticket).value("Letters/<b>&.txt");
        const auto request = [&]() -> HttpReply {
            if (op == "download")
                return download(ticket, id);
            if (op == "docstransferred")
                return transferred(ticket, id);
            if (op == "userlogin")
                return get("/dvapi/dvapi?op=userlogin&auth=" + authFor(kUser, kPassword));
            return get("/dvapi/dvapi?op=" + op.toLatin1() + "&json=true&ticket=" + ticket);
        };
        const auto isNormal = [&](const HttpReply& reply) {
            if (!reply.delivered || reply.status != 200 || reply.body.contains("com.docuvane.common.exception"))
                return false;
            if (op == "download")
                return reply.body == _documents.value("Letters/<b>&.txt");
            return op == "userlogin" || op == "docstransferred" || QJsonDocument::fromJson(reply.body).isObject();
        };

        const HttpReply added = post("/devserver/faults", fault);
        QCOMPARE(added.status, 200);
        QCOMPARE(pendingFaults().size(), 1);
        if (op != "userlogin" && !fault.contains(R"("*")"))
            QVERIFY(!login().isEmpty()); // a fault for one operation leaves the others alone
        for (int i = 0; i < count; ++i) {
            QElapsedTimer clock;
            clock.start();
            const HttpReply reply = request();
            if (outcome == "dropped")
                QVERIFY(!reply.delivered);
            else if (outcome == "html500")
                QVERIFY(reply.status == 500 && reply.body.contains("<html") && !reply.body.contains("exception"));
            else if (outcome == "not utf-8")
                QVERIFY(reply.delivered && !isUtf8(reply.body));
            else if (outcome == "not json")
                QVERIFY(reply.delivered && !reply.body.contains("exception") &&
                        QJsonDocument::fromJson(reply.body).isNull());
            else if (outcome == "exception")
                QCOMPARE(reply.body, QByteArray("com.docuvane.common.exception.NotDesktopException:Web only"));
            else if (outcome == "late")
                QVERIFY(isNormal(reply) && clock.elapsed() >= 1000);
        }
        QCOMPARE(pendingFaults().size(), 0);
        if (op == "docstransferred") // a report that got no reply was not acted on either
            QVERIFY(waiting(ticket).contains("Letters/<b>&.txt"));
        QVERIFY(isNormal(request()));
    }

    void badFaultDescriptions_data() {
        QTest::addColumn<QByteArray>("description");
        QTest::newRow("not json") << QByteArray("drop download");
        QTest::newRow("unknown op") << QByteArray(R"({"op":"upload","fault":"drop"})");
        QTest::newRow("unknown fault") << QByteArray(R"({"op":"download","fault":"explode"})");
        QTest::newRow("stall without seconds") << QByteArray(R"({"op":"download","fault":"stall"})");
        QTest::newRow("count zero") << QByteArray(R"({"op":"download","fault":"drop","count":0})");
        QTest::newRow("text on a drop") << QByteArray(R"({"op":"download","fault":"drop","text":"x"})");
        QTest::newRow("one bad of two") << QByteArray(R"([{"op":"download","fault":"drop"},{"op":"x"}])");
    }

    void badFaultDescriptions() {
        QFETCH(QByteArray, description);
        QVERIFY(startServer());
        QCOMPARE(post("/devserver/faults", description).status, 400);
        QCOMPARE(pendingFaults().size(), 0);
    }

    void requestLogHoldsTheExactRequests() {
        const QString logPath = _dir->filePath("requests.jsonl");
        QVERIFY(startServer({"--request-log", logPath}));
        const QByteArray loginTarget = "/dvapi/dvapi?op=userlogin&auth=" + authFor(kUser, kPassword);
        const QByteArray ticket = get(loginTarget).body.chopped(3);
        QVERIFY(post("/devserver/faults", R"({"op":"download","fault":"drop"})").delivered);
        download(ticket, 1);
        const QByteArray setError = "/dvapi/dvapi?op=dstseterror&error=unkn";
        get(setError);

        QFile log(logPath);
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = log.readAll().split('\n');
        const QList<QJsonObject> expected{
            {{"method", "GET"}, {"path", QString::fromLatin1(loginTarget)}, {"body", ""}},
            {{"method", "POST"},
             {"path", QString::fromLatin1("/dvapi/dvapi?op=download&ticket=" + ticket)},
             {"body", QString::fromLatin1(idBody(1))}},
            {{"method", "GET"}, {"path", QString::fromLatin1(setError)}, {"body", ""}},
        };
        QCOMPARE(lines.size(), expected.size() + 1);
        QCOMPARE(lines.last(), QByteArray());
        for (qsizetype i = 0; i < expected.size(); ++i)
            QCOMPARE(QJsonDocument::fromJson(lines[i]).object(), expected[i]);
    }

    void webClientPage_data() {
        QTest::addColumn<QString>("ticket");
        QTest::addColumn<bool>("signedIn");
        QTest::newRow("valid ticket") << "VALID" << true;
        QTest::newRow("unknown ticket") << "abc" << false;
        QTest::newRow("no ticket") << "" << false;
    }

    void webClientPage() {
        QFETCH(QString, ticket);
        QFETCH(bool, signedIn);
        QVERIFY(startServer());
        ticket.replace("VALID", QString::fromLatin1(login()));
        const HttpReply page = get("/htmlclient/index.html?ticket=" + ticket.toLatin1());
        QCOMPARE(page.status, 200);
        QCOMPARE(page.body.contains("&lt;b&gt;&amp;.txt"), signedIn);
        QVERIFY(!page.body.contains("<b>&")); // a file name is text, never markup
        QCOMPARE(page.body.contains("Please sign in"), !signedIn);
    }

    void signalEndsStalledRequests_data() {
        QTest::addColumn<bool>("interrupt");
        QTest::newRow("SIGTERM") << false;
        QTest::newRow("SIGINT") << true;
    }

    void signalEndsStalledRequests() {
        QFETCH(bool, interrupt);
        QVERIFY(startServer());
        const QByteArray ticket = login();
        QVERIFY(post("/devserver/faults", R"({"op":"accountinfo","fault":"stall","seconds":600})").delivered);
        // A second process asks, so that this one stays without threads of its own (see DevServerInstance.h).
        QProcess stalled;
        stalled.start("curl", {"-sS", "--max-time", "300",
                               _server->baseUrl() + "/dvapi/dvapi?op=accountinfo&json=true&ticket=" + ticket});
        QVERIFY2(stalled.waitForStarted(), "curl is needed (tools/setup-deps installs it)");
        QTRY_VERIFY_WITH_TIMEOUT(_server->errorOutput().contains("fault: stall"), 15000);
        if (interrupt)
            ::kill(static_cast<pid_t>(_server->process().processId()), SIGINT);
        else
            _server->process().terminate();
        QVERIFY(_server->process().waitForFinished(30000));
        QCOMPARE(_server->process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(_server->process().exitCode(), 0);
        QVERIFY(stalled.waitForFinished(30000));
        QVERIFY(stalled.exitCode() != 0);
        QCOMPARE(stalled.readAllStandardOutput(), QByteArray()); // no reply made up for the stalled request
    }
};

DV_TEST_GUILESS_MAIN(TestDevServer)
#include "tst_devserver.moc"
