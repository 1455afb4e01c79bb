#include "Bundle.h"
#include "PropertyList.h"
#include "TestFiles.h"
#include "TestMain.h"

class TestBundle : public QObject {
    Q_OBJECT

private slots:

    void infoDictionaryAndStrings() {
        QTemporaryDir dir;
        const QString bundlePath = dir.path() + "/X.app";
        QVERIFY(writeFile(bundlePath + "/Contents/Info.plist",
                          PropertyList::toXml(QVariantMap{{"DocuvaneServerURL", "http://127.0.0.1:1"},
                                                          {"DVFFolderCheckInterval", qint64(5)}})));
        QVERIFY(writeFile(bundlePath + "/Contents/Resources/Localizable.strings",
                          "/* renamed keys */\n\"ticket\" = \"ticket2\";\n// line comment\n\"a\\\"b\" = \"c\\nd\";\n"));

        const Bundle bundle(bundlePath);
        QCOMPARE(bundle.objectForInfoDictionaryKey("DocuvaneServerURL").typeId(), int(QMetaType::QString));
        QCOMPARE(bundle.objectForInfoDictionaryKey("DVFFolderCheckInterval").typeId(), int(QMetaType::LongLong));
        QVERIFY(!bundle.objectForInfoDictionaryKey("missing").isValid());
        QCOMPARE(bundle.localizedString("ticket"), QStringLiteral("ticket2"));
        QCOMPARE(bundle.localizedString("a\"b"), QStringLiteral("c\nd"));
        QCOMPARE(bundle.localizedString("email"), QStringLiteral("email"));
    }
};

DV_TEST_GUILESS_MAIN(TestBundle)
#include "tst_bundle.moc"
