#include "TestMain.h"
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

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
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

    // KDE's ".directory" file: only where KDE is the desktop, other content kept, written only on change.
    void kdeDirectoryFile_data() {
        QTest::addColumn<QString>("desktop");
        QTest::addColumn<QByteArray>("before"); // null: no file
        QTest::addColumn<QByteArray>("after");  // null: no file
        QTest::newRow("KDE, no file") << "KDE" << QByteArray() << QByteArray("[Desktop Entry]\nIcon=ICON\n");
        QTest::newRow("KDE among others") << "ubuntu:KDE" << QByteArray() << QByteArray("[Desktop Entry]\nIcon=ICON\n");
        QTest::newRow("KDE, other keys and groups kept")
            << "KDE" << QByteArray("[Desktop Entry]\nName=Fetch\n\n[Other]\nIcon=keep\n")
            << QByteArray("[Desktop Entry]\nIcon=ICON\nName=Fetch\n\n[Other]\nIcon=keep\n");
        QTest::newRow("KDE, older icon replaced") << "KDE" << QByteArray("[Desktop Entry]\nIcon=/old.png\nName=Fetch\n")
                                                  << QByteArray("[Desktop Entry]\nIcon=ICON\nName=Fetch\n");
        QTest::newRow("KDE, group missing")
            << "KDE" << QByteArray("[Other]\nA=1\n") << QByteArray("[Other]\nA=1\n\n[Desktop Entry]\nIcon=ICON\n");
        QTest::newRow("GNOME") << "GNOME" << QByteArray() << QByteArray();
        QTest::newRow("GNOME keeps a file") << "GNOME" << QByteArray("[Desktop Entry]\nIcon=/old.png\n")
                                            << QByteArray("[Desktop Entry]\nIcon=/old.png\n");
        QTest::newRow("name only like KDE") << "KDEish" << QByteArray() << QByteArray();
        QTest::newRow("no desktop") << "" << QByteArray() << QByteArray();
    }
    void kdeDirectoryFile() {
        QFETCH(QString, desktop);
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        qputenv("XDG_CURRENT_DESKTOP", desktop.toUtf8());
        QTemporaryDir dir;
        const QString folder = dir.filePath("Docuvane Fetch");
        const QString icon = dir.filePath("Docuvane Fetch.app/Contents/Resources/FolderIcon.png");
        QDir().mkpath(folder);
        const QString file = folder + "/.directory";
        if (!before.isNull()) {
            QFile existing(file);
            QVERIFY(existing.open(QIODevice::WriteOnly));
            existing.write(before);
        }
        Workspace::setFolderIcon(folder, icon);
        after.replace("ICON", icon.toUtf8());
        QCOMPARE(QFile::exists(file), !after.isNull());
        QCOMPARE(readAll(file), after);
        // Validation sets the icon at every menu opening: the second time, the file stays as it is.
        const ino_t inode = inodeOf(file);
        Workspace::setFolderIcon(folder, icon);
        QCOMPARE(inodeOf(file), inode);
        QCOMPARE(readAll(file), after);
        qunsetenv("XDG_CURRENT_DESKTOP");
    }

    // Nothing to give an icon to: nothing happens.
    void folderIconWithoutFolder() {
        qputenv("XDG_CURRENT_DESKTOP", "KDE");
        QTemporaryDir dir;
        Workspace::setFolderIcon(dir.filePath("missing"), "/icon.png");
        QVERIFY(!QFile::exists(dir.filePath("missing")));
        QFile plain(dir.filePath("plain"));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        Workspace::setFolderIcon(plain.fileName(), "/icon.png");
        QVERIFY(!QFile::exists(plain.fileName() + "/.directory"));
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
