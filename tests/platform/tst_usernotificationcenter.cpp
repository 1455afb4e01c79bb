#include "TestMain.h"
#include "TestRows.h"
#include "TestTiming.h"
#include "UserNotificationCenter.h"
#include "Workspace.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QSignalSpy>
#include <thread>

const QString kText = QStringLiteral("R&D <draft>.pdf successfully downloaded to /f");

// Stands in for the desktop's notification service on the test's private session bus.
class FakeNotificationService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Call {
        QString appName;
        QString appIcon;
        QString summary;
        QString body;
        QStringList actions;
        QVariantMap hints;
        int timeout;
    };
    QList<Call> calls;
    QStringList capabilities;

public slots:
    QStringList GetCapabilities() { return capabilities; }
    uint Notify(const QString& appName, uint, const QString& appIcon, const QString& summary, const QString& body,
                const QStringList& actions, const QVariantMap& hints, int timeout) {
        calls.append({appName, appIcon, summary, body, actions, hints, timeout});
        return uint(calls.size());
    }
};

// The file manager, which shows the document selected.
class FakeFileManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

public:
    QStringList shown;

public slots:
    void ShowItems(const QStringList& uris, const QString&) { shown << uris; }
};

class TestUserNotificationCenter : public QObject {
    Q_OBJECT

private slots:
    // The body is escaped only for a service that reads markup; a notification about a document offers
    // actions where the service shows them: a click shows the document, "Open Folder" opens its folder,
    // and a notification the service has closed answers nothing.
    void postsThroughTheNotificationService_data() {
        QTest::addColumn<QStringList>("capabilities");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QStringList>("serviceSignals"); // the service's: "ActionInvoked <key>", "NotificationClosed"
        QTest::addColumn<QString>("body");
        QTest::addColumn<int>("actions");
        QTest::addColumn<QString>("outcome"); // "shown", "opened" or "" (nothing happens)
        const QString text = kText;
        const QStringList both{"actions", "body-markup"};
        row("markup", QStringList{"body-markup"}, QString(), QStringList(),
            QString("R&amp;D &lt;draft&gt;.pdf successfully downloaded to /f"), 0, QString());
        row("no document", QStringList{"actions"}, QString(), QStringList(), text, 0, QString());
        row("click shows", both, QString("/f/R&D <draft>.pdf"), QStringList{"ActionInvoked default"},
            QString("R&amp;D &lt;draft&gt;.pdf successfully downloaded to /f"), 4, QString("shown"));
        // Ids are the service's: a new service's notification 1 is not the last one's.
        row("plain service", QStringList{"body"}, QString("/f/R&D <draft>.pdf"), QStringList{"ActionInvoked default"},
            text, 0, QString());
        row("Open Folder", QStringList{"actions"}, QString("/f/a.pdf"), QStringList{"ActionInvoked open-folder"}, text,
            4, QString("opened"));
        row("closed", QStringList{"actions"}, QString("/f/a.pdf"),
            QStringList{"NotificationClosed", "ActionInvoked default", "ActionInvoked open-folder"}, text, 4,
            QString());
    }
    void postsThroughTheNotificationService() {
        QFETCH(QStringList, capabilities);
        QFETCH(QString, file);
        QFETCH(QStringList, serviceSignals);
        QFETCH(QString, body);
        QFETCH(int, actions);
        QFETCH(QString, outcome);
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected())
            QSKIP("no session bus (run under dbus-run-session)");
        // A connection of its own, so the call really crosses the bus.
        QDBusConnection serviceBus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "fake-service");
        FakeNotificationService service;
        service.capabilities = capabilities;
        QVERIFY(serviceBus.registerObject("/org/freedesktop/Notifications", &service, QDBusConnection::ExportAllSlots));
        QVERIFY(serviceBus.registerService("org.freedesktop.Notifications"));
        FakeFileManager fileManager;
        QVERIFY(
            serviceBus.registerObject("/org/freedesktop/FileManager1", &fileManager, QDBusConnection::ExportAllSlots));
        QVERIFY(serviceBus.registerService("org.freedesktop.FileManager1"));
        QList<QUrl> opened;
        Workspace::setOpener([&opened](const QUrl& url) { return opened.append(url), true; });

        UserNotificationCenter& center = UserNotificationCenter::defaultUserNotificationCenter();
        int fallbacks = 0;
        center.setFallback([&](const UserNotification&) { ++fallbacks; });
        QSignalSpy delivered(&center, &UserNotificationCenter::delivered);

        // From a worker thread too: the coordinator announces documents from its queue.
        std::thread worker([&] { center.deliverNotification({QStringLiteral("Docuvane Fetch"), kText, file}); });
        worker.join();
        QTRY_COMPARE(delivered.size(), 1);

        QCOMPARE(service.calls.size(), 1);
        const auto& call = service.calls.first();
        QCOMPARE(call.appIcon, QStringLiteral("docuvane-fetch")); // the theme's, outside a bundle
        QCOMPARE(call.body, body);
        QCOMPARE(call.actions.size(), actions);
        if (actions)
            QCOMPARE(call.actions.mid(2), (QStringList{"open-folder", "Open Folder"}));
        QCOMPARE(call.hints.value("desktop-entry").toString(), QStringLiteral("docuvane-fetch"));
        QCOMPARE(fallbacks, 0);
        QCOMPARE(delivered.first().at(1).toUInt(), 1u);

        for (const QString& signal : serviceSignals) {
            QDBusMessage message = QDBusMessage::createSignal(
                "/org/freedesktop/Notifications", "org.freedesktop.Notifications", signal.section(' ', 0, 0));
            message << 1u;
            message << (signal.contains(' ') ? QVariant(signal.section(' ', 1)) : QVariant(2u));
            QVERIFY(serviceBus.send(message));
        }
        if (outcome == "shown")
            QTRY_COMPARE(fileManager.shown, QStringList{QUrl::fromLocalFile(file).toString(QUrl::FullyEncoded)});
        if (outcome == "opened")
            QTRY_COMPARE(opened, QList<QUrl>{QUrl::fromLocalFile("/f")});
        QTest::qWait(kSettleMs); // every signal has arrived; nothing else happens
        QCOMPARE(fileManager.shown.size(), outcome == "shown" ? 1 : 0);
        QCOMPARE(opened.size(), outcome == "opened" ? 1 : 0);

        Workspace::setOpener({});
        serviceBus.unregisterService("org.freedesktop.Notifications");
        serviceBus.unregisterService("org.freedesktop.FileManager1");
        QDBusConnection::disconnectFromBus("fake-service");
    }

    void withoutAServiceTheFallbackTakesIt() {
        if (!QDBusConnection::sessionBus().isConnected())
            QSKIP("no session bus (run under dbus-run-session)");
        UserNotificationCenter& center = UserNotificationCenter::defaultUserNotificationCenter();
        QStringList fallen;
        center.setFallback([&](const UserNotification& n) { fallen.append(n.title + "|" + n.informativeText); });
        center.deliverNotification({QStringLiteral("T"), QStringLiteral("lost?")});
        QTRY_COMPARE(fallen, QStringList{"T|lost?"});
    }
};

DV_TEST_GUILESS_MAIN(TestUserNotificationCenter)
#include "tst_usernotificationcenter.moc"
