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
    const Bundle _none{QStringLiteral("/nonexistent.app")}; // a bundle without an information dictionary

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

        // Every key stored, as "key=type value": exactly these, none of the account's or the debug ones.
        const QVariantMap stored = *defaults.persistentDomainForName(defaults.domainName());
        QStringList entries;
        for (auto it = stored.begin(); it != stored.end(); ++it)
            entries.append(it.key() + "=" + it->typeName() + " " + it->toString());
        QCOMPARE(entries,
                 (QStringList{"DVFFolderCheckInterval=qlonglong 3", "DocuvaneServerURL=QString https://docs.example",
                              "SUEnableAutomaticChecks=qlonglong 1", "addToLoginItems=qlonglong 1",
                              "dropboxFolderPath=QString " + QDir::homePath() + "/Desktop/Docuvane Fetch",
                              "lastEventIdKey=qlonglong 0", "useBlackAndWhiteMenuBarIcons=bool true",
                              "useGrowlNotifications=qlonglong 1"}));
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
        ClientSettings(defaults, _none).setUserDefaults();
        QVERIFY(!defaults.valueForKey("DocuvaneServerURL").isValid());
        QVERIFY(!defaults.valueForKey("DVFFolderCheckInterval").isValid());
    }

    void olderDomainReplacesCurrentAndIsRemoved() {
        UserDefaults defaults = freshDefaults();
        defaults.setPersistentDomain({{"email", "new@example.com"}, {"ticket", "T"}}, defaults.domainName());
        const QVariantMap older{{"email", "old@example.com"}, {"password", QByteArray("\x01\x02", 2)}};
        defaults.setPersistentDomain(older, QString::fromLatin1(ClientSettings::kOlderDomain));
        ClientSettings settings(defaults, _none);

        settings.migrateOlderDomain();
        QCOMPARE(*defaults.persistentDomainForName(defaults.domainName()), older);
        QVERIFY(!defaults.persistentDomainForName(QString::fromLatin1(ClientSettings::kOlderDomain)));

        // With no older domain left, migrating again changes nothing.
        settings.migrateOlderDomain();
        QCOMPARE(*defaults.persistentDomainForName(defaults.domainName()), older);

        // Migrated values count as present; only the missing ones are filled in.
        settings.setUserDefaults();
        QCOMPARE(defaults.valueForKey("email").toString(), QStringLiteral("old@example.com"));
        QVERIFY(defaults.valueForKey("dropboxFolderPath").isValid());
    }

    // Writes are announced with their key, so that what shows a value can follow it; typed setters store
    // the types the stored files have always held.
    void writesAreAnnounced() {
        UserDefaults defaults = freshDefaults();
        ClientSettings settings(defaults, _none);
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
};

DV_TEST_GUILESS_MAIN(TestClientSettings)
#include "tst_clientsettings.moc"
