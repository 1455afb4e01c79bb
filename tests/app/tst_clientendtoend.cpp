// The installed client as users run it: the bundle's executable on an X display with a window manager and a
// session bus of its own, against the development service started as a separate process.
#include "DVPasswordCipher.h"
#include "DevServerProcess.h"
#include "TestFiles.h"
#include "TestMain.h"
#include "UserDefaults.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QProcess>
#include <QtTest>

#include <csignal>

namespace {

const QString kUser = QStringLiteral("anna@example.com");
const QString kPassword = QStringLiteral("s3cret:pw");

QString clientExecutable() {
    return qEnvironmentVariable("DV_BUILD_DIR") +
           QStringLiteral("/product/Docuvane Fetch.app/Contents/MacOS/Docuvane Fetch");
}

} // namespace

// A desktop notification service of our own on the private session bus: it records what the client posts.
class NotificationRecorder : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QStringList bodies;
    QStringList applications;

public slots:
    uint Notify(const QString& appName, uint, const QString& icon, const QString&, const QString& body,
                const QStringList&, const QVariantMap&, int) {
        applications.append(appName + (QFileInfo(QUrl(icon).toLocalFile()).isFile() ? " with its icon" : ""));
        bodies.append(body);
        return uint(bodies.size());
    }
    QStringList GetCapabilities() { return {QStringLiteral("body")}; }
};

class TestClientEndToEnd : public QObject {
    Q_OBJECT

private:
    NotificationRecorder _recorder;
    std::unique_ptr<QTemporaryDir> _work;
    std::unique_ptr<DevServerProcess> _server;
    QString _folder;

    [[nodiscard]] bool startServer(const QStringList& documents, qint64 size) {
        return checksPass([&] {
            for (const QString& name : documents)
                QVERIFY(writeFile(_work->path() + QStringLiteral("/documents/") + name, QByteArray(size, 'd')));
            _server = std::make_unique<DevServerProcess>();
            QVERIFY(
                _server->start({QStringLiteral("--documents"), _work->path() + QStringLiteral("/documents"),
                                QStringLiteral("--user"), kUser, QStringLiteral("--password"), kPassword,
                                QStringLiteral("--request-log"), _work->path() + QStringLiteral("/requests.jsonl")}));
        });
    }

    void storeAccount() {
        UserDefaults::standardUserDefaults().setPersistentDomain(
            {{QStringLiteral("email"), kUser},
             {QStringLiteral("password"), encryptPassword(kPassword)},
             {QStringLiteral("dropboxFolderPath"), _folder},
             {QStringLiteral("DocuvaneServerURL"), _server->baseUrl()}},
            UserDefaults::standardDomainName());
        QDir().mkpath(_folder);
    }

    [[nodiscard]] bool addFault(const QByteArray& json) {
        return checksPass([&] {
            QProcess curl;
            curl.start(QStringLiteral("curl"),
                       {QStringLiteral("-sf"), QStringLiteral("-X"), QStringLiteral("POST"), QStringLiteral("--data"),
                        QString::fromUtf8(json), _server->baseUrl() + QStringLiteral("/devserver/faults")});
            QVERIFY(curl.waitForFinished(10000));
            QCOMPARE(curl.exitCode(), 0);
        });
    }

    int requestCount(const QString& op) const {
        QFile log(_work->path() + QStringLiteral("/requests.jsonl"));
        return log.open(QIODevice::ReadOnly) ? int(log.readAll().count(("op=" + op).toUtf8())) : 0;
    }

    [[nodiscard]] bool startClient(QProcess& client) {
        return checksPass([&] {
            client.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            client.setStandardOutputFile(QProcess::nullDevice());
            client.start(clientExecutable(), {});
            QVERIFY2(client.waitForStarted(10000), qPrintable(client.errorString()));
        });
    }

