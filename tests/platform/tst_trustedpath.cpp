#include "FileSystem.h"
#include "TestHome.h"
#include "TrustedPath.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Which places count as the administrator's alone, and removal that never follows a link.
class TestTrustedPath : public QObject {
    Q_OBJECT

    QString _root;

    static void touch(const QString& path) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }

private slots:
    void init() {
        _root = QDir::homePath() + "/tree";
        QDir(_root).removeRecursively();
        QDir().mkpath(_root);
    }

    // "@T" is a folder of the test's: never trusted, since /tmp and the test's home are writable by others
    // or owned by the tester.
    void trusted_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("trusted");
        QTest::newRow("a system program") << "/usr/bin/env" << true;
        QTest::newRow("a file of the test") << "@T/sub/file" << false;
        QTest::newRow("a link on the way") << "@T/link/file" << false;
        QTest::newRow("not a clean path") << "/usr/bin/../bin/env" << false;
        QTest::newRow("relative") << "usr/bin/env" << false;
    }

    void trusted() {
        QFETCH(QString, path);
        QFETCH(bool, trusted);
        struct stat info {};
        if (trusted && (::stat("/usr/bin", &info) != 0 || info.st_uid != 0 || (info.st_mode & 022)))
            QSKIP("/usr/bin is not the administrator's alone here");
        touch(_root + "/sub/file");
        QVERIFY(QFile::link(_root + "/sub", _root + "/link"));
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

    // What removal leaves: "@T/tree" is removed, "@O" lies outside it and must stay whole.
    void removal_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("a folder with a link to a folder inside") << "nested";
        QTest::newRow("a link to a folder where the folder was") << "swapped";
        QTest::newRow("a file") << "file";
        QTest::newRow("nothing") << "missing";
    }

    void removal() {
        QFETCH(QString, kind);
        const QString outside = QDir::homePath() + "/outside";
        touch(outside + "/keep/me");
        const QString target = _root + "/target";
        if (kind == "nested") {
            touch(target + "/a/b/c");
            QVERIFY(QFile::link(outside, target + "/a/link"));
        } else if (kind == "swapped") {
            QVERIFY(QFile::link(outside, target));
        } else if (kind == "file") {
            touch(target);
        }
        int error = 0;
        const FileDescriptor folder = FileSystem::openFolder(_root, &error);
        QVERIFY(folder);
        QVERIFY(TrustedPath::removeAt(folder.get(), "target"));
        QVERIFY(!QFileInfo::exists(target) && !QFileInfo(target).isSymLink());
        QVERIFY(QFile::exists(outside + "/keep/me"));
    }
};

DV_TEST_GUILESS_MAIN(TestTrustedPath)
#include "tst_trustedpath.moc"
