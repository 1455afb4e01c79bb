#include "DevDocumentStore.h"
#include "DevFaultInjector.h"
#include "DevServerInstance.h"
#include "TestFiles.h"
#include "TestMain.h"

#include <httplib.h>

#include <QDir>

#include <future>
#include <memory>

// The service served inside the test process, as client tests with threads of their own run it: many
// clients at once, a stop while requests stall, and the document store on its own.
namespace {

QByteArray idBody(qint64 id) {
    return "flexdownloaddata=<request><ids><id>" + QByteArray::number(id) + "</id></ids></request>";
}

// Each call is a connection of its own, so that calls from several threads never share one.
std::optional<QByteArray> call(int port, const QByteArray& query, const QByteArray& body = QByteArray()) {
    httplib::Client client("127.0.0.1", port);
    client.set_url_encode(false);
    client.set_read_timeout(120, 0);
    const std::string target = "/dvapi/dvapi?" + query.toStdString();
    httplib::Result result = body.isNull() ? client.Get(target)
                                           : client.Post(target, body.constData(), static_cast<size_t>(body.size()),
                                                         "application/x-www-form-urlencoded");
    return result ? std::optional(QByteArray::fromStdString(result->body)) : std::nullopt;
}

} // namespace

class TestDevServerInProcess : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> _dir;
    QList<QByteArray> _contents; // documents/doc-<i>.bin, ids 1.. in that order

    QString documentsFolder() const { return _dir->filePath("documents"); }

    // The server and a ticket for it; no server when it cannot start.
    std::pair<std::unique_ptr<DevServerInstance>, QByteArray> startedServer() {
        DevServerOptions options;
        options.documentsFolder = documentsFolder();
        options.user = "anna@example.com";
        options.password = "secret";
        options.statePath = _dir->filePath("state.json");
        auto server = std::make_unique<DevServerInstance>(options);
        QString problem;
        if (server->start(&problem) != DevServerInstance::Failure::None) {
            qWarning() << problem;
            return {};
        }
        const QByteArray auth = QByteArray("anna@example.com:secret").toBase64();
        const QByteArray ticket = call(server->port(), "op=userlogin&auth=" + auth).value_or("???").chopped(3);
        return {std::move(server), ticket};
    }

private slots:
    void init() {
        _dir = std::make_unique<QTemporaryDir>();
        _contents.clear();
        for (int i = 0; i < 4; ++i) {
            // One large document, so that transfers overlap; the others small.
            QByteArray bytes(i == 0 ? 6 * 1024 * 1024 + 3 : 1000 + i, '\0');
            for (qsizetype j = 0; j < bytes.size(); ++j)
                bytes[j] = static_cast<char>((j * 31 + i * 17 + (j >> 11)) & 0xff);
            _contents.append(bytes);
            QVERIFY(writeFile(documentsFolder() + QStringLiteral("/doc-%1.bin").arg(i), bytes));
        }
    }

    void manyClientsAtOnce() {
        const auto [server, ticket] = startedServer();
        QVERIFY(server);
        const int port = server->port();
        std::vector<std::future<bool>> clients;
        for (int i = 0; i < 10; ++i) {
            const qint64 id = i % _contents.size() + 1;
            const QByteArray expected = _contents.at(i % _contents.size());
            clients.push_back(std::async(std::launch::async, [=, &ticket] {
                const auto bytes = call(port, "op=download&ticket=" + ticket, idBody(id));
                const auto report = call(port, "op=docstransferred&json=true&ticket=" + ticket, idBody(id));
                return bytes == expected && report && !report->contains("exception");
            }));
        }
        for (auto& client : clients)
            QVERIFY(client.get());
        QCOMPARE(call(port, "op=docstotransfer&json=true&ticket=" + ticket), QByteArray(R"({"documents":[]})"));
    }

    void stopEndsStalledRequests() {
        const auto [server, ticket] = startedServer();
        QVERIFY(server);
        QString problem;
        QVERIFY(server->faults().add(R"({"op":"download","fault":"stall","seconds":600,"count":3})", &problem));
        std::vector<std::future<std::optional<QByteArray>>> stalled;
        for (int i = 0; i < 3; ++i)
            stalled.push_back(std::async(std::launch::async, [port = server->port(), &ticket] {
                return call(port, "op=download&ticket=" + ticket, idBody(2));
            }));
        QTRY_VERIFY_WITH_TIMEOUT(server->faults().pending().isEmpty(), 30000);
        server->stop();
        for (auto& request : stalled)
            QVERIFY(!request.get()); // dropped, not answered
    }

    // Without sockets: a transferred mark that cannot be recorded is not reported as made, nor is a new
    // file's id handed out before it is recorded.
    void unrecordedChangesAreRefused() {
        QVERIFY(QDir().mkpath(_dir->filePath("state")));
        DevDocumentStore store(documentsFolder(), _dir->filePath("state/state.json"));
        QString problem;
        QVERIFY2(store.load(&problem), qPrintable(problem));
        QVERIFY(QDir(_dir->filePath("state")).removeRecursively());
        qint64 unknown = 0;
        QVERIFY(!store.markTransferred({1}, &unknown, &problem));
        QList<DevDocument> waiting;
        QVERIFY(store.scan(&waiting, nullptr, &problem));
        QCOMPARE(waiting.size(), _contents.size());

        QVERIFY(writeFile(documentsFolder() + "/late.txt", "late"));
        QVERIFY(!store.scan(&waiting, nullptr, &problem));
        QVERIFY(QDir().mkpath(_dir->filePath("state")));
        QVERIFY(store.scan(&waiting, nullptr, &problem));
        QCOMPARE(waiting.last().id, _contents.size() + 1);
        QVERIFY(!store.markTransferred({1, 99}, &unknown, &problem));
        QCOMPARE(unknown, 99);
        QVERIFY(store.scan(&waiting, nullptr, &problem));
        QCOMPARE(waiting.first().id, 1); // all of a report or none of it
    }
};

DV_TEST_GUILESS_MAIN(TestDevServerInProcess)
#include "tst_devserverinprocess.moc"