    [[nodiscard]] bool quitClient(QProcess& client) {
        return checksPass([&] {
            if (client.state() == QProcess::NotRunning)
                return;
            ::kill(pid_t(client.processId()), SIGTERM);
            QVERIFY(client.waitForFinished(10000));
        });
    }

private slots:
    void initTestCase() {
        if (qEnvironmentVariableIsEmpty("DISPLAY") || qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
            QSKIP("needs an X display and a private session bus (run through ctest)");
        QVERIFY(QFileInfo(clientExecutable()).isExecutable());
        QDBusConnection bus = QDBusConnection::sessionBus();
        QVERIFY(bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &_recorder,
                                   QDBusConnection::ExportAllSlots));
        QVERIFY(bus.registerService(QStringLiteral("org.freedesktop.Notifications")));
        // The client's one-per-session lock and socket live in a runtime folder of this test alone.
        static QTemporaryDir runtime;
        QFile::setPermissions(runtime.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    }

    void init() {
        _work = std::make_unique<QTemporaryDir>();
        _folder = _work->path() + QStringLiteral("/Desktop/Docuvane Fetch");
        _recorder.bodies.clear();
        _recorder.applications.clear();
    }

    void cleanup() {
        if (_server)
            _server->stop();
        _server.reset();
    }

    // Launched with an account, the client fetches the waiting documents, tells the user through the
    // notification service, and a second launch hands over to it and leaves with status 0.
    void fetchesNotifiesAndStaysAlone() {
        QVERIFY(startServer({QStringLiteral("Bank/statement.pdf"), QStringLiteral("letter.txt")}, 2000));
        storeAccount();
        QProcess client;
        QVERIFY(startClient(client));
        const QStringList expected{QStringLiteral("Bank/statement.pdf"), QStringLiteral("Inbox/letter.txt")};
        QTRY_COMPARE_WITH_TIMEOUT(filesUnder(_folder, QDir::Hidden), expected, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(_recorder.bodies.size(), 2, 30000);
        for (const QString& body : std::as_const(_recorder.bodies))
            QVERIFY2(body.contains(QStringLiteral(" successfully downloaded to ")), qPrintable(body));
        QCOMPARE(_recorder.applications.first(), QStringLiteral("Docuvane Fetch with its icon"));
        QTRY_COMPARE_WITH_TIMEOUT(requestCount(QStringLiteral("docstransferred")), 2, 30000);

        QProcess second;
        QVERIFY(startClient(second));
        QVERIFY(second.waitForFinished(10000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(client.state(), QProcess::Running);
        // Still one client: no second cycle was started by the second launch.
        QCOMPARE(requestCount(QStringLiteral("docstotransfer")), 1);

        QVERIFY(quitClient(client));
        QCOMPARE(client.exitStatus(), QProcess::NormalExit);
        QCOMPARE(client.exitCode(), 0);
    }

    // SIGTERM in the middle of ten stalled downloads: the client ends without waiting for them (nor for one
    // bounded wait per coordinator), leaving no partial file under a document's name and no hidden temporary
    // file, and reports nothing it did not write. The bound only tells a quit from a hang on a loaded machine;
    // the time it took is printed (well under 2 seconds on an idle one).
    void quitsMidCycleCleanly() {
        QStringList names;
        for (int i = 0; i < 10; ++i)
            names.append(QStringLiteral("doc%1.pdf").arg(i));
        QVERIFY(startServer(names, 8 << 20));
        QVERIFY(addFault(R"({"op":"download","fault":"stall","seconds":30,"count":10})"));
        storeAccount();
        QProcess client;
        QVERIFY(startClient(client));
        QTRY_COMPARE_WITH_TIMEOUT(requestCount(QStringLiteral("download")), 10, 30000);
        QElapsedTimer clock;
        clock.start();
        ::kill(pid_t(client.processId()), SIGTERM);
        QVERIFY(client.waitForFinished(10000));
        QVERIFY2(clock.elapsed() < 5000, qPrintable(QStringLiteral("%1 ms").arg(clock.elapsed())));
        qInfo("quit took %lld ms", static_cast<long long>(clock.elapsed()));
        QCOMPARE(client.exitStatus(), QProcess::NormalExit);
        QCOMPARE(filesUnder(_folder, QDir::Hidden), QStringList());
        QCOMPARE(requestCount(QStringLiteral("docstransferred")), 0);
    }
};

DV_TEST_GUILESS_MAIN(TestClientEndToEnd)
#include "tst_clientendtoend.moc"
