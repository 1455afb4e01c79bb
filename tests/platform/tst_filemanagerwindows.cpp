#include "FileManagerWindows.h"
#include "TestFiles.h"
#include "TestMain.h"
#include "TestRows.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QSignalSpy>

namespace {

using Locations = QMap<QString, QStringList>;

const QString kService = QStringLiteral("org.freedesktop.FileManager1");
const QString kPath = QStringLiteral("/org/freedesktop/FileManager1");
const QString kFolder = QStringLiteral("/home/anna/Desktop/Docuvane Fetch");
const QString kFolderURI = QStringLiteral("file:///home/anna/Desktop/Docuvane%20Fetch");

// One window per location.
Locations windowsShowing(const QStringList& uris) {
    Locations windows;
    for (qsizetype i = 0; i < uris.size(); ++i)
        windows.insert(QStringLiteral("/org/freedesktop/FileManager1/window/%1").arg(i + 1), {uris.at(i)});
    return windows;
}

QDBusMessage callBus(const QString& method) {
    return QDBusConnection::sessionBus().call(
        QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                       QStringLiteral("org.freedesktop.DBus"), method));
}

// The bus's service files of the test's own (XDG_DATA_DIRS, set for this suite).
QString serviceFile() {
    return qEnvironmentVariable("XDG_DATA_DIRS").section(QLatin1Char(':'), 0, 0) +
           QStringLiteral("/dbus-1/services/org.freedesktop.FileManager1.service");
}

} // namespace

// The file manager's service, on a connection of its own on the test's private session bus.
class FakeFileManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
    Q_PROPERTY(Locations OpenWindowsWithLocations MEMBER windows)

public:
    Locations windows;
};

class TestFileManagerWindows : public QObject {
    Q_OBJECT

    QString _connectionName;

private slots:
    void initTestCase() {
        if (!QDBusConnection::sessionBus().isConnected())
            QSKIP("no session bus (run under dbus-run-session)");
        qDBusRegisterMetaType<Locations>();
    }

    void cleanup() {
        if (!_connectionName.isEmpty())
            QDBusConnection::disconnectFromBus(std::exchange(_connectionName, QString()));
        if (QFile::remove(serviceFile()))
            callBus(QStringLiteral("ReloadConfig"));
    }

    // Whether a window shows the fetch folder: 1 yes, 0 no, -1 cannot be told. "after": the locations a
    // PropertiesChanged signal announces next (none: no signal).
    void showsFolder_data() {
        QTest::addColumn<QString>("service");
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<QStringList>("after");
        QTest::addColumn<int>("expected");
        const QStringList none;
        row("the folder", "running", QStringList{"file:///tmp", kFolderURI}, none, 1);
        row("a folder inside it", "running", QStringList{kFolderURI + "/Letters/2024"}, none, 1);
        row("a sibling with a longer name, and the parent", "running",
            QStringList{kFolderURI + "2", "file:///home/anna/Desktop"}, none, 0);
        row("the same path on another machine", "running",
            QStringList{"sftp://host/home/anna/Desktop/Docuvane%20Fetch"}, none, 0);
        row("opened later", "running", QStringList{"file:///tmp"}, QStringList{kFolderURI}, 1);
        row("closed later", "running", QStringList{kFolderURI}, QStringList{"file:///tmp"}, 0);
        row("service absent", "absent", none, none, -1);
        row("file manager started later", "started later", QStringList{kFolderURI}, none, 1);
        row("file manager that does not publish its windows", "without the property", QStringList{kFolderURI}, none,
            -1);
        row("file manager that can be started, not running", "startable", none, none, 0);
    }

    void showsFolder() {
        QFETCH(QString, service);
        QFETCH(QStringList, before);
        QFETCH(QStringList, after);
        QFETCH(int, expected);
        const bool startable =
            callBus(QStringLiteral("ListActivatableNames")).arguments().value(0).toStringList().contains(kService);
        if (startable && (service == "absent" || service == "started later"))
            QSKIP("a file manager can be started on this bus");
        if (service == "startable") {
            QVERIFY(writeFile(serviceFile(), "[D-BUS Service]\nName=org.freedesktop.FileManager1\nExec=/bin/false\n"));
            QCOMPARE(callBus(QStringLiteral("ReloadConfig")).type(), QDBusMessage::ReplyMessage);
        }
        FakeFileManager fake;
        fake.windows = windowsShowing(before);
        _connectionName = QStringLiteral("fake-%1").arg(QTest::currentDataTag());
        QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, _connectionName);
        const auto start = [&] {
            QVERIFY(bus.registerObject(kPath, &fake,
                                       service == "without the property" ? QDBusConnection::ExportAllSlots
                                                                         : QDBusConnection::ExportAllProperties));
            QVERIFY(bus.registerService(kService));
        };
        if (service == "running" || service == "without the property")
            start();

        FileManagerWindows windows(QDBusConnection::sessionBus());
        QSignalSpy changed(&windows, &FileManagerWindows::changed);
        QVERIFY(changed.wait());
        if (service == "started later") {
            start();
            QVERIFY(changed.wait());
        }
        if (!after.isEmpty()) {
            fake.windows = windowsShowing(after);
            QDBusMessage signal = QDBusMessage::createSignal(kPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                             QStringLiteral("PropertiesChanged"));
            signal << kService << QVariantMap{{"OpenWindowsWithLocations", QVariant::fromValue(fake.windows)}}
                   << QStringList();
            QVERIFY(bus.send(signal));
            QVERIFY(changed.wait());
        }
        const std::optional<bool> shown = windows.showsFolder(kFolder);
        QCOMPARE(shown ? int(*shown) : -1, expected);
    }
};

DV_TEST_GUILESS_MAIN(TestFileManagerWindows)
#include "tst_filemanagerwindows.moc"
