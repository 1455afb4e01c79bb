#include "Appcast.h"
#include "DevServerProcess.h"
#include "TestFiles.h"
#include "TestMain.h"
#include "TestRows.h"

#include <httplib.h>

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStringDecoder>

#include <memory>

// The development service as its clients meet it: the built executable on a loopback port, spoken to over
// HTTP in the very forms the client uses.
namespace {

const QString kUser = QStringLiteral("anna@example.com");
// A colon inside, and a Base64 form with "+" and "/": neither may be taken apart on the way.
const QString kPassword = QStringLiteral("p:ss>w?rd~");
const QByteArray kException = "com.docuvane.common.exception.";
const QByteArray kLetter = "Letters/<b>&.txt";

struct HttpReply {
    bool delivered = false; // false: the connection ended before a whole reply arrived
    int status = 0;
    QByteArray body;

    bool fails(const QByteArray& exception) const { return delivered && body.startsWith(kException + exception + ':'); }
    bool answered() const { return delivered && status == 200 && !body.contains(kException); }
};

QByteArray idBody(qint64 id) {
    return "flexdownloaddata=<request><ids><id>" + QByteArray::number(id) + "</id></ids></request>";
}

QByteArray loginQuery(const QString& user = kUser, const QString& password = kPassword) {
    return "op=userlogin&auth=" + (user + QLatin1Char(':') + password).toUtf8().toBase64();
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

    // A null body asks by GET, any other by POST.
    HttpReply send(const QByteArray& target, const QByteArray& body = QByteArray()) {
        httplib::Client client("127.0.0.1", _server->port());
        client.set_url_encode(false); // sent exactly as written, like the client's requests
        client.set_read_timeout(60, 0);
        httplib::Result result =
            body.isNull() ? client.Get(target.constData())
                          : client.Post(target.constData(), body.constData(), static_cast<size_t>(body.size()),
                                        "application/x-www-form-urlencoded");
        return result ? HttpReply{true, result->status, QByteArray::fromStdString(result->body)} : HttpReply{};
    }

    HttpReply api(const QByteArray& query, const QByteArray& body = QByteArray()) {
        return send("/dvapi/dvapi?" + query, body);
    }
    HttpReply accountInfo(const QByteArray& ticket) { return api("op=accountinfo&json=true&ticket=" + ticket); }
    HttpReply documentList(const QByteArray& ticket) { return api("op=docstotransfer&json=true&ticket=" + ticket); }
    HttpReply download(const QByteArray& ticket, qint64 id) { return api("op=download&ticket=" + ticket, idBody(id)); }
    HttpReply transferred(const QByteArray& ticket, qint64 id) {
        return api("op=docstransferred&json=true&ticket=" + ticket, idBody(id));
    }

    // The client keeps all but the last three bytes as the ticket.
    QByteArray login() {
        const HttpReply reply = api(loginQuery());
        return reply.answered() && reply.body.endsWith("\r\n\n") ? reply.body.chopped(3) : QByteArray();
    }

    // "path/filename" -> id of the waiting documents.
    QMap<QString, qint64> waiting(const QByteArray& ticket) {
        QMap<QString, qint64> ids;
        for (const QJsonValue& document : QJsonDocument::fromJson(documentList(ticket).body)["documents"].toArray())
            ids.insert(document["path"].toString() + '/' + document["filename"].toString(), document["id"].toInteger());
        return ids;
    }

private slots:
    void init() {
        _dir = std::make_unique<QTemporaryDir>();
        _server = std::make_unique<DevServerProcess>();
        QByteArray report; // every byte value, NUL among them
        for (int i = 0; i < 70000; ++i)
            report += char(i * 131 + (i >> 9));
        _documents = {{"Inbox/report.pdf", report},
                      {"Taxes/2023/scan 1.pdf", report.mid(1000, 3000)},
                      {kLetter, QByteArray("dear reader\n")}};
        for (auto it = _documents.cbegin(); it != _documents.cend(); ++it) // files directly inside are "Inbox"
            QVERIFY(writeFile(documentsFolder() + '/' + QString(it.key()).remove(QRegularExpression("^Inbox/")),
                              it.value()));
        QVERIFY(writeFile(documentsFolder() + "/.hidden", "not a document"));
        QVERIFY(writeFile(documentsFolder() + "/.git/config", "not a document either"));
    }

    void cleanup() {
        if (_server->process().state() == QProcess::Running)
            QVERIFY2(_server->stop(), qPrintable(_server->errorOutput()));
    }

    // "TAKEN" stands for the port of a server already running.
    void refusedCommandLine_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("status");
        const QStringList valid{"--documents", ".", "--user", kUser, "--password", kPassword};
        row("nothing", QStringList{}, "--documents is required", 2);
        row("appcast version with markup", valid + QStringList{"--appcast-version", "2</sparkle:version>"},
            "--appcast-version", 2);
        row("state damaged", valid + QStringList{"--state", "DAMAGED"}, "state file", 2);
        row("port taken", valid + QStringList{"--port", "TAKEN"}, "cannot listen", 1);
    }

