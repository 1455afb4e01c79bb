#include "FileSystem.h"
#include "FolderTree.h"
#include "TestMain.h"
#include "TrustedPath.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Which places count as the administrator's alone, and removal that never follows a link.
class TestTrustedPath : public QObject {
    Q_OBJECT

    QString _root;

private slots:
    void init() {
        _root = QDir::homePath() + "/tree";
        QDir(_root).removeRecursively();
        QDir().mkpath(_root);
    }

    // "@T" is a folder of the test's, writable by others.
    void trusted_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("trusted");
        QTest::newRow("a system program") << "/usr/bin/env" << true;
        QTest::newRow("a file of the test") << "@T/sub/file" << false;
        QTest::newRow("not a clean path") << "/usr/bin/../bin/env" << false;
    }

    void trusted() {
        QFETCH(QString, path);
        QFETCH(bool, trusted);
        struct stat info {};
        if (trusted && (::stat("/usr/bin", &info) != 0 || info.st_uid != 0 || (info.st_mode & 022)))
            QSKIP("/usr/bin is not the administrator's alone here");
        QVERIFY(plant(_root, "sub/file=x") && ::chmod(QFile::encodeName(_root).constData(), 0777) == 0);
        path.replace("@T", _root);
        QString said;
        QCOMPARE(TrustedPath::isTrustedFile(path, &said), trusted);
        QCOMPARE(said.isEmpty(), trusted); // a refusal says why
    }

    void runningProgramMustBeTheFileNamed() {
        const FileDescriptor self(::open("/proc/self/exe", O_PATH | O_CLOEXEC));
        QString problem;
        QVERIFY(!TrustedPath::isTrustedFile("/usr/bin/env", &problem, self.get()));
        QVERIFY2(problem.contains("no longer the file"), qPrintable(problem));
    }

    // What removing "target" leaves ("@R" is the folder it lies in): never anything a link points to.
    void removal_data() {
        QTest::addColumn<QStringList>("planted");
        QTest::newRow("a folder with a link to a folder inside")
            << QStringList{"target/a/b/c=x", "target/a/l@@R/outside"};
        QTest::newRow("a link to a folder where the folder was") << QStringList{"target@@R/outside"};
        QTest::newRow("a file") << QStringList{"target=x"};
        QTest::newRow("nothing") << QStringList{};
    }

    void removal() {
        QFETCH(QStringList, planted);
        for (const QString& entry : planted + QStringList{"outside/keep=x"})
            QVERIFY(plant(_root, QString(entry).replace("@R", _root)));
        int error = 0;
        const FileDescriptor folder = FileSystem::openFolder(_root, &error);
        QVERIFY(TrustedPath::removeAt(folder.get(), "target"));
        QCOMPARE(tree(_root), "outside/, outside/keep=x");
    }
};

DV_TEST_GUILESS_MAIN(TestTrustedPath)
#include "tst_trustedpath.moc"
