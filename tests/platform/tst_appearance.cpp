#include "Appearance.h"
#include "TestFiles.h"
#include "TestMain.h"
#include "TestRows.h"
#include "TestTiming.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QSignalSpy>

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.Settings");

// How the fake portal answers Read for the colour scheme.
enum class Answer { DoubleWrapped, SingleWrapped, Text, Error };

} // namespace

// The desktop portal's settings, on a connection of its own on the test's private session bus.
class FakePortal : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")

public:
    Answer answer = Answer::DoubleWrapped;
    QVariant value;

public slots:
    QDBusVariant Read(const QString& nameSpace, const QString& key) {
        if (answer == Answer::Error || nameSpace != "org.freedesktop.appearance" || key != "color-scheme") {
            sendErrorReply("org.freedesktop.portal.Error.NotFound", "Requested setting not found");
            return {};
        }
        if (answer == Answer::Text)
            return QDBusVariant(QStringLiteral("prefer-dark"));
        if (answer == Answer::SingleWrapped)
            return QDBusVariant(value);
        // The portal of Debian 12 wraps the value in one variant more than it declares.
        return QDBusVariant(QVariant::fromValue(QDBusVariant(value)));
    }
};

class TestAppearance : public QObject {
    Q_OBJECT

private:
    int _connections = 0;

    // A new connection on the session bus, optionally owning the portal's name with the fake on it.
    QDBusConnection connection(FakePortal* portal) {
        const QString name = QStringLiteral("fake-%1").arg(++_connections);
        QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, name);
        if (portal) {
            bus.registerObject(kPath, portal, QDBusConnection::ExportAllSlots);
            bus.registerService(kService);
        }
        return bus;
    }

    static void sendSettingChanged(QDBusConnection& bus, const QString& key, const QVariant& value) {
        QDBusMessage signal = QDBusMessage::createSignal(kPath, kInterface, "SettingChanged");
        signal << QStringLiteral("org.freedesktop.appearance") << key << QVariant::fromValue(QDBusVariant(value));
        bus.send(signal);
    }

private slots:
    void init() {
        if (!QDBusConnection::sessionBus().isConnected())
            QSKIP("no session bus (run under dbus-run-session)");
    }

    // The first answer: the portal's when it has a preference, the GTK theme's otherwise.
    void initialAnswer_data() {
        QTest::addColumn<bool>("portalPresent");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QString>("theme");
        QTest::addColumn<bool>("dark");
        const auto wrapped = int(Answer::DoubleWrapped);
        QTest::newRow("debian portal, dark") << true << wrapped << QVariant(1u) << "Adwaita" << true;
        row("debian portal, light over a dark theme", true, wrapped, QVariant(2u), "Adwaita-dark", false);
        row("current portal, dark", true, int(Answer::SingleWrapped), QVariant(1u), "Adwaita", true);
        QTest::newRow("signed number") << true << wrapped << QVariant(1) << "Adwaita" << true;
        QTest::newRow("no preference: dark theme") << true << wrapped << QVariant(0u) << "Breeze:dark" << true;
        QTest::newRow("unknown number: theme") << true << wrapped << QVariant(7u) << "Adwaita-dark" << true;
        QTest::newRow("text: theme") << true << int(Answer::Text) << QVariant() << "Adwaita-dark" << true;
        QTest::newRow("no portal, dark theme") << false << wrapped << QVariant() << "Adwaita-dark" << true;
    }
    void initialAnswer() {
        QFETCH(bool, portalPresent);
        QFETCH(int, answer);
        QFETCH(QVariant, value);
        QFETCH(QString, theme);
        QFETCH(bool, dark);
        qputenv("GTK_THEME", theme.toUtf8());
        FakePortal portal;
        portal.answer = Answer(answer);
        portal.value = value;
        QDBusConnection bus = connection(portalPresent ? &portal : nullptr);
        Appearance appearance(QDBusConnection::sessionBus());
        // The theme answers at once; the portal's reply may follow.
        QCOMPARE(appearance.isDark(), Appearance::isDarkThemeName(theme));
        QTRY_COMPARE(appearance.isDark(), dark);
        QTest::qWait(kSettleMs); // no second thoughts
        QCOMPARE(appearance.isDark(), dark);
        bus.unregisterService(kService);
        QDBusConnection::disconnectFromBus(bus.name());
    }

    // Changes announced by the portal flip the answer and say so once; others are not heard.
    void changes() {
        qputenv("GTK_THEME", "Adwaita");
        FakePortal portal;
        portal.value = 2u;
        QDBusConnection bus = connection(&portal);
        QDBusConnection impostor = connection(nullptr);
        Appearance appearance(QDBusConnection::sessionBus());
        QSignalSpy changed(&appearance, &Appearance::changed);
        QTest::qWait(kSettleMs); // the first reply (light, as the theme) changes nothing
        QCOMPARE(changed.size(), 0);

        sendSettingChanged(bus, "color-scheme", 1u);
        QVERIFY(changed.wait(5000));
        QVERIFY(appearance.isDark());
        sendSettingChanged(bus, "color-scheme", 1u);      // unchanged
        sendSettingChanged(bus, "accent-color", 2u);      // another setting
        sendSettingChanged(impostor, "color-scheme", 2u); // not the portal
        sendSettingChanged(bus, "color-scheme", 2u);
        QVERIFY(changed.wait(5000));
        QCOMPARE(changed.size(), 2);
        QVERIFY(!appearance.isDark());
        QTest::qWait(kSettleMs);
        QCOMPARE(changed.size(), 2);
        bus.unregisterService(kService);
        QDBusConnection::disconnectFromBus(bus.name());
        QDBusConnection::disconnectFromBus(impostor.name());
    }

    void themeNames_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("dark");
        QTest::newRow("Adwaita-dark") << "Adwaita-dark" << true;
        QTest::newRow("Breeze:dark") << "Breeze:dark" << true;
        QTest::newRow("case") << "Yaru-DARK" << true;
        QTest::newRow("dark inside") << "Darkly-blue" << false;
        QTest::newRow("variant after dark") << "Arc-Dark-solid" << false;
    }
    void themeNames() {
        QFETCH(QString, name);
        QFETCH(bool, dark);
        QCOMPARE(Appearance::isDarkThemeName(name), dark);
    }

    void settingsIni_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("name");
        row("plain", "[Settings]\ngtk-theme-name=Adwaita-dark\n", "Adwaita-dark");
        row("blanks", "[Settings]\n  gtk-theme-name = Arc-Dark \n", "Arc-Dark");
        row("other group", "[Other]\ngtk-theme-name=Adwaita-dark\n", "");
        row("similar key", "[Settings]\ngtk-theme-name-x=Adwaita-dark\n", "");
    }
    void settingsIni() {
        QFETCH(QString, text);
        QFETCH(QString, name);
        QCOMPARE(Appearance::themeNameFromSettingsIni(text), name);
    }

    // Without $GTK_THEME (and with GNOME's setting never changed) the user's GTK settings name the theme.
    void themeFromSettingsFile() {
        qunsetenv("GTK_THEME");
        TestHome home;
        QVERIFY(writeFile(home.configPath() + "/gtk-3.0/settings.ini", "[Settings]\ngtk-theme-name=Materia-dark\n"));
        QCOMPARE(Appearance::currentThemeName(), "Materia-dark");
        QVERIFY(Appearance(QDBusConnection(QString())).isDark());
    }
};

DV_TEST_GUILESS_MAIN(TestAppearance)
#include "tst_appearance.moc"
