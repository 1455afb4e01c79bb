#include "DVDocumentWriter.h"
#include "FolderTree.h"
#include "TestMain.h"
#include "TestRows.h"

#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <thread>

namespace {

bool exists(const QString& path) {
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0;
}

// Sets an entry's times (a link's own) back by some hours.
bool age(const QString& path, int hours) {
    const timespec then{time(nullptr) - 3600L * hours, 0};
    const timespec times[2] = {then, then};
    return ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

} // namespace

class TestDocumentWriter : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> _fetchFolder;
    QString root() const { return _fetchFolder->path(); }

private slots:
    void init() { _fetchFolder = std::make_unique<QTemporaryDir>(); }

    // How a document that does not arrive leaves the fetch folder: the temporary file is always gone, the
    // folders made for it are removed when empty, folders that were there before or that hold something
    // else stay. "during" entries appear while the document is being written.
    void endings_data() {
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QStringList>("during");
        QTest::addColumn<QString>("ending");
        QTest::addColumn<QString>("expected");
        const QStringList none;
        row("discard: made folders removed", none, "A/B/C", none, "discard", "");
        row("discard: folders there before kept", QStringList{"A/"}, "A/B", none, "discard", "A/");
        row("discard: made folder holding another file kept", none, "A/B", QStringList{"A/other=x"}, "discard",
            "A/, A/other=x");
        row("discard: at the fetch folder itself", QStringList{"keep=1"}, "", none, "discard", "keep=1");
        row("abandon from another thread", none, "A/B", none, "abandon", "");
        row("abandon every writer", none, "A", none, "abandonAll", "");
        row("destroyed unfinished", none, "A", none, "destroy", "");
        row("commit keeps made folders", none, "A/B", none, "commit", "A/, A/B/, A/B/a.pdf=data");
        row("commit refused by a link: folder holding it kept", none, "A", QStringList{"A/a.pdf@/nonexistent"},
            "commit", "A/, A/a.pdf@");
        row("commit after abandon", none, "A", none, "abandon+commit", "");
    }

    void endings() {
        QFETCH(QStringList, before);
        QFETCH(QString, path);
        QFETCH(QStringList, during);
        QFETCH(QString, ending);
        QFETCH(QString, expected);
        for (const QString& entry : before)
            QVERIFY(plant(root(), entry));
        auto writer = std::make_unique<DVDocumentWriter>(root(), path, "a.pdf");
        QVERIFY(!writer->open());
        QVERIFY(!writer->write("data"));
        QVERIFY(exists(writer->temporaryPath()));
        QVERIFY(DVDocumentWriter::isTemporaryFileName(QFileInfo(writer->temporaryPath()).fileName()));
        for (const QString& entry : during)
            QVERIFY(plant(root(), entry));
        const QString temporary = writer->temporaryPath();
        if (ending == "discard") {
            writer->discard();
        } else if (ending.startsWith("abandon")) {
            std::thread([&] {
                if (ending == "abandonAll")
                    DVDocumentWriter::abandonAll();
                else
                    writer->abandon();
            }).join();
            // Gone before the owner hears of it; the owner's next steps fail as cancelled.
            QVERIFY(!exists(temporary));
            const auto error = ending.endsWith("commit") ? writer->commit() : writer->write("more");
            QVERIFY(error && error->code() == ECANCELED);
        } else if (ending == "destroy") {
            writer.reset();
        } else {
            const auto error = writer->commit();
            QCOMPARE(bool(error), expected.contains("@"));
        }
        QVERIFY(!exists(temporary));
        QCOMPARE(tree(root()), expected);
    }

    // Temporary files left by a killed process: every file of that form that no live writer holds goes,
    // whatever its age and wherever it is in the fetch folder; nothing behind a link is looked at. "writer:"
    // entries are the files of writers alive in this process (a lock of their own, as another process's).
    void staleTemporaryFiles_data() {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<int>("hours");
        QTest::addColumn<bool>("removed");
        row("old", ".docuvane-0123456789abcdef.part=x", 48, true);
        row("old, in a subfolder", "In/2024/.docuvane-1.part=x", 25, true);
        row("recent: its writer is gone", ".docuvane-0123456789abcdef.part=x", 0, true);
        row("held by a live writer", "writer:", 0, false);
        row("held by a live writer, old, in a subfolder", "writer:In/2024", 48, false);
        row("other name: no dot", "docuvane-1.part=x", 48, false);
        row("other name: longer suffix", ".docuvane-1.partial=x", 48, false);
        row("other name: document", "a.pdf=x", 48, false);
        row("folder of that name", ".docuvane-1.part/", 48, false);
        row("FIFO of that name", ".docuvane-1.part|", 48, false);
        row("link of that name to an old file outside", ".docuvane-1.part@$out/.docuvane-2.part", 48, false);
        row("old file behind a linked folder", "In@$out", 48, false);
    }

    void staleTemporaryFiles() {
        QFETCH(QString, entry);
        QFETCH(int, hours);
        QFETCH(bool, removed);
        QTemporaryDir outside;
        QVERIFY(plant(outside.path(), ".docuvane-2.part=x"));
        QVERIFY(plant(root(), "keep.pdf=1"));
        std::unique_ptr<DVDocumentWriter> writer;
        QString name = entry.section('@', 0, 0).section('=', 0, 0).remove(QRegularExpression("[/|]$"));
        if (entry.startsWith("writer:")) {
            writer = std::make_unique<DVDocumentWriter>(root(), entry.mid(7), "a.pdf");
            QVERIFY(!writer->open());
            name = QDir(root()).relativeFilePath(writer->temporaryPath());
        } else {
            QVERIFY(plant(root(), QString(entry).replace("$out", outside.path())));
        }
        QVERIFY(age(root() + "/" + name, hours));
        QVERIFY(age(outside.path() + "/.docuvane-2.part", hours));
        QCOMPARE(DVDocumentWriter::removeStaleTemporaryFiles(root()), removed ? 1 : 0);
        QCOMPARE(exists(root() + "/" + name), !removed);
        QVERIFY(exists(root() + "/keep.pdf"));
        QVERIFY(exists(outside.path() + "/.docuvane-2.part"));
        // The writer goes on undisturbed.
        if (writer) {
            QVERIFY(!writer->write("data"));
            QVERIFY(!writer->commit());
            QVERIFY(exists(writer->finalPath()));
        }
    }

    void staleTemporaryFilesGoInTheBackground() {
        QVERIFY(plant(root(), "In/.docuvane-1.part=x"));
        QVERIFY(age(root() + "/In/.docuvane-1.part", 30));
        DVDocumentWriter::removeStaleTemporaryFilesInBackground(root());
        QTRY_VERIFY(!exists(root() + "/In/.docuvane-1.part"));
        QVERIFY(exists(root() + "/In"));
    }
};

DV_TEST_GUILESS_MAIN(TestDocumentWriter)
#include "tst_documentwriter.moc"
