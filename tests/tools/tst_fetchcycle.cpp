#include "DVPasswordCipher.h"
#include "DevServerProcess.h"
#include "ScriptedHttpServer.h"
#include "TestFiles.h"
#include "TestMain.h"
#include "TestRows.h"
#include "UserDefaults.h"

#include <httplib.h>

#include <QRegularExpression>
#include <QUrlQuery>

#include <csignal>
#include <cstring>

// Runs docuvane-fetch-cycle as support would, against the development service started as its own process.
class TestFetchCycle : public QObject {
    Q_OBJECT

private:
    struct Result {
        int status;
        QString out;
        QString err;
    };

    std::unique_ptr<QTemporaryDir> _work;
    std::unique_ptr<DevServerProcess> _server;
    std::unique_ptr<ScriptedHttpServer> _service;

    QString fetchFolder() const { return _work->path() + QStringLiteral("/home/Desktop/Docuvane Fetch"); }

    [[nodiscard]] bool startServer(const QStringList& extra = {}) {
        return checksPass([&] {
            QVERIFY(writeFile(_work->path() + "/documents/Letters/hello.txt", "hello"));
            _server = std::make_unique<DevServerProcess>();
            QVERIFY(_server->start(QStringList{"--documents", _work->path() + "/documents", "--user",
                                               "anna@example.com", "--password", "pw"} +
                                   extra));
        });
    }

    // The settings the tool reads, in the tool's own home.
    UserDefaults settings() const {
        return UserDefaults(UserDefaults::standardDomainName(),
                            _work->path() + QStringLiteral("/home/.config/docuvane"));
    }

    // An account of the development service, or of the scripted service with a ticket already.
    void configureAccount(const QString& password, const QString& url = QString()) {
        UserDefaults defaults = settings();
        defaults.setValue(QStringLiteral("anna@example.com"), QStringLiteral("email"));
        defaults.setValue(encryptPassword(password), QStringLiteral("password"));
        defaults.setValue(url.isNull() ? _server->baseUrl() : url, QStringLiteral("DocuvaneServerURL"));
        defaults.setValue(fetchFolder(), QStringLiteral("dropboxFolderPath"));
        if (!url.isNull())
            defaults.setValue(QStringLiteral("T1"), QStringLiteral("ticket"));
    }

    // busAddress: the tool's session bus; none when empty.
    void startTool(QProcess& process, const QString& busAddress = QString()) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", _work->path() + "/home");
        environment.insert("XDG_CONFIG_HOME", _work->path() + "/home/.config");
        environment.insert("DBUS_SESSION_BUS_ADDRESS", busAddress);
        process.setProcessEnvironment(environment);
        process.start(qEnvironmentVariable("DV_BUILD_DIR") + "/bin/docuvane-fetch-cycle", QStringList());
    }

    static Result finish(QProcess& process) {
        process.waitForFinished(60000);
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError())};
    }

    Result run(const QString& busAddress = QString()) {
        QProcess process;
        startTool(process, busAddress);
        return finish(process);
    }

    static QString operation(const ScriptedHttpServer::Request& request) {
        return QUrlQuery(QUrl(QString::fromUtf8(request.target)).query()).queryItemValue(QStringLiteral("op"));
    }

    QStringList hiddenFiles() const { return hiddenFilesUnder(fetchFolder()); }

