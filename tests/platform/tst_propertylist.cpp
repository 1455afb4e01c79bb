#include "PropertyList.h"
#include "TestMain.h"
#include "TestRows.h"

#include <QDateTime>

#include <limits>

namespace {

QByteArray plist(const QByteArray& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">" + body + "</plist>\n";
}

} // namespace

// Settings files and Info.plist are property lists: every value must come back as it went in (the plain
// scalars are covered through the settings store in tst_userdefaults), and a damaged file must be told from
// a list.
class TestPropertyList : public QObject {
    Q_OBJECT

private slots:
    void roundTrip_data() {
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QVariant>("expected"); // invalid: the value itself
        const QVariant same;
        row("largest integer", QVariant(std::numeric_limits<qint64>::max()), same);
        row("smallest integer", QVariant(std::numeric_limits<qint64>::min()), same);
        row("int becomes a 64-bit integer", QVariant(int(7)), QVariant(qint64(7)));
        row("whole real stays real", QVariant(2.0), same);
        row("text with markup and quotes", QVariant(QStringLiteral("Grüße, \"quoted\" <tag> & more")), same);
        row("false", QVariant(false), same);
        row("data of any bytes", QVariant(QByteArray("\x00\x01\xff", 3)), same);
        row("empty data", QVariant(QByteArray("")), same);
        row("date (whole seconds)", QVariant(QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC)), same);
        row("date before the list epoch", QVariant(QDateTime::fromSecsSinceEpoch(631152000, Qt::UTC)), same);
        row("list of mixed values", QVariant(QVariantList{qint64(1), "a", QVariantList{true}}), same);
        row("text list becomes a list", QVariant(QStringList{"a", "b"}), QVariant(QVariantList{"a", "b"}));
        row("empty dictionary", QVariant(QVariantMap{}), same);
        row("nested dictionary", QVariant(QVariantMap{{"in", QVariantMap{{"deeper", qint64(1)}}}}), same);
        row("what cannot be stored is left out", QVariant(QVariantMap{{"a", qint64(1)}, {"b", QPointF(1, 2)}}),
            QVariant(QVariantMap{{"a", qint64(1)}}));
    }
    void roundTrip() {
        QFETCH(QVariant, value);
        QFETCH(QVariant, expected);
        if (!expected.isValid())
            expected = value;
        const QVariantMap domain{{"key", value}};
        const std::optional<QVariant> back = PropertyList::fromXml(PropertyList::toXml(domain));
        QVERIFY(back);
        QCOMPARE(back->toMap().value("key"), expected);
        QCOMPARE(back->toMap().value("key").typeId(), expected.typeId());
    }

    void canRepresent_data() {
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<bool>("representable");
        row("text", QVariant("a"), true);
        row("nested containers", QVariant(QVariantMap{{"a", QVariantList{qint64(1), QByteArray("x")}}}), true);
        row("invalid value", QVariant(), false);
        row("point deep inside", QVariant(QVariantMap{{"a", QVariantList{QPointF(1, 2)}}}), false);
    }
    void canRepresent() {
        QFETCH(QVariant, value);
        QFETCH(bool, representable);
        QCOMPARE(PropertyList::canRepresent(value), representable);
    }

    // A damaged or foreign file is no property list; a root other than a dictionary is one.
    void reading_data() {
        QTest::addColumn<QByteArray>("xml");
        QTest::addColumn<bool>("readable");
        row("empty file", QByteArray(), false);
        row("not XML", QByteArray("key = value"), false);
        row("cut short", plist("<dict><key>a</key><string>x</string></dict>").chopped(20), false);
        row("value without a key", plist("<dict><string>v</string></dict>"), false);
        row("unknown element", plist("<dict><key>a</key><colour>red</colour></dict>"), false);
        row("undefined entity", plist("<dict><key>a</key><string>&bogus;</string></dict>"), false);
        row("binary property list", QByteArray("bplist00\xd1\x01\x02", 11), false);
        row("root integer", plist("<integer>7</integer>"), true);
        row("root list", plist("<array><string>a</string></array>"), true);
    }
    void reading() {
        QFETCH(QByteArray, xml);
        QFETCH(bool, readable);
        QCOMPARE(PropertyList::fromXml(xml).has_value(), readable);
    }
};

DV_TEST_GUILESS_MAIN(TestPropertyList)
#include "tst_propertylist.moc"
