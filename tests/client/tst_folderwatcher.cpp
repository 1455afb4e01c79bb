#include "DVException.h"
#include "DVFolderWatcher.h"
#include "InotifyUsage.h"
#include "TestFiles.h"
#include "TestMain.h"
#include "TestRows.h"
#include "UserDefaults.h"
#include "WSLogger.h"

#include <functional>
#include <memory>

#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr int kSettleMs = 1000;
using S = FileSystemEventStream;

// Stands in for the application controller and the scheduler: the state the watcher follows and the
// missing-folder message.
class StandInController : public QObject, public DVFolderWatcherDelegate {
public:
    void setState(int state) { watcher->followState(ClientState(state)); }
    void dropboxFolderMissing(QObject*) override {
        ++missing;
        if (whenMissing)
            whenMissing();
    }
    DVFolderWatcher* watcher = nullptr;
    int missing = 0;
    std::function<void()> whenMissing;
};

qint64 storedEventId() {
    return UserDefaults::standardUserDefaults().integerForKey(QStringLiteral("lastEventIdKey"));
}

} // namespace

class TestFolderWatcher : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> _dir;
    std::unique_ptr<StandInController> _controller;
    std::unique_ptr<DVFolderWatcher> _watcher;
    QString _base, _folder, _log;

    QStringList logLines() const { return QString::fromUtf8(readFile(_log)).split('\n', Qt::SkipEmptyParts); }

    bool rename(const QString& from, const QString& to) { return QDir(_base).rename(from, to); }