private slots:
    // The scripted service's threads start before any child process does: under ThreadSanitizer a process
    // that has started a child may start no thread afterwards.
    void initTestCase() {
        _service = std::make_unique<ScriptedHttpServer>();
        // One request answered: the serving threads exist now, not at the first request after a fork.
        QVERIFY(httplib::Client("127.0.0.1", _service->port()).Get("/warm-up"));
    }
    void init() { _work = std::make_unique<QTemporaryDir>(); }
    void cleanup() { _server.reset(); }

    void fetchesAndReportsItsFigures() {
        QVERIFY(startServer());
        configureAccount(QStringLiteral("pw"));
        const Result result = run();
        QCOMPARE(result.status, 0);
        static const QRegularExpression line(
            QStringLiteral(R"(^documents=1 downloaded=1 failed=0 seconds=\d+\.\d{3}\n$)"));
        QVERIFY2(line.match(result.out).hasMatch(), qPrintable(result.out + result.err));
        QCOMPARE(readFile(fetchFolder() + "/Letters/hello.txt"), QByteArray("hello"));

        const QByteArray lines = readFile(_work->path() + "/home/Library/Logs/DocuvaneFetch.log");
        QVERIFY(lines.contains("(DVLoginOperation:start) Info Request:   " + _server->baseUrl().toUtf8() +
                               "/dvapi/dvapi?op=userlogin&auth=******** "));
        QVERIFY(lines.contains("hello.txt successfully downloaded to " + fetchFolder().toUtf8() + "/Letters"));

        // Nothing waits any more, and the stored ticket is used without a new login. The last notification
        // is still told although the bus answers it only as the run ends (here: no notification service).
        QProcess bus;
#if !defined(__SANITIZE_THREAD__) // QtDBus hands over inside the uninstrumented Qt library, which the checker reports
        bus.start("dbus-daemon", {"--session", "--nofork", "--nopidfile", "--print-address=1"});
        QVERIFY(bus.waitForReadyRead(10000));
#endif
        const Result again = run(bus.isOpen() ? QString::fromUtf8(bus.readLine()).trimmed() : QString());
        bus.kill();
        bus.waitForFinished();
        QCOMPARE(again.status, 0);
        QVERIFY2(again.out.startsWith("documents=0 downloaded=0 failed=0 "), qPrintable(again.out));
        QVERIFY(
            readFile(_work->path() + "/home/Library/Logs/DocuvaneFetch.log").contains("No new documents to download"));
    }

    void failuresSayWhich_data() {
        QTest::addColumn<QStringList>("serverArguments");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("message");
        QTest::newRow("no account") << QStringList{} << QString() << "no account configured";
        row("wrong password", QStringList{}, "wrong", "login failed: ");
        row("not the desktop destination", QStringList{"--destination-id", "3"}, "pw", "(destinationId=3)");
    }

    void failuresSayWhich() {
        QFETCH(QStringList, serverArguments);
        QFETCH(QString, password);
        QFETCH(QString, message);
        QVERIFY(startServer(serverArguments));
        if (!password.isNull())
            configureAccount(password);
        const Result result = run();
        QCOMPARE(result.status, 1);
        QVERIFY2(result.err.contains(message), qPrintable(result.err));
        QCOMPARE(result.err.count(QLatin1Char('\n')), 1);
        QVERIFY(!QFileInfo::exists(fetchFolder() + "/Letters/hello.txt"));
    }

    // Any list reply but a list is a failure of its own, never "documents=0" (an empty list, which gives that,
    // is fetchesAndReportsItsFigures' second run).
    void listFailuresAreNotAnEmptyList_data() {
        QTest::addColumn<ScriptedHttpServer::Reply>("list");
        QTest::addColumn<QString>("line");
        const auto reply = [](const auto&... args) { return ScriptedHttpServer::reply(args...); };
        const QString noList = "document list failed: The service's answer holds no document list\n";
        row("documents an object", reply(R"({"documents":{"id":1}})"), noList);
        row("error status", reply("<html>500</html>", 500),
            "document list failed: The service answered with HTTP status 500\n");
        row("service failure", reply("com.docuvane.common.exception.DatabaseException:Try later"),
            "document list failed: com.docuvane.common.exception.DatabaseException: Try later\n");
        row("dropped", reply(R"({"documents":[)", 200, true), "document list failed: ");
    }

    void listFailuresAreNotAnEmptyList() {
        QFETCH(ScriptedHttpServer::Reply, list);
        QFETCH(QString, line);
        _service->setScript([list](const ScriptedHttpServer::Request& request) {
            if (operation(request) == QLatin1String("accountinfo"))
                return ScriptedHttpServer::reply(R"({"account":{"destinationId":2}})");
            return list;
        });
        configureAccount(QStringLiteral("pw"), _service->baseURL());
        const Result result = run();
        QCOMPARE(result.status, 1);
        QCOMPARE(result.out, QString());
        QVERIFY2(result.err.startsWith(line) && result.err.count(QLatin1Char('\n')) == 1, qPrintable(result.err));
    }

    void quitSignalStopsCleanly_data() {
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<QString>("heldStep");
        row("SIGTERM in a download", int(SIGTERM), "download");
        row("SIGINT in a download", int(SIGINT), "download");
        row("SIGHUP at the list", int(SIGHUP), "docstotransfer");
        row("SIGTERM at the account", int(SIGTERM), "accountinfo");
        // Killed, the runner leaves its partial file; the next launch removes it and is then stopped.
        row("SIGKILL in a download, then SIGTERM", int(SIGKILL), "download");
    }

    void quitSignalStopsCleanly() {
        QFETCH(int, signalNumber);
        QFETCH(QString, heldStep);
        _service->setScript([heldStep](const ScriptedHttpServer::Request& request) {
            const QString op = operation(request);
            ScriptedHttpServer::Reply reply;
            if (op == QLatin1String("accountinfo"))
                reply.body = R"({"account":{"destinationId":2}})";
            else if (op == QLatin1String("docstotransfer"))
                reply.body = R"({"documents":[{"id":7,"path":"Letters","filename":"big.pdf"}]})";
            else
                reply.body = QByteArray(8000, 'x');
            reply.hold = op == heldStep;
            return reply;
        });
        configureAccount(QStringLiteral("pw"), _service->baseURL());
        QProcess process;
        startTool(process);
        auto held = [&] {
            const auto requests = _service->requests();
            return std::any_of(requests.begin(), requests.end(),
                               [&](const auto& request) { return operation(request) == heldStep; });
        };
        QTRY_VERIFY_WITH_TIMEOUT(held(), 20000);
        if (heldStep == QLatin1String("download"))
            QTRY_VERIFY_WITH_TIMEOUT(!hiddenFiles().isEmpty(), 20000);
        if (signalNumber == SIGKILL) {
            ::kill(static_cast<pid_t>(process.processId()), SIGKILL);
            QCOMPARE(finish(process).status, -1);
            const QStringList left = hiddenFiles();
            QCOMPARE(left.size(), 1);
            startTool(process);
            QTRY_VERIFY_WITH_TIMEOUT(hiddenFiles().size() == 1 && hiddenFiles() != left, 20000);
            signalNumber = SIGTERM;
        }

        QElapsedTimer clock;
        clock.start();
        ::kill(static_cast<pid_t>(process.processId()), signalNumber);
        const Result result = finish(process);
        qInfo("ended %lld ms after the signal", clock.elapsed()); // a figure for the record, not a check
        QCOMPARE(result.status, 128 + signalNumber);
        QCOMPARE(result.err, QStringLiteral("stopped by SIG%1\n").arg(QLatin1String(sigabbrev_np(signalNumber))));
        QCOMPARE(result.out, QString());
        QCOMPARE(hiddenFiles(), QStringList());
        QVERIFY(!QFileInfo::exists(fetchFolder() + "/Letters/big.pdf"));
        for (const auto& request : _service->requests())
            QVERIFY(operation(request) != QLatin1String("docstransferred"));
    }

    // The settings are read before the log is named; what they report still goes into the log, in order.
    void damagedSettingsAreReportedInTheLog() {
        const QString folder = _work->path() + "/home/.config/docuvane";
        QVERIFY(writeFile(UserDefaults::filePathForDomain(folder, UserDefaults::standardDomainName()),
                          "<?xml version=\"1.0\"?><plist><dict><key>email</key><string>trunc"));
        const Result result = run();
        QCOMPARE(result.status, 1);
        QCOMPARE(result.err, QStringLiteral("no account configured\n"));
        const QByteArray log = readFile(_work->path() + "/home/Library/Logs/DocuvaneFetch.log");
        QVERIFY2(log.contains("(UserDefaults:load) Error The settings file ") && log.contains(" is damaged"),
                 log.constData());
    }
};

DV_TEST_GUILESS_MAIN(TestFetchCycle)
#include "tst_fetchcycle.moc"
