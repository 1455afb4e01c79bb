#include "SingleInstance.h"
#include "TestMain.h"
#include "TestRows.h"

#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <future>

namespace {

// A socket file whose listener is gone, as a killed primary leaves it.
bool leaveStaleSocket(const QString& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(path);
    qstrncpy(address.sun_path, name.constData(), sizeof address.sun_path);
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return bound;
}

// Hands "show" over from another thread, as a second process would: the primary answers from this
// thread's event loop meanwhile.
bool activateFromAnotherThread(const QString& directory) {
    auto handedOver = std::async(std::launch::async, [directory] {
        SingleInstance secondary(QStringLiteral("docuvane-fetch"), directory);
        return secondary.activatePrimary(5000);
    });
    while (handedOver.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready)
        QCoreApplication::processEvents();
    return handedOver.get();
}

} // namespace

class TestSingleInstance : public QObject {
    Q_OBJECT

private slots:
    // What the folder holds before the first instance starts; the first instance still takes over.
    void takeover_data() {
        QTest::addColumn<QString>("leftover");
        QTest::newRow("nothing") << "";
        QTest::newRow("lock file of an ended instance") << "lock";
        QTest::newRow("stale socket file") << "socket";
    }
    void takeover() {
        QFETCH(QString, leftover);
        QTemporaryDir dir;
        SingleInstance first(QStringLiteral("docuvane-fetch"), dir.path());
        if (leftover == "lock")
            QFile(first.lockPath()).open(QIODevice::WriteOnly);
        else if (leftover == "socket")
            QVERIFY(leaveStaleSocket(first.socketPath()));
        QVERIFY(first.tryBecomePrimary());
        QVERIFY(first.isPrimary());
        QSignalSpy activation(&first, &SingleInstance::activationRequested);
        QVERIFY(activateFromAnotherThread(dir.path()));
        QCOMPARE(activation.size(), 1);
    }

    // Two instances in one session: the second is refused, hands over, and takes over once the first ends.
    void secondInstance() {
        QTemporaryDir dir;
        auto first = std::make_unique<SingleInstance>(QStringLiteral("docuvane-fetch"), dir.path());
        QVERIFY(first->tryBecomePrimary());
        QVERIFY(first->tryBecomePrimary()); // asking again changes nothing
        SingleInstance second(QStringLiteral("docuvane-fetch"), dir.path());
        QVERIFY(!second.tryBecomePrimary());
        QVERIFY(!second.isPrimary());
        QSignalSpy activation(first.get(), &SingleInstance::activationRequested);
        QVERIFY(activateFromAnotherThread(dir.path()));
        QVERIFY(activateFromAnotherThread(dir.path()));
        QCOMPARE(activation.size(), 2);
        first.reset();
        QVERIFY(!QFile::exists(dir.filePath("docuvane-fetch.socket")));
        QVERIFY(!activateFromAnotherThread(dir.path())); // nobody to hand over to
        QVERIFY(second.tryBecomePrimary());
    }

    // Only "show" activates; anything else a stranger writes is dropped.
    void otherRequestsIgnored() {
        QTemporaryDir dir;
        SingleInstance primary(QStringLiteral("docuvane-fetch"), dir.path());
        QVERIFY(primary.tryBecomePrimary());
        QSignalSpy activation(&primary, &SingleInstance::activationRequested);
        for (const QByteArray& request : {QByteArray("quit\n"), QByteArray(200, 'x'), QByteArray("show")}) {
            auto sent = std::async(std::launch::async, [&] {
                QLocalSocket socket;
                socket.connectToServer(primary.socketPath());
                if (!socket.waitForConnected(5000))
                    return false;
                socket.write(request);
                socket.waitForBytesWritten(5000);
                socket.waitForDisconnected(300);
                return true;
            });
            while (sent.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready)
                QCoreApplication::processEvents();
            QVERIFY(sent.get());
        }
        QCOMPARE(activation.size(), 0);
        QVERIFY(activateFromAnotherThread(dir.path())); // and the primary still answers
        QCOMPARE(activation.size(), 1);
    }

