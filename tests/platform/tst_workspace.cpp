#include "TestFiles.h"
#include "TestHome.h"
#include "TestMain.h"
#include "TestRows.h"
#include "TestTiming.h"
#include "Workspace.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QProcess>
#include <QSignalSpy>

#include <sys/stat.h>

namespace {

ino_t inodeOf(const QString& path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_ino : 0;
}

} // namespace

// The file manager's ShowItems, on a connection of its own on the test's private session bus.
class FakeFileManager : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

public:
    bool fails = false;
    QList<QStringList> shown;

public slots:
    void ShowItems(const QStringList& uris, const QString&) {
        shown << uris;
        if (fails)
            sendErrorReply(QDBusError::Failed, "cannot show");
    }
};

class TestWorkspace : public QObject {
    Q_OBJECT

private:
    QList<QUrl> _opened;

private slots:
    void initTestCase() {
        Workspace::setOpener([this](const QUrl& url) {
            _opened << url;
            return true;
        });
    }
    void cleanupTestCase() { Workspace::setOpener({}); }
    void init() { _opened.clear(); }

    // The folder is shown selected by the file manager; without one (or when it fails) its parent opens.
    void selectFile_data() {
        QTest::addColumn<QString>("fileManager"); // none, answers, fails
        QTest::addColumn<bool>("parentOpened");
        QTest::newRow("file manager answers") << "answers" << false;
        QTest::newRow("file manager fails") << "fails" << true;
        QTest::newRow("no file manager") << "none" << true;
    }
    void selectFile() {
        QFETCH(QString, fileManager);
        QFETCH(bool, parentOpened);
        if (!QDBusConnection::sessionBus().isConnected())
            QSKIP("no session bus (run under dbus-run-session)");
        QTemporaryDir dir;
        const QString folder = dir.filePath("Docuvane Fetch ü");
        QDir().mkpath(folder);
        FakeFileManager manager;
        manager.fails = fileManager == "fails";
        QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "file-manager");
        if (fileManager != "none") {
            QVERIFY(bus.registerObject("/org/freedesktop/FileManager1", &manager, QDBusConnection::ExportAllSlots));
            QVERIFY(bus.registerService("org.freedesktop.FileManager1"));
        }
        Workspace::selectFile(folder);
        if (fileManager != "none")
            QTRY_COMPARE(manager.shown.size(), 1);
        if (parentOpened)
            QTRY_COMPARE(_opened, QList<QUrl>{QUrl::fromLocalFile(dir.path())});
        if (fileManager != "none")
            QCOMPARE(manager.shown.first(), QStringList{QUrl::fromLocalFile(folder).toString(QUrl::FullyEncoded)});
        if (!parentOpened) {
            QTest::qWait(kSettleMs); // the reply has come; nothing else opens
            QVERIFY(_opened.isEmpty());
        }
        bus.unregisterService("org.freedesktop.FileManager1");
        QDBusConnection::disconnectFromBus("file-manager");
    }

    // A URL with a secret reaches the desktop as the file:// URL of a page only this user can read, which
    // forwards to it; earlier pages go once they are old. "xdg-open" here records what it was given.
    void openURLPrivately_data() {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("opened");
        QTest::newRow("ticket") << "https://127.0.0.1:9/htmlclient/index.html?ticket=AbC%2B%2F%3D" << true;
        QTest::newRow("quotes and markup") << "http://h/p?a='x'&b=\"</script><b>\\u0041" << true;
        QTest::newRow("not http") << "javascript:alert(1)" << false;
    }
    void openURLPrivately() {
        QFETCH(QString, url);
        QFETCH(bool, opened);
        QTemporaryDir dir;
        const QString runtime = dir.filePath("run");
        QDir().mkpath(runtime);
        QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        const QString tool = dir.filePath("xdg-open");
        QVERIFY(writeFile(
            tool, "#!/bin/sh\ncd \"$(dirname \"$0\")\"\n"
                  "page=\"${1#file://}\"; stat -c %a \"$page\" > mode; cat \"$page\" > page; echo \"$*\" > args.new\n"
                  "mv args.new args\n"));
        QFile::setPermissions(tool, QFile::permissions(tool) | QFileDevice::ExeOwner);
        QFile old(runtime + "/open-url-old.html"), fresh(runtime + "/open-url-fresh.html");
        QVERIFY(old.open(QIODevice::WriteOnly) && fresh.open(QIODevice::WriteOnly));
        QVERIFY(old.setFileTime(QDateTime::currentDateTime().addSecs(-600), QFileDevice::FileModificationTime));
        const QByteArray savedPath = qgetenv("PATH"), savedRuntime = qgetenv("XDG_RUNTIME_DIR");
        qputenv("PATH", QFile::encodeName(dir.path()) + ":" + savedPath);
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
        Workspace::setOpener({});
        const bool result = Workspace::openURLPrivately(QUrl(url));
        initTestCase();
        qputenv("PATH", savedPath);
        qputenv("XDG_RUNTIME_DIR", savedRuntime);

        QCOMPARE(result, opened);
        QCOMPARE(QDir(runtime).entryList(QDir::Files).size(), 2); // the new page instead of the old one
        QCOMPARE(QFile::exists(old.fileName()), !opened);
        if (!opened)
            return;
        QTRY_VERIFY(QFile::exists(dir.filePath("args")));
        const QString target = QUrl(url).toString(QUrl::FullyEncoded);
        const QString args = QString::fromUtf8(readFile(dir.filePath("args"))).trimmed();
        QVERIFY2(args.startsWith("file://" + runtime + "/open-url-") && !args.contains("?"), qPrintable(args));
        QCOMPARE(readFile(dir.filePath("mode")), QByteArray("600\n"));
        // What a browser reads from the page: the refresh's address unescaped as HTML, the script's as JavaScript.
        const QString page = QString::fromUtf8(readFile(dir.filePath("page")));
        const QString refresh = QRegularExpression("content=\"0; url=([^\"]*)\"").match(page).captured(1);
        QCOMPARE(QString(refresh)
                     .replace("&#39;", "'")
                     .replace("&quot;", "\"")
                     .replace("&lt;", "<")
                     .replace("&gt;", ">")
                     .replace("&amp;", "&"),
                 target);
        QString script = QRegularExpression("location.replace\\(\"([^\"]*)\"\\)").match(page).captured(1);
        for (QRegularExpressionMatch m; (m = QRegularExpression("\\\\u([0-9a-f]{4})").match(script)).hasMatch();)
            script.replace(m.capturedStart(), 6, QChar(m.captured(1).toUShort(nullptr, 16)));
        QCOMPARE(script, target);
    }

    // KDE's ".directory" file: only where KDE is the desktop, other content kept, written only on change.
    void kdeDirectoryFile_data() {
        QTest::addColumn<QString>("desktop");
        QTest::addColumn<QByteArray>("before"); // null: no file
        QTest::addColumn<QByteArray>("after");  // null: no file
        QTest::addColumn<QString>("iconName");
        QTest::addColumn<QByteArray>("written"); // the icon's name as the file holds it
        const auto on = [](const char* name, const char* desktop, const QByteArray& before, const QByteArray& after,
                           const QString& iconName = "FolderIcon.png", const QByteArray& written = "FolderIcon.png") {
            row(name, QString(desktop), before, after, iconName, written);
        };
        const QByteArray none;
        on("KDE, no file", "KDE", none, "[Desktop Entry]\nIcon=ICON\n");
        on("KDE among others", "ubuntu:KDE", none, "[Desktop Entry]\nIcon=ICON\n");
        on("KDE, other keys and groups kept", "KDE", "[Desktop Entry]\nName=Fetch\n\n[Other]\nIcon=keep\n",
           "[Desktop Entry]\nIcon=ICON\nName=Fetch\n\n[Other]\nIcon=keep\n");
        on("KDE, group missing", "KDE", "[Other]\nA=1\n", "[Other]\nA=1\n\n[Desktop Entry]\nIcon=ICON\n");
        on("GNOME", "GNOME", none, none);
        on("name only like KDE", "KDEish", none, none);
        // A line end in the path is escaped, so it cannot add a key of its own.
        on("KDE, escapes", "KDE", none, "[Desktop Entry]\nIcon=ICON\n", "a\\b\nHidden=true\r\t.png",
           "a\\\\b\\nHidden=true\\r\\t.png");
    }
    void kdeDirectoryFile() {
        QFETCH(QString, desktop);
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        QFETCH(QString, iconName);
        QFETCH(QByteArray, written);
        qputenv("XDG_CURRENT_DESKTOP", desktop.toUtf8());
        QTemporaryDir dir;
        const QString folder = dir.filePath("Docuvane Fetch");
        const QString icon = dir.filePath("Docuvane Fetch.app/Contents/Resources/") + iconName;
        QDir().mkpath(folder);
        const QString file = folder + "/.directory";
        if (!before.isNull())
            QVERIFY(writeFile(file, before));
        Workspace::setFolderIcon(folder, icon);
        after.replace("ICON", dir.filePath("Docuvane Fetch.app/Contents/Resources/").toUtf8() + written);
        QCOMPARE(QFile::exists(file), !after.isNull());
        QCOMPARE(readFile(file), after);
        // Validation sets the icon at every menu opening: the second time, the file stays as it is.
        const ino_t inode = inodeOf(file);
        Workspace::setFolderIcon(folder, icon);
        QCOMPARE(inodeOf(file), inode);
        QCOMPARE(readFile(file), after);
        qunsetenv("XDG_CURRENT_DESKTOP");
    }

    // Nothing to give an icon to: nothing happens.
    void folderIconWithoutFolder() {
        qputenv("XDG_CURRENT_DESKTOP", "KDE");
        QTemporaryDir dir;
        Workspace::setFolderIcon(dir.filePath("missing"), "/icon.png");
        QVERIFY(!QFile::exists(dir.filePath("missing")));
        QVERIFY(writeFile(dir.filePath("plain"), ""));
        Workspace::setFolderIcon(dir.filePath("plain"), "/icon.png");
        QVERIFY(!QFile::exists(dir.filePath("plain") + "/.directory"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList{"plain"});
        qunsetenv("XDG_CURRENT_DESKTOP");
    }

    // GIO's metadata store, where the machine has one.
    void gioCustomIcon() {
        QTemporaryDir dir;
        const QString icon = dir.filePath("Folder Icon.png");
        Workspace::setFolderIcon(dir.path(), icon);
        const QString recorded = Workspace::folderIcon(dir.path());
        if (recorded.isEmpty())
            QSKIP("no GIO metadata store on this machine");
        QCOMPARE(recorded, QUrl::fromLocalFile(icon).toString(QUrl::FullyEncoded));
    }

    // logind on a private "system" bus: only the end of a sleep is a wake, and only from logind.
    void wake() {
        QProcess daemon;
        daemon.start("dbus-daemon", {"--session", "--nofork", "--nopidfile", "--print-address=1"});
        QVERIFY(daemon.waitForReadyRead(10000));
        const QString address = QString::fromUtf8(daemon.readLine()).trimmed();
        QVERIFY(!address.isEmpty());
        Workspace& workspace = Workspace::sharedWorkspace();
        QVERIFY(workspace.observeWake(QDBusConnection::connectToBus(address, "system")));

        QDBusConnection logind = QDBusConnection::connectToBus(address, "logind");
        QVERIFY(logind.registerService("org.freedesktop.login1"));
        QDBusConnection impostor = QDBusConnection::connectToBus(address, "impostor");
        const auto prepareForSleep = [](QDBusConnection& bus, bool sleeping) {
            QDBusMessage signal = QDBusMessage::createSignal("/org/freedesktop/login1",
                                                             "org.freedesktop.login1.Manager", "PrepareForSleep");
            signal << sleeping;
            bus.send(signal);
        };
        QSignalSpy woke(&workspace, &Workspace::didWake);
        prepareForSleep(logind, true);
        prepareForSleep(impostor, false);
        prepareForSleep(logind, false);
        QVERIFY(woke.wait(5000));
        QTest::qWait(kSettleMs); // the going to sleep and the impostor's wake: no more signals
        QCOMPARE(woke.size(), 1);

        QDBusConnection::disconnectFromBus("logind");
        QDBusConnection::disconnectFromBus("impostor");
        QDBusConnection::disconnectFromBus("system");
        daemon.terminate();
        QVERIFY(daemon.waitForFinished(10000));
    }

    void noSystemBus() {
        QTemporaryDir dir;
        const QDBusConnection none =
            QDBusConnection::connectToBus("unix:path=" + dir.filePath("no-bus-here"), "no-system-bus");
        QVERIFY(!Workspace::sharedWorkspace().observeWake(none));
        QDBusConnection::disconnectFromBus("no-system-bus");
    }
};

DV_TEST_GUILESS_MAIN(TestWorkspace)
#include "tst_workspace.moc"
