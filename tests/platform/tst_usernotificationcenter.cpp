#include "TestMain.h"
#include "UserNotificationCenter.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QSignalSpy>
#include <thread>

// Stands in for the desktop's notification service on the test's private session bus.
class FakeNotificationService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Call {
        QString appName;
        QString summary;
        QString body;
        QVariantMap hints;
        int timeout;
    };
    QList<Call> calls;

public slots:
    uint Notify(const QString& appName, uint, const QString&, const QString& summary, const QString& body,
                const QStringList&, const QVariantMap& hints, int timeout) {
        calls.append({appName, summary, body, hints, timeout});
        return uint(calls.size());
    }
};

class TestUserNotificationCenter : public QObject {
    Q_OBJECT

private slots:
    void postsThroughTheNotificationService() {
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected())
            QSKIP("no session bus (run under dbus-run-session)");
        // A connection of its own, so the call really crosses the bus.
        QDBusConnection serviceBus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "fake-service");
        FakeNotificationService service;
        QVERIFY(serviceBus.registerObject("/org/freedesktop/Notifications", &service, QDBusConnection::ExportAllSlots));
        QVERIFY(serviceBus.registerService("org.freedesktop.Notifications"));

        UserNotificationCenter& center = UserNotificationCenter::defaultUserNotificationCenter();
        int fallbacks = 0;
        center.setFallback([&](const UserNotification&) { ++fallbacks; });
        QSignalSpy delivered(&center, &UserNotificationCenter::delivered);

        // From a worker thread too: the coordinator announces an empty list from its queue.
        std::thread worker([&center] {
            center.deliverNotification(
                {QStringLiteral("Docuvane Fetch"), QStringLiteral("No new documents to download")});
        });
        worker.join();
        QTRY_COMPARE(delivered.size(), 1);

        QCOMPARE(service.calls.size(), 1);
        const auto& call = service.calls.first();
        QCOMPARE(call.appName, QStringLiteral("Docuvane Fetch"));
        QCOMPARE(call.summary, QStringLiteral("Docuvane Fetch"));
        QCOMPARE(call.body, QStringLiteral("No new documents to download"));
        QCOMPARE(call.hints.value("sound-name").toString(), QStringLiteral("message-new-instant"));
        QCOMPARE(call.hints.value("desktop-entry").toString(), QStringLiteral("docuvane-fetch"));
        QCOMPARE(call.timeout, -1);
        QCOMPARE(fallbacks, 0);
        QCOMPARE(delivered.first().at(1).toUInt(), 1u);

        serviceBus.unregisterService("org.freedesktop.Notifications");
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
