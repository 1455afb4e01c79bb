#include "FileSystemEventStream.h"
#include "InotifyUsage.h"
#include "TestFiles.h"
#include "TestMain.h"

#include <functional>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>

using Event = FileSystemEventStream::Event;
using S = FileSystemEventStream;
using Action = std::function<bool(const QString& root, const QString& outside)>;
Q_DECLARE_METATYPE(Action)

namespace {

constexpr int kSettleMs = 800; // several latency periods: anything still on its way has arrived

void touch(const QString& path) {
    ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), nullptr, 0);
}

} // namespace

class TestFileSystemEventStream : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> _dir;
    std::unique_ptr<FileSystemEventStream> _stream;
    QString _root;
    QList<Event> _events;

    bool startOn(const QString& path, quint64 lastKnownId = 0) {
        _stream = std::make_unique<FileSystemEventStream>(path, 0.2, lastKnownId);
        connect(_stream.get(), &S::eventsArrived, this, [this](const QList<Event>& events) { _events += events; });
        return _stream->start();
    }

    bool has(const QString& relative, quint32 bits) const {
        const QString path = relative.isEmpty() ? _root : _root + QLatin1Char('/') + relative;
        return std::any_of(_events.cbegin(), _events.cend(),
                           [&](const Event& e) { return e.path == path && (e.flags & bits) == bits; });
    }

    int count(quint32 flags) const {
        return int(std::count_if(_events.cbegin(), _events.cend(), [&](const Event& e) { return e.flags == flags; }));
    }