    void refusedCommandLine() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        QFETCH(int, status);
        const QByteArray damaged = "{\"documents\": [ {\"id\": 1, \"file\": ";
        QVERIFY(writeFile(statePath(), damaged));
        if (arguments.contains("TAKEN")) {
            QVERIFY(startServer());
            arguments.replaceInStrings("TAKEN", QString::number(_server->port()));
        }
        QProcess process;
        process.start(DevServerProcess::executable(), arguments.replaceInStrings("DAMAGED", statePath()));
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), status);
        QCOMPARE(process.readAllStandardOutput(), QByteArray());
        const QString errors = QString::fromUtf8(process.readAllStandardError());
        QVERIFY2(errors.contains(message) && errors.contains("usage:") == (status == 2), qPrintable(errors));
        QCOMPARE(readFile(statePath()), damaged); // a state file it cannot read is never overwritten
    }

    void signIn() {
        QVERIFY(startServer());
        for (const QByteArray& query : {loginQuery(), loginQuery().replace("+", "%2B")}) {
            const HttpReply reply = api(query);
            QVERIFY2(reply.answered() && reply.body.endsWith("\r\n\n"), reply.body);
            const QByteArray ticket = reply.body.chopped(3);
            QVERIFY2(QRegularExpression("^[0-9a-f]{32}$").match(QString::fromLatin1(ticket)).hasMatch(), ticket);
            QCOMPARE(QJsonDocument::fromJson(accountInfo(ticket).body)["account"]["destinationId"].toInteger(), 2);
            QVERIFY(login() != ticket);
        }
    }

    // Nothing a refused request asks for is done.
    void refusedRequests_data() {
        QTest::addColumn<QByteArray>("query"); // "ticket=T" stands for a valid ticket
        QTest::addColumn<QByteArray>("body");  // null: sent by GET
        QTest::addColumn<QByteArray>("exception");
        const QByteArray unexpected = "UnexpectedException";
        row("wrong password", loginQuery(kUser, "p:ss>w?rd"), QByteArray(), QByteArray("InvalidCredentialsException"));
        row("(null) ticket", QByteArray("op=accountinfo&json=true&ticket=(null)"), QByteArray(),
            QByteArray("TicketExpiredException"));
        row("download by GET", QByteArray("op=download&ticket=T"), QByteArray(), unexpected);
        row("two ids", QByteArray("op=download&ticket=T"), idBody(1).replace("</ids>", "<id>2</id></ids>"), unexpected);
    }

    void refusedRequests() {
        QFETCH(QByteArray, query);
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, exception);
        QVERIFY(startServer());
        const QByteArray ticket = login();
        const HttpReply reply = api(query.replace("ticket=T", "ticket=" + ticket), body);
        QVERIFY2(reply.fails(exception), reply.body);
        QCOMPARE(waiting(ticket).size(), 3);
    }

    void ticketExpires() {
        QVERIFY(startServer({"--ticket-ttl", "1"}));
        const QByteArray ticket = login();
        QVERIFY(accountInfo(ticket).answered());
        QTRY_VERIFY_WITH_TIMEOUT(documentList(ticket).fails("TicketExpiredException"), 15000);
    }

    void downloadAndReportTransferred() {
        QVERIFY(startServer());
        const QByteArray ticket = login();
        const QMap<QString, qint64> ids = waiting(ticket);
        QCOMPARE(ids.keys(), _documents.keys()); // hidden files and folders are no documents
        QCOMPARE(QSet<qint64>(ids.cbegin(), ids.cend()).size(), ids.size());
        for (auto it = ids.cbegin(); it != ids.cend(); ++it)
            QCOMPARE(download(ticket, it.value()).body, _documents.value(it.key()));

        QVERIFY(transferred(ticket, ids.value(kLetter)).answered());
        QMap<QString, qint64> expected = ids;
        expected.remove(kLetter);
        QCOMPARE(waiting(ticket), expected);
        QVERIFY(transferred(ticket, ids.value(kLetter)).answered()); // again
        QVERIFY(transferred(ticket, 999).fails("DocumentNotFoundException"));
        QCOMPARE(waiting(ticket), expected);

        QVERIFY(QFile::remove(documentsFolder() + "/report.pdf"));
        QVERIFY(download(ticket, ids.value("Inbox/report.pdf")).fails("DocumentNotFoundException"));
        QVERIFY(download(ticket, 999).fails("DocumentNotFoundException"));
    }

    void restartWithStateKeepsIdsAndMarks() {
        const QStringList withState{"--state", statePath()};
        QVERIFY(startServer(withState));
        const QMap<QString, qint64> before = waiting(login());
        QVERIFY(transferred(login(), before.value("Inbox/report.pdf")).answered());
        QVERIFY(_server->stop());

        // A file that sorts first arrives while the server is down: it must not take an old id.
        QVERIFY(writeFile(documentsFolder() + "/A/new.txt", "new"));
        QVERIFY(startServer(withState));
        QMap<QString, qint64> expected = before;
        expected.remove("Inbox/report.pdf");
        expected.insert("A/new.txt", *std::max_element(before.cbegin(), before.cend()) + 1);
        QCOMPARE(waiting(login()), expected);
    }

    void faultsHitExactlyNRequests_data() {
        QTest::addColumn<QString>("op");
        QTest::addColumn<QString>("fault"); // hits "count" requests, one when it names none
        QTest::addColumn<QString>("outcome");
        row("drop", "download", R"({"op":"download","fault":"drop","count":2})", "dropped");
        row("truncate", "download", R"({"op":"download","fault":"truncate"})", "dropped");
        row("http 500", "accountinfo", R"({"op":"accountinfo","fault":"http500","count":3})", "html500");
        row("invalid utf-8", "userlogin", R"({"op":"userlogin","fault":"invalid-utf8"})", "not utf-8");
        row("non-json", "docstotransfer", R"({"op":"docstotransfer","fault":"non-json","count":2})", "not json");
        row("exception", "docstotransfer",
            QString::fromLatin1(R"({"op":"docstotransfer","fault":"exception","text":")" + kException +
                                R"(NotDesktopException:Web only"})"),
            "exception");
        row("any operation", "docstransferred", R"([{"op":"*","fault":"drop"}])", "dropped");
        row("stall", "accountinfo", R"({"op":"accountinfo","fault":"stall","seconds":1})", "late");
    }

    void faultsHitExactlyNRequests() {
        QFETCH(QString, op);
        QFETCH(QString, fault);
        const int count = QJsonDocument::fromJson(fault.toUtf8())["count"].toInt(1);
        QFETCH(QString, outcome);
        QVERIFY(startServer());
        const QByteArray ticket = login();
        const qint64 id = waiting(ticket).value(kLetter);
        const bool json = op == "accountinfo" || op == "docstotransfer";
        const auto request = [&] {
            return op == "download"          ? download(ticket, id)
                   : op == "docstransferred" ? transferred(ticket, id)
                   : op == "userlogin"       ? api(loginQuery())
                                             : api("op=" + op.toLatin1() + "&json=true&ticket=" + ticket);
        };
        const auto isNormal = [&](const HttpReply& reply) {
            return reply.answered() && (op == "download" ? reply.body == _documents.value(kLetter)
                                        : json           ? QJsonDocument::fromJson(reply.body).isObject()
                                                         : true);
        };

        QCOMPARE(send("/devserver/faults", fault.toUtf8()).status, 200);
        if (op != "userlogin" && !fault.contains(R"("*")"))
            QVERIFY(!login().isEmpty()); // a fault for one operation leaves the others alone
        for (int i = 0; i < count; ++i) {
            QElapsedTimer clock;
            clock.start();
            const HttpReply reply = request();
            QStringDecoder utf8(QStringDecoder::Utf8);
            const QString text = utf8(reply.body);
            const bool faulted = outcome == "dropped"   ? !reply.delivered
                                 : outcome == "html500" ? reply.status == 500 && reply.body.contains("<html") &&
                                                              !reply.body.contains("exception")
                                 : outcome == "not utf-8" ? reply.delivered && utf8.hasError()
                                 : outcome == "not json"  ? reply.delivered && !reply.body.contains("exception") &&
                                                               QJsonDocument::fromJson(reply.body).isNull()
                                 : outcome == "exception" ? reply.body == kException + "NotDesktopException:Web only"
                                                          : isNormal(reply) && clock.elapsed() >= 1000;
            QVERIFY2(faulted, reply.body.left(200));
        }
        QCOMPARE(QJsonDocument::fromJson(send("/devserver/faults").body)["pending"].toArray().size(), 0);
        if (op == "docstransferred") // a report that got no reply was not acted on either
            QVERIFY(waiting(ticket).contains(kLetter));
        QVERIFY(isNormal(request()));
    }

    // The feed names the version given and links to a download page on this server.
    void updateFeed() {
        QVERIFY(startServer({"--appcast-version", "9.1.2"}));
        QString problem;
        const std::optional<QList<AppcastItem>> items =
            Appcast::parse(send("/appcast.xml").body, QUrl(_server->baseUrl() + "/appcast.xml"), &problem);
        QVERIFY2(items && items->size() == 1, qPrintable(problem));
        QCOMPARE(items->first().version, "9.1.2");
        QCOMPARE(items->first().link, QUrl(_server->baseUrl() + "/download"));
        const HttpReply page = send("/download");
        QVERIFY(page.status == 200 && page.body.contains("Docuvane Fetch 9.1.2"));
    }

    void webClientPageEscapesNames() {
        QVERIFY(startServer());
        const HttpReply page = send("/htmlclient/index.html?ticket=" + login());
        QVERIFY2(page.status == 200 && page.body.contains("&lt;b&gt;&amp;.txt"), page.body);
        QVERIFY(!page.body.contains("<b>&")); // a file name is text, never markup
    }
};

DV_TEST_GUILESS_MAIN(TestDevServer)
#include "tst_devserver.moc"
