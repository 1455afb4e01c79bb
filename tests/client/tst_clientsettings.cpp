#include "Bundle.h"
#include "ClientSettings.h"
#include "PropertyList.h"
#include "TestFiles.h"
#include "TestMain.h"
#include "UserDefaults.h"

namespace {

// A bundle on disk with the given information dictionary.
QString makeBundle(const QTemporaryDir& dir, const QVariantMap& info) {
    const QString path = dir.path() + QStringLiteral("/Docuvane Fetch.app");
    QDir().mkpath(path + QStringLiteral("/Contents/Resources"));
    return writeFile(path + QStringLiteral("/Contents/Info.plist"), PropertyList::toXml(info)) ? path : QString();
}

} // namespace

class TestClientSettings : public QObject {
    Q_OBJECT

private:
    QTemporaryDir _settings;
    int _counter = 0;

    UserDefaults freshDefaults() {
        return UserDefaults(UserDefaults::standardDomainName(),
                            _settings.path() + QStringLiteral("/%1").arg(++_counter));
    }

private slots:
    void firstLaunchFillsEveryDefault() {
        QTemporaryDir dir;
        const Bundle bundle(
            makeBundle(dir, {{"DocuvaneServerURL", "https://docs.example"}, {"DVFFolderCheckInterval", qint64(3)}}));
        UserDefaults defaults = freshDefaults();
        ClientSettings(defaults, bundle).setUserDefaults();

        const QVariantMap stored = *defaults.persistentDomainForName(defaults.domainName());
        QCOMPARE(stored.value("dropboxFolderPath").toString(), QDir::homePath() + "/Desktop/Docuvane Fetch");
        QCOMPARE(stored.value("addToLoginItems").typeId(), int(QMetaType::LongLong));
        QCOMPARE(stored.value("addToLoginItems").toLongLong(), 1);
        QCOMPARE(stored.value("lastEventIdKey").toLongLong(), 0);
        QCOMPARE(stored.value("useGrowlNotifications").toLongLong(), 1);
        QCOMPARE(stored.value("useBlackAndWhiteMenuBarIcons").typeId(), int(QMetaType::Bool));
        QCOMPARE(stored.value("useBlackAndWhiteMenuBarIcons").toBool(), true);
        QCOMPARE(stored.value("SUEnableAutomaticChecks").toLongLong(), 1);
        QCOMPARE(stored.value("DocuvaneServerURL").typeId(), int(QMetaType::QString));
        QCOMPARE(stored.value("DVFFolderCheckInterval").typeId(), int(QMetaType::LongLong));
        QCOMPARE(stored.value("DVFFolderCheckInterval").toLongLong(), 3);
        for (const char* key : {"email", "password", "ticket", "openDropbox", "Debug"})
            QVERIFY2(!stored.contains(key), key);
    }

    void presentValuesAreNeverReplaced() {
        QTemporaryDir dir;
        const Bundle bundle(makeBundle(dir, {{"DocuvaneServerURL", "https://docs.example"}}));
        UserDefaults defaults = freshDefaults();
        const QVariantMap before{{"dropboxFolderPath", QString(QLatin1String(""))},
                                 {"addToLoginItems", qint64(0)},
                                 {"lastEventIdKey", qint64(99)},
                                 {"useGrowlNotifications", qint64(0)},
                                 {"useBlackAndWhiteMenuBarIcons", false},
                                 {"SUEnableAutomaticChecks", qint64(0)},
                                 {"DocuvaneServerURL", "http://127.0.0.1:8080"},
                                 {"DVFFolderCheckInterval", 2.5}};
        defaults.setPersistentDomain(before, defaults.domainName());
        ClientSettings(defaults, bundle).setUserDefaults();
        QCOMPARE(*defaults.persistentDomainForName(defaults.domainName()), before);
    }

    void bundleWithoutInformationLeavesKeysAbsent() {
        UserDefaults defaults = freshDefaults();
        const Bundle none(QStringLiteral("/nonexistent.app"));
        ClientSettings(defaults, none).setUserDefaults();
        QVERIFY(!defaults.valueForKey("DocuvaneServerURL").isValid());
        QVERIFY(!defaults.valueForKey("DVFFolderCheckInterval").isValid());
    }

    void olderDomainReplacesCurrentAndIsRemoved() {
        UserDefaults defaults = freshDefaults();
        defaults.setPersistentDomain({{"email", "new@example.com"}, {"ticket", "T"}}, defaults.domainName());
        const QVariantMap older{{"email", "old@example.com"}, {"password", QByteArray("\x01\x02", 2)}};
        defaults.setPersistentDomain(older, QString::fromLatin1(ClientSettings::kOlderDomain));
        const Bundle none(QStringLiteral("/nonexistent.app"));
        ClientSettings settings(defaults, none);

        settings.migrateOlderDomain();
        QCOMPARE(*defaults.persistentDomainForName(defaults.domainName()), older);
        QVERIFY(!defaults.persistentDomainForName(QString::fromLatin1(ClientSettings::kOlderDomain)));

        // Migrated values count as present; only the missing ones are filled in.
        settings.setUserDefaults();
        QCOMPARE(defaults.valueForKey("email").toString(), QStringLiteral("old@example.com"));
        QVERIFY(defaults.valueForKey("dropboxFolderPath").isValid());
    }

    // Writes are announced with their key, so that what shows a value can follow it; typed setters store
    // the types the stored files have always held.
    void writesAreAnnounced() {
        UserDefaults defaults = freshDefaults();
        const Bundle none(QStringLiteral("/nonexistent.app"));
        ClientSettings settings(defaults, none);
        QSignalSpy changed(&settings, &ClientSettings::changed);
        settings.setAddToLoginItems(false);
        settings.setBlackAndWhiteIcons(false);
        settings.setPassword(QStringLiteral("pw"));
        settings.removeTicket();
        QCOMPARE(changed.size(), 4);
        QCOMPARE(changed.at(0).at(0).value<ClientSettings::Key>(), ClientSettings::Key::AddToLoginItems);
        QCOMPARE(changed.at(3).at(0).value<ClientSettings::Key>(), ClientSettings::Key::Ticket);
        QCOMPARE(defaults.valueForKey("addToLoginItems").typeId(), int(QMetaType::LongLong));
        QCOMPARE(defaults.valueForKey("useBlackAndWhiteMenuBarIcons").typeId(), int(QMetaType::Bool));
        QCOMPARE(settings.password(), QStringLiteral("pw"));
    }

    void noOlderDomainChangesNothing() {
        UserDefaults defaults = freshDefaults();
        defaults.setValue("kept", "email");
        const Bundle none(QStringLiteral("/nonexistent.app"));
        ClientSettings(defaults, none).migrateOlderDomain();
        QCOMPARE(defaults.valueForKey("email").toString(), QStringLiteral("kept"));
    }
};

DV_TEST_GUILESS_MAIN(TestClientSettings)
#include "tst_clientsettings.moc"