    // The lock and the socket live where only this user may write: $XDG_RUNTIME_DIR when it is such a
    // folder, else a private folder in the cache folder; never a folder another user could have made.
    void runtimeFolder_data() {
        QTest::addColumn<QString>("runtime");  // XDG_RUNTIME_DIR: unset, relative, or a folder of this mode
        QTest::addColumn<QString>("fallback"); // the cache folder's runtime folder before: "", or its mode
        QTest::addColumn<QString>("expected"); // runtime, fallback or none
        row("runtime folder", "0700", "", "runtime");
        row("runtime folder others may read", "0755", "", "runtime");
        row("unset", "unset", "", "fallback");
        row("relative", "relative", "", "fallback");
        row("group may write", "0770", "", "fallback");
        row("others may write", "1777", "", "fallback");
        row("another user's", "0700 nobody", "", "fallback");
        row("fallback made open by this user", "unset", "0777", "fallback");
        row("fallback made by another user", "unset", "0700 nobody", "none");
    }
    void runtimeFolder() {
        QFETCH(QString, runtime);
        QFETCH(QString, fallback);
        QFETCH(QString, expected);
        if ((runtime + fallback).contains("nobody") && ::geteuid() != 0)
            QSKIP("giving a folder to another user needs root");
        QTemporaryDir dir;
        const auto make = [](const QString& path, const QString& how) {
            QDir().mkpath(path);
            ::chmod(QFile::encodeName(path).constData(), how.section(' ', 0, 0).toUInt(nullptr, 8));
            return !how.endsWith("nobody") || ::chown(QFile::encodeName(path).constData(), 65534, 65534) == 0;
        };
        const QString runtimePath = dir.filePath("run");
        const QString fallbackPath = dir.filePath("cache/xdg-runtime");
        if (runtime.startsWith('0') || runtime.startsWith('1'))
            QVERIFY(make(runtimePath, runtime));
        if (!fallback.isEmpty())
            QVERIFY(make(fallbackPath, fallback));
        const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
        const QByteArray savedCache = qgetenv("XDG_CACHE_HOME");
        if (runtime == "unset")
            qunsetenv("XDG_RUNTIME_DIR");
        else
            qputenv("XDG_RUNTIME_DIR", runtime == "relative" ? QByteArray("run") : QFile::encodeName(runtimePath));
        qputenv("XDG_CACHE_HOME", QFile::encodeName(dir.filePath("cache")));
        const QString chosen = SingleInstance::defaultDirectory();
        SingleInstance instance;
        const bool primary = instance.tryBecomePrimary();
        qputenv("XDG_RUNTIME_DIR", saved);
        qputenv("XDG_CACHE_HOME", savedCache);

        QCOMPARE(chosen, expected == "runtime" ? runtimePath : expected == "fallback" ? fallbackPath : QString());
        QCOMPARE(primary, expected != "none");
        if (expected == "fallback")
            QCOMPARE(QFileInfo(fallbackPath).permissions() & 0x0077, QFileDevice::Permissions());
        // A folder given by path is refused as well where others may write.
        if (runtime == "1777") {
            SingleInstance open(QStringLiteral("docuvane-fetch"), runtimePath);
            QVERIFY(!open.tryBecomePrimary());
        }
    }

    // The lock of another process: a killed holder leaves nothing behind, a live one keeps us out. Last in
    // this suite: under ThreadSanitizer no thread may start after a child process has been started.
    void lockOfAnotherProcess_data() {
        QTest::addColumn<bool>("killed");
        QTest::newRow("holder killed") << true;
        QTest::newRow("holder alive") << false;
    }
    void lockOfAnotherProcess() {
        QFETCH(bool, killed);
        QTemporaryDir dir;
        SingleInstance first(QStringLiteral("docuvane-fetch"), dir.path());
        // One process (the shell becomes sleep) takes the same kind of lock, then says so.
        QProcess holder;
        holder.start("sh",
                     {"-c", "exec 9>\"$0\" && flock --exclusive 9 && echo held && exec sleep 60", first.lockPath()});
        QVERIFY(holder.waitForReadyRead(10000));
        if (killed) {
            holder.kill();
            QVERIFY(holder.waitForFinished(10000));
        }
        QCOMPARE(first.tryBecomePrimary(), killed);
        holder.kill();
        holder.waitForFinished();
    }
};

DV_TEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
