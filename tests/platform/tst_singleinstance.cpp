#include "SingleInstance.h"
#include "TestMain.h"

#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>

#include <sys/socket.h>
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

    // Under /tmp the folder must be this user's alone, or another user could take the socket's place.
    void sharedTmpFolderRefused() {
        const QString folder = QStringLiteral("/tmp/dv-singleinstance-test-%1").arg(QCoreApplication::applicationPid());
        QVERIFY(QDir().mkpath(folder));
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                                          QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther);
        SingleInstance open(QStringLiteral("docuvane-fetch"), folder);
        QVERIFY(!open.tryBecomePrimary());
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        SingleInstance closed(QStringLiteral("docuvane-fetch"), folder);
        QVERIFY(closed.tryBecomePrimary());
        QDir(folder).removeRecursively();
    }

    void defaultFolder() {
        const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
        QTemporaryDir runtime;
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
        QCOMPARE(SingleInstance::defaultDirectory(), runtime.path());
        qputenv("XDG_RUNTIME_DIR", "relative/path");
        QCOMPARE(SingleInstance::defaultDirectory(), QStringLiteral("/tmp/docuvane-%1").arg(::getuid()));
        qunsetenv("XDG_RUNTIME_DIR");
        QCOMPARE(SingleInstance::defaultDirectory(), QStringLiteral("/tmp/docuvane-%1").arg(::getuid()));
        qputenv("XDG_RUNTIME_DIR", saved);
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