private slots:
    void init() {
        _dir = std::make_unique<QTemporaryDir>(QDir::homePath() + QStringLiteral("/stream-XXXXXX"));
        _root = _dir->path() + QStringLiteral("/watched");
        QVERIFY(QDir().mkpath(_root + QStringLiteral("/sub/deeper")));
        QVERIFY(writeFile(_root + QStringLiteral("/sub/old.txt")));
        _events.clear();
    }

    void cleanup() {
        _stream.reset();
        _dir.reset();
    }

    void changesInside_data() {
        QTest::addColumn<Action>("action");
        QTest::addColumn<QString>("path");
        QTest::addColumn<quint32>("bits");
        QTest::addColumn<QString>("never"); // must not show up in any path
        // The write after a move must come after the stream has seen the move.
        const auto movedAway = [this] { return QTest::qWaitFor([this] { return has("sub", S::ItemRenamed); }); };
        QTest::newRow("deep inside") << Action([](auto r, auto) { return writeFile(r + "/sub/deeper/f"); })
                                     << "sub/deeper/f" << quint32(S::ItemCreated | S::ItemIsFile) << "";
        QTest::newRow("inside new folders") << Action([](auto r, auto) { return writeFile(r + "/made/a/b/f"); })
                                            << "made/a/b/f" << quint32(S::ItemCreated | S::ItemIsFile) << "";
        QTest::newRow("inside a moved folder") << Action([=](auto r, auto) {
            return QDir(r).rename("sub", "moved") && movedAway() && writeFile(r + "/moved/deeper/g");
        }) << "moved/deeper/g" << quint32(S::ItemCreated | S::ItemIsFile)
                                               << "";
        QTest::newRow("folder moved out") << Action([=](auto r, auto outside) {
            return QDir().rename(r + "/sub", outside) && movedAway() && writeFile(outside + "/deeper/after.txt");
        }) << "sub" << quint32(S::ItemRenamed | S::ItemIsDir)
                                          << "after.txt";
    }

    // Every change beneath the folder comes under its own path, in id order, and never looks like a root change.
    void changesInside() {
        QFETCH(Action, action);
        QFETCH(QString, path);
        QFETCH(quint32, bits);
        QFETCH(QString, never);
        QVERIFY(startOn(_root));
        QVERIFY(action(_root, _dir->path() + QStringLiteral("/outside")));
        QTRY_VERIFY_WITH_TIMEOUT(has(path, bits), 5000);
        QTest::qWait(kSettleMs);
        for (qsizetype i = 0; i < _events.size(); ++i) {
            QVERIFY(_events[i].flags != S::RootChanged);
            QVERIFY2(never.isEmpty() || !_events[i].path.contains(never), qPrintable(_events[i].path));
            QVERIFY(i == 0 || _events[i].id > _events[i - 1].id);
        }
    }

    void idsContinueAfterTheLastKnown() {
        QVERIFY(writeFile(_root + QStringLiteral("/before-start")));
        const quint64 stored = FileSystemEventStream::currentEventId() + 1000;
        QVERIFY(startOn(_root, stored));
        QTest::qWait(kSettleMs);
        QVERIFY(_events.isEmpty()); // only what happens from the start on
        QVERIFY(writeFile(_root + QStringLiteral("/a")));
        QTRY_VERIFY(!_events.isEmpty());
        QVERIFY(_events.first().id > stored);
        const quint64 last = _events.last().id;
        QVERIFY(startOn(_root, 5)); // told of an older id, a later stream still never repeats one
        QVERIFY(writeFile(_root + QStringLiteral("/b")));
        QTRY_VERIFY(_events.last().id > last);
    }

    // Told each time the folder goes away, not when it comes back.
    void watchingFollowsThePath() {
        QVERIFY(startOn(_root));
        const QString away = _dir->path() + QStringLiteral("/away");
        QVERIFY(QDir().rename(_root, away));
        QTRY_COMPARE(count(S::RootChanged), 1);
        QVERIFY(QDir().rename(away, _root));
        QTest::qWait(kSettleMs);
        QCOMPARE(count(S::RootChanged), 1);
        QVERIFY(QDir().rename(_root, away));
        QTRY_COMPARE(count(S::RootChanged), 2);
    }

    void overflowAsksForARescan_data() {
        QTest::addColumn<bool>("moveFolder");
        QTest::newRow("changes only") << false;
        QTest::newRow("folder moved meanwhile") << true;
    }

    // More changes than the kernel queues: one rescan event, and a move lost among them is still noticed.
    void overflowAsksForARescan() {
        QFETCH(bool, moveFolder);
        const QString one = _root + QStringLiteral("/one"), two = _root + QStringLiteral("/two");
        QVERIFY(writeFile(one));
        QVERIFY(writeFile(two));
        QVERIFY(startOn(_root));
        QFile limit(QStringLiteral("/proc/sys/fs/inotify/max_queued_events"));
        QVERIFY(limit.open(QIODevice::ReadOnly));
        for (int i = limit.readAll().trimmed().toInt() + 100; i > 0; --i)
            touch(i % 2 ? one : two);
        if (moveFolder)
            QVERIFY(QDir().rename(_root, _dir->path() + QStringLiteral("/elsewhere")));
        QTRY_VERIFY_WITH_TIMEOUT(has(QString(), S::MustScanSubDirs), 5000);
        QTest::qWait(kSettleMs);
        QCOMPARE(count(S::MustScanSubDirs | S::KernelDropped), 1);
        QCOMPARE(count(S::RootChanged), moveFolder ? 1 : 0);
        if (!moveFolder) { // watching goes on
            QVERIFY(writeFile(_root + QStringLiteral("/sub/after")));
            QTRY_VERIFY(has(QStringLiteral("sub/after"), S::ItemCreated));
        }
    }

    void stopReleasesEveryWatch() {
        const InotifyUsage before = InotifyUsage::current();
        QVERIFY(startOn(_root));
        QCOMPARE(InotifyUsage::current().descriptors, before.descriptors + 1);
        QVERIFY(InotifyUsage::current().watches >= before.watches + 3); // the folder, two inside, those above
        _stream->stop();
        QCOMPARE(InotifyUsage::current().descriptors, before.descriptors);
        QCOMPARE(InotifyUsage::current().watches, before.watches);
        QVERIFY(_stream->start()); // a stopped stream starts again; an invalidated one does not
        _stream->invalidate();
        QVERIFY(!_stream->start());
        QCOMPARE(InotifyUsage::current().descriptors, before.descriptors);
        QCOMPARE(InotifyUsage::current().watches, before.watches);
    }
};

DV_TEST_GUILESS_MAIN(TestFileSystemEventStream)
#include "tst_filesystemeventstream.moc"
