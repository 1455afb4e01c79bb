#include "DVFolderMover.h"
#include "MainThread.h"
#include "TestFiles.h"
#include "TestMain.h"

#include <QDirIterator>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <filesystem>
#include <optional>

#include <sys/stat.h>

namespace {

using Result = DVFolderMover::Result;

// Every entry under a folder as "relative path: kind and content", sorted.
QStringList describeTree(const QString& root) {
    QStringList entries;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info = it.fileInfo();
        QString entry = QDir(root).relativeFilePath(path) + QStringLiteral(": ");
        if (info.isSymLink()) {
            entry += QStringLiteral("link to ") +
                     QString::fromStdString(std::filesystem::read_symlink(path.toStdString()).string());
        } else if (info.isDir()) {
            entry += QStringLiteral("folder");
        } else if (!info.isFile()) {
            entry += QStringLiteral("special");
        } else {
            QFile file(path);
            file.open(QIODevice::ReadOnly);
            entry +=
                QString::fromUtf8(file.readAll().left(40)) + QStringLiteral(" size ") + QString::number(info.size());
        }
        entries.append(entry);
    }
    entries.sort();
    return entries;
}

// A rename that cannot cross from the source's file system: the first rename (the folder itself) fails as
// across file systems; later ones (the copy put in place beside the target) succeed.
DVFolderMover::Renamer crossDeviceRenamer(int* calls) {
    return [calls](const QString& from, const QString& to) { return ++*calls > 1 && QDir().rename(from, to); };
}

} // namespace

class TestFolderMover : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> _work;
    QString _source;
    QStringList _sourceTree;

    QString work(const QString& relative) const { return _work->path() + QLatin1Char('/') + relative; }

private slots:
    void init() {
        _work = std::make_unique<QTemporaryDir>();
        _source = work(QStringLiteral("Desktop/Docuvane Fetch"));
        QVERIFY(writeFile(_source + QStringLiteral("/Bank/statement.pdf"), QByteArray(3 << 20, 'x') + "tail"));
        QVERIFY(writeFile(_source + QStringLiteral("/.hidden"), "hidden"));
        QVERIFY(writeFile(_source + QStringLiteral("/Ünïcode name.txt"), "text"));
        QDir().mkpath(_source + QStringLiteral("/Empty folder"));
        QFile::link(QStringLiteral("Bank/statement.pdf"), _source + QStringLiteral("/shortcut"));
        _sourceTree = describeTree(_source);
    }

    void movesAlongWithEverythingInIt_data() {
        QTest::addColumn<bool>("acrossFileSystems");
        QTest::addColumn<int>("expected");
        QTest::newRow("same file system: one rename") << false << int(Result::Renamed);
        QTest::newRow("rename refused across file systems: copy, verify, remove") << true << int(Result::Copied);
    }
    void movesAlongWithEverythingInIt() {
        QFETCH(bool, acrossFileSystems);
        QFETCH(int, expected);
        int calls = 0;
        const DVFolderMover mover = acrossFileSystems ? DVFolderMover(crossDeviceRenamer(&calls)) : DVFolderMover();
        const QString target = work(QStringLiteral("Documents/new place/Docuvane Fetch"));
        QString problem;
        QCOMPARE(int(mover.move(_source, target, &problem)), expected);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        QCOMPARE(describeTree(target), _sourceTree);
        QVERIFY(!QFileInfo::exists(_source));
        // No staging copy is left beside the target.
        QCOMPARE(QDir(work(QStringLiteral("Documents/new place")))
                     .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{QStringLiteral("Docuvane Fetch")});
    }

    void movesToAnotherRealFileSystem() {
        QTemporaryDir other(QStringLiteral("/dev/shm/docuvane-test-XXXXXX"));
        struct stat a {
        }, b{};
        if (!other.isValid() || ::stat(qPrintable(other.path()), &b) != 0 || ::stat(qPrintable(_source), &a) != 0 ||
            a.st_dev == b.st_dev)
            QSKIP("no second file system to move to");
        const QString target = other.path() + QStringLiteral("/Docuvane Fetch");
        QString problem;
        QCOMPARE(DVFolderMover().move(_source, target, &problem), Result::Copied);
        QCOMPARE(describeTree(target), _sourceTree);
        QVERIFY(!QFileInfo::exists(_source));
    }

    void aFailureLeavesTheOriginalComplete_data() {
        QTest::addColumn<QString>("setup");
        QTest::newRow("target already exists") << QStringLiteral("target exists");
        QTest::newRow("target inside the folder") << QStringLiteral("inside");
        QTest::newRow("a pipe cannot be copied") << QStringLiteral("fifo");
        QTest::newRow("the copy cannot be put in place") << QStringLiteral("no rename");
        QTest::newRow("source is no folder") << QStringLiteral("file source");
    }
    void aFailureLeavesTheOriginalComplete() {
        QFETCH(QString, setup);
        QString source = _source;
        QString target = work(QStringLiteral("Elsewhere/Docuvane Fetch"));
        DVFolderMover::Renamer renamer = [](const QString&, const QString&) { return false; };
        int calls = 0;
        if (setup == QLatin1String("target exists")) {
            QVERIFY(writeFile(target + QStringLiteral("/mine.txt"), "mine"));
        } else if (setup == QLatin1String("inside")) {
            target = _source + QStringLiteral("/Bank/Docuvane Fetch");
        } else if (setup == QLatin1String("fifo")) {
            QVERIFY(::mkfifo(qPrintable(_source + QStringLiteral("/Bank/pipe")), 0600) == 0);
            renamer = crossDeviceRenamer(&calls);
        } else if (setup == QLatin1String("file source")) {
            source = _source + QStringLiteral("/.hidden");
        }
        const QStringList before = describeTree(_source);
        const QStringList targetBefore = describeTree(target);
        QString problem;
        QCOMPARE(DVFolderMover(renamer).move(source, target, &problem), Result::Failed);
        QVERIFY(!problem.isEmpty());
        QCOMPARE(describeTree(_source), before);
        QCOMPARE(describeTree(target), targetBefore);
        // Nothing half-made is left anywhere in the work folder.
        QDirIterator it(_work->path(), {QStringLiteral(".docuvane-move-*")}, QDir::AllEntries | QDir::Hidden,
                        QDirIterator::Subdirectories);
        QVERIFY(!it.hasNext());
    }

    void movesOffTheMainThreadAndReportsThere() {
        std::atomic<bool> onMain{false};
        int calls = 0;
        DVFolderMover mover([&](const QString& from, const QString& to) {
            onMain = MainThread::isMainThread();
            return crossDeviceRenamer(&calls)(from, to);
        });
        const QString target = work(QStringLiteral("Other/Docuvane Fetch"));
        std::optional<Result> result;
        mover.moveInBackground(_source, target, [&](Result r, const QString&) {
            QVERIFY(MainThread::isMainThread());
            result = r;
        });
        QTRY_VERIFY_WITH_TIMEOUT(result, 20000);
        QCOMPARE(*result, Result::Copied);
        QVERIFY(!onMain);
        QCOMPARE(describeTree(target), _sourceTree);
    }
};

DV_TEST_GUILESS_MAIN(TestFolderMover)
#include "tst_foldermover.moc"