private slots:
    void init() {
        _dir = std::make_unique<QTemporaryDir>(QDir::homePath() + QStringLiteral("/watcher-XXXXXX"));
        _base = _dir->path();
        _folder = _base + QStringLiteral("/above/Docuvane Fetch");
        QVERIFY(QDir().mkpath(_folder + QStringLiteral("/Invoices")));
        UserDefaults::standardUserDefaults().setValue(_folder, QStringLiteral("dropboxFolderPath"));
        _log = _base + QStringLiteral("/DocuvaneFetch.log");
        WSLogger::sharedInstance().setFileName(_log);
        _controller = std::make_unique<StandInController>();
        _watcher = std::make_unique<DVFolderWatcher>(_controller.get());
        _watcher->setLatency(0.2);
        _controller->watcher = _watcher.get();
    }

    void cleanup() {
        _watcher.reset();
        _controller.reset();
        _dir.reset();
    }

    // At the real latency: a rename is told within it plus a margin; a download's worth of files is not told.
    void renameToldWithinLatencyButFilesAreNot() {
        _watcher->setLatency(DVFolderWatcher::kDefaultLatency);
        const qint64 before = storedEventId();
        _controller->setState(1);
        for (int i = 0; i < 1000; ++i)
            QVERIFY(writeFile(_folder + QStringLiteral("/Invoices/doc-%1.pdf").arg(i)));
        QTRY_VERIFY_WITH_TIMEOUT(storedEventId() > before, 10000);
        QTest::qWait(3000 + kSettleMs);
        QCOMPARE(_controller->missing, 0);
        QVERIFY(rename(QStringLiteral("above/Docuvane Fetch"), QStringLiteral("above/Old")));
        QTRY_COMPARE_WITH_TIMEOUT(_controller->missing, 1, 3000 + 2000);
    }

    void rootChangesTellOnce_data() {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to"); // empty: deleted with all it holds
        row("folder renamed", "above/Docuvane Fetch", "above/Renamed");
        row("folder deleted", "above/Docuvane Fetch", "");
        row("ancestor renamed", "above", "renamed");
        row("ancestor deleted", "above", "");
    }

    void rootChangesTellOnce() {
        QFETCH(QString, from);
        QFETCH(QString, to);
        QVERIFY(writeFile(_folder + QStringLiteral("/Invoices/one.pdf")));
        _controller->setState(1);
        const qint64 before = storedEventId();
        QVERIFY(to.isEmpty() ? QDir(_base + '/' + from).removeRecursively() : rename(from, to));
        QTRY_COMPARE(_controller->missing, 1);
        QTest::qWait(kSettleMs);
        QCOMPARE(_controller->missing, 1);
        QVERIFY(storedEventId() > before);
        QVERIFY(_watcher->isWatching()); // the controller decides what happens next
    }

    void onlyExactRootChangeTells_data() {
        QTest::addColumn<QList<quint32>>("flags");
        QTest::addColumn<bool>("answers");
        QTest::addColumn<int>("told");
        QTest::newRow("root changed") << QList<quint32>{S::RootChanged} << true << 1;
        QTest::newRow("with rescan") << QList<quint32>{S::RootChanged | S::MustScanSubDirs} << true << 0;
        QTest::newRow("several") << QList<quint32>{S::RootChanged, S::ItemRemoved, S::RootChanged} << true << 2;
        QTest::newRow("delegate without the message") << QList<quint32>{S::RootChanged} << false << 0;
    }

    void onlyExactRootChangeTells() {
        QFETCH(QList<quint32>, flags);
        QFETCH(bool, answers);
        QFETCH(int, told);
        QObject silent;
        if (!answers)
            _watcher->setDelegate(&silent);
        QList<S::Event> events;
        for (quint32 bits : flags)
            events.append({_folder, bits, quint64(7000 + events.size())});
        _watcher->eventsArrived(events);
        QCOMPARE(_controller->missing, told);
        QCOMPARE(storedEventId(), qint64(7000 + events.size() - 1));
    }

    void switchingFolders_data() {
        QTest::addColumn<bool>("restart");
        QTest::newRow("start again keeps the first") << false;
        QTest::newRow("restartWithPath switches") << true;
    }

    void switchingFolders() {
        QFETCH(bool, restart);
        const QString other = _base + QStringLiteral("/other");
        QVERIFY(QDir().mkpath(other));
        _watcher->start(_folder);
        restart ? _watcher->restartWithPath(other) : _watcher->start(other);
        QCOMPARE(_watcher->dropboxFolder(), restart ? other : _folder);
        const QString watched = restart ? QStringLiteral("other") : QStringLiteral("above");
        QVERIFY(rename(restart ? QStringLiteral("above") : QStringLiteral("other"), QStringLiteral("x")));
        QTest::qWait(kSettleMs);
        QCOMPARE(_controller->missing, 0);
        QVERIFY(rename(watched, QStringLiteral("y")));
        QTRY_COMPARE(_controller->missing, 1);
    }

    void stateChanges_data() {
        QTest::addColumn<QString>("setting"); // what "dropboxFolderPath" names
        QTest::addColumn<int>("state");
        QTest::addColumn<bool>("watching");
        QTest::newRow("1, folder") << "folder" << 1 << true;
        QTest::newRow("1, file") << "file" << 1 << false;
        QTest::newRow("1, unset") << "" << 1 << false;
        QTest::newRow("4, folder") << "folder" << 4 << false;
    }

    // Quietly either way; and whatever was watched is let go of entirely when the state leaves 1.
    void stateChanges() {
        QFETCH(QString, setting);
        QFETCH(int, state);
        QFETCH(bool, watching);
        QVERIFY(writeFile(_base + QStringLiteral("/file")));
        const QString path = setting.isEmpty() ? QString() : setting == "folder" ? _folder : _base + '/' + setting;
        UserDefaults::standardUserDefaults().setValue(path, QStringLiteral("dropboxFolderPath"));
        const InotifyUsage before = InotifyUsage::current();
        _controller->setState(state);
        QCOMPARE(_watcher->isWatching(), watching);
        QCOMPARE(InotifyUsage::current().descriptors, before.descriptors + (watching ? 1 : 0));
        _controller->setState(0);
        _watcher->stop(); // stopped already: nothing happens
        QCOMPARE(InotifyUsage::current().descriptors, before.descriptors);
        QCOMPARE(InotifyUsage::current().watches, before.watches);
        QCOMPARE(logLines(), QStringList());
    }

    // The controller may stop the watcher from inside the message (it shows the missing-folder warning).
    void delegateMayStopTheWatcherWhenTold() {
        _controller->whenMissing = [this] { _watcher->stop(); };
        _controller->setState(1);
        QVERIFY(rename(QStringLiteral("above"), QStringLiteral("gone")));
        QTRY_VERIFY(!_watcher->isWatching());
        QTest::qWait(kSettleMs);
        QCOMPARE(_controller->missing, 1);
    }

    // Out of descriptors, the stream cannot start: two Error lines, and the watcher stays stopped.
    void streamThatCannotStartIsLogged() {
#ifdef DV_SANITIZE_UNDEFINED
        QSKIP("the undefined-behaviour sanitizer needs descriptors of its own to check object types");
#endif
        DVException::setSymbolToolPath(QStringLiteral("/nonexistent/addr2line"));
        storedEventId(); // the settings are read now, while a descriptor can still be had
        rlimit saved{};
        QVERIFY(::getrlimit(RLIMIT_NOFILE, &saved) == 0);
        rlimit tight = saved;
        tight.rlim_cur = rlim_t(::dup(0)); // the lowest free descriptor becomes the limit
        ::close(int(tight.rlim_cur));
        QVERIFY(::setrlimit(RLIMIT_NOFILE, &tight) == 0);
        _watcher->start(_folder);
        ::setrlimit(RLIMIT_NOFILE, &saved);
        DVException::setSymbolToolPath(QStringLiteral("/usr/bin/addr2line"));
        QVERIFY(!_watcher->isWatching());
        const QStringList lines = logLines();
        QCOMPARE(lines.size(), 2);
        QVERIFY2(lines[0].contains("(DVFolderWatcher:start) Error Exception:  Cannot watch the folder"),
                 qPrintable(lines[0]));
        QVERIFY(lines[1].contains("(DVFolderWatcher:start) Error Backtrace:  "));
        _watcher->start(_folder);
        QVERIFY(_watcher->isWatching());
    }
};

DV_TEST_GUILESS_MAIN(TestFolderWatcher)
#include "tst_folderwatcher.moc"
