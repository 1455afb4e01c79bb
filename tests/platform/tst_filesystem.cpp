#include "FileSystem.h"
#include "FolderTree.h"
#include "TestFiles.h"
#include "TestMain.h"
#include "TestRows.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

using namespace std::chrono_literals;

// The no-follow file layer against what a folder may hold in place of what the caller expects: links
// (to folders, to files, dangling), FIFOs, sockets. Entries are planted with the folder-tree notation.
class TestFileSystem : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> _dir;
    FileDescriptor _folder;
    QString root() const { return _dir->path() + "/in"; }
    QString outside() const { return _dir->path() + "/out"; }

    [[nodiscard]] bool plantAll(const QString& entries) {
        for (QString entry : entries.split(", ", Qt::SkipEmptyParts))
            if (!plant(root(), entry.replace("$out", outside())))
                return false;
        return true;
    }

private slots:
    void init() {
        _dir = std::make_unique<QTemporaryDir>();
        QVERIFY(plant(_dir->path(), "in/") && plant(_dir->path(), "out/secret=s"));
        int error = 0;
        _folder = FileSystem::openFolder(root(), &error);
        QCOMPARE(error, 0);
    }

    // Opening a name as a folder or as a regular file: only the real thing opens, nothing is followed and
    // nothing blocks (a FIFO opened for reading would wait for a writer).
    void openingRefusesStandIns_data() {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<int>("asFolder"); // errno; 0: opens
        QTest::addColumn<int>("asFile");
        row("folder", QString("x/"), 0, EINVAL);
        row("regular file", QString("x=text"), ENOTDIR, 0);
        row("link to a folder", QString("x@$out"), ELOOP, ELOOP);
        row("link to a file", QString("x@$out/secret"), ELOOP, ELOOP);
        row("dangling link", QString("x@$out/none"), ELOOP, ELOOP);
        row("FIFO", QString("x|"), ENOTDIR, EINVAL);
        row("socket", QString("x#"), ENOTDIR, EINVAL);
        row("nothing", QString(), ENOENT, ENOENT);
    }
    void openingRefusesStandIns() {
        QFETCH(QString, entry);
        QFETCH(int, asFolder);
        QFETCH(int, asFile);
        QVERIFY(plantAll(entry));
        int error = -1;
        QCOMPARE(bool(FileSystem::openFolderAt(_folder.get(), "x", &error)), asFolder == 0);
        QCOMPARE(error, asFolder);
        QCOMPARE(bool(FileSystem::openRegularFileAt(_folder.get(), "x", &error)), asFile == 0);
        QCOMPARE(error, asFile);
    }

    // Creating and moving never replace what is at the name, links included, and never write through a link.
    void creatingAndMovingNeverReplace_data() {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<int>("expected");
        row("free name", QString(), 0);
        row("file", QString("x=old"), EEXIST);
        row("link to a file", QString("x@$out/secret"), EEXIST);
        row("dangling link", QString("x@$out/new"), EEXIST);
        row("folder", QString("x/"), EEXIST);
    }
    void creatingAndMovingNeverReplace() {
        QFETCH(QString, entry);
        QFETCH(int, expected);
        QVERIFY(plantAll(entry + ", moving=m"));
        const QString before = tree(_dir->path());
        int error = -1;
        const FileDescriptor created = FileSystem::createFileAt(_folder.get(), "x", 0600, &error);
        QCOMPARE(error, expected);
        QCOMPARE(FileSystem::moveWithoutReplacingAt(_folder.get(), "moving", _folder.get(), "x"),
                 expected ? expected : EEXIST); // by now the created file is there
        QCOMPARE(FileSystem::moveWithoutReplacingAt(_folder.get(), "moving", _folder.get(), "y"), 0);
        QStringList after = before.split(", ");
        after.replace(after.indexOf("in/moving=m"), "in/y=m");
        if (!expected)
            after.append("in/x=");
        after.sort();
        QCOMPARE(tree(_dir->path()), after.join(", "));
    }

    // Old matching regular files go, at any depth up to the limit; links are neither removed nor followed.
    void removingOldFiles() {
        QVERIFY(plantAll("a.tmp=, keep.txt=, new.tmp=, sub/b.tmp=, sub/deep/c.tmp=, link.tmp@$out/secret, "
                         "outlink@$out, fifo.tmp|, folder.tmp/"));
        QVERIFY(writeFile(outside() + "/d.tmp"));
        const auto age = [](const QString& path) {
            const timespec old[2] = {{1000, 0}, {1000, 0}};
            return ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), old, AT_SYMLINK_NOFOLLOW) == 0;
        };
        for (const char* name :
             {"a.tmp", "keep.txt", "sub/b.tmp", "sub/deep/c.tmp", "link.tmp", "fifo.tmp", "folder.tmp", "../out/d.tmp"})
            QVERIFY2(age(root() + "/" + name), name);
        const auto tmp = [](const QString& name) { return name.endsWith(".tmp"); };
        QCOMPARE(FileSystem::removeOldFiles(root(), tmp, std::chrono::system_clock::now() - 1h, 1), 2);
        QCOMPARE(tree(root()), "fifo.tmp|, folder.tmp/, keep.txt=, link.tmp@, new.tmp=, outlink@, sub/, sub/deep/, "
                               "sub/deep/c.tmp=");
        QCOMPARE(tree(outside()), "d.tmp=x, secret=s");
        QCOMPARE(FileSystem::removeOldFiles(root(), tmp, std::chrono::system_clock::now() - 1h), 1);
    }

    void sameContent_data() {
        QTest::addColumn<QByteArray>("a");
        QTest::addColumn<QByteArray>("b");
        QTest::addColumn<bool>("same");
        const QByteArray large(200 * 1024, 'z');
        row("both empty", QByteArray(), QByteArray(), true);
        row("one byte differs", QByteArray("abc"), QByteArray("abd"), false);
        row("prefix", QByteArray("ab"), QByteArray("abc"), false);
        row("equal beyond one read", large, large, true);
        row("last byte of a later read differs", large, QByteArray(large).replace(large.size() - 1, 1, "y"), false);
    }
    void sameContent() {
        QFETCH(QByteArray, a);
        QFETCH(QByteArray, b);
        QFETCH(bool, same);
        QVERIFY(writeFile(root() + "/a", a) && writeFile(root() + "/b", b));
        int error = 0;
        const FileDescriptor fa = FileSystem::openRegularFileAt(_folder.get(), "a", &error);
        const FileDescriptor fb = FileSystem::openRegularFileAt(_folder.get(), "b", &error);
        QVERIFY(::lseek(fa.get(), 1, SEEK_SET) == 1);
        QCOMPARE(FileSystem::sameContent(fa.get(), fb.get()), same);
        QCOMPARE(::lseek(fa.get(), 0, SEEK_CUR), 1); // positions kept
    }

    // The log's file: made owner-only with its folders whatever the umask, appended to afterwards, and a FIFO
    // at its place without a reader fails at once instead of holding up the program for ever.
    void appending() {
        const QString path = root() + "/Logs/deeper/app.log";
        const mode_t umask = ::umask(0);
        int error = -1;
        FileDescriptor fd = FileSystem::openForAppending(path, &error);
        ::umask(umask);
        QVERIFY(fd && error == 0);
        QCOMPARE(QFileInfo(path).permissions() & 0x0777, QFile::ReadUser | QFile::WriteUser);
        QCOMPARE(FileSystem::writeAll(fd.get(), "one\n"), 0);
        fd = FileSystem::openForAppending(path, &error);
        QCOMPARE(FileSystem::writeAll(fd.get(), "two\n"), 0);
        QCOMPARE(tree(root() + "/Logs"), "deeper/, deeper/app.log=one\ntwo\n");

        QVERIFY(plantAll("fifo.log|"));
        QVERIFY(!FileSystem::openForAppending(root() + "/fifo.log", &error));
        QCOMPARE(error, ENXIO);
    }

    void folderChains() {
        const QString path = root() + "/a/b/c";
        QVERIFY(FileSystem::makeFolderChain(path, 0700));
        for (const QString& folder : {root() + "/a", path})
            QCOMPARE(QFileInfo(folder).permissions() & 0x0777, QFile::ReadUser | QFile::WriteUser | QFile::ExeUser);
        QVERIFY(FileSystem::makeFolderChain(path, 0700)); // already there
        QVERIFY(plantAll("file=x"));
        QVERIFY(!FileSystem::makeFolderChain(root() + "/file/sub", 0700));
    }
};

DV_TEST_GUILESS_MAIN(TestFileSystem)
#include "tst_filesystem.moc"
