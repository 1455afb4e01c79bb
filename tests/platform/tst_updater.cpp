#include "Appcast.h"
#include "ScriptedHttpServer.h"
#include "TestMain.h"
#include "TestRows.h"
#include "Updater.h"
#include "UserDefaults.h"
#include "Workspace.h"

#include <QDateTime>
#include <QSignalSpy>

namespace {

QByteArray feed(const QByteArray& items) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
           "<rss version=\"2.0\" xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\">\n"
           "<channel><title>Docuvane Fetch</title>\n" +
           items + "</channel></rss>\n";
}

QByteArray item(const QByteArray& version, const QByteArray& shortVersion, const QByteArray& link) {
    QByteArray text = "<item><title>Docuvane Fetch</title>";
    if (!link.isNull())
        text += "<link>" + link + "</link>";
    if (!version.isNull())
        text += "<sparkle:version>" + version + "</sparkle:version>";
    if (!shortVersion.isNull())
        text += "<sparkle:shortVersionString>" + shortVersion + "</sparkle:shortVersionString>";
    return text + "</item>\n";
}

// "version|short|link" per item, the way the tables below write what a feed should give.
QStringList summary(const QList<AppcastItem>& items) {
    QStringList lines;
    for (const AppcastItem& item : items)
        lines << item.version + '|' + item.shortVersion + '|' + item.link.toString();
    return lines;
}

} // namespace

class TestUpdater : public QObject {
    Q_OBJECT

private:
    QTemporaryDir _settings;
    int _counter = 0;
    QList<QUrl> _opened;

    std::unique_ptr<UserDefaults> freshDefaults() {
        return std::make_unique<UserDefaults>(UserDefaults::standardDomainName(),
                                              _settings.path() + QStringLiteral("/%1").arg(++_counter));
    }

private slots:
    void initTestCase() {
        Workspace::setOpener([this](const QUrl& url) {
            _opened << url;
            return true;
        });
    }
    void cleanupTestCase() { Workspace::setOpener({}); }
    void init() { _opened.clear(); }

    void compareVersions_data() {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<int>("order");
        row("numeric, not textual", "1.10", "1.9", 1);
        row("missing part is zero", "1.0", "1", 0);
        row("longer is newer", "1.0.1", "1.0", 1);
        row("beyond 64 bits", "1.99999999999999999999999", "1.99999999999999999999998", 1);
        row("pre-release before release", "2.0b1", "2.0", -1);
        row("pre-releases by text", "2.0b2", "2.0b1", 1);
        row("blanks around", " 1.2 ", "1.2", 0);
        row("empty is zero", "", "0", 0);
        row("text only part", "1.x", "1.0", -1);
    }
    void compareVersions() {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(int, order);
        QCOMPARE(Appcast::compareVersions(a, b), order);
        QCOMPARE(Appcast::compareVersions(b, a), -order);
    }

    void downloadLinks_data() {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("acceptable");
        QTest::newRow("https") << "https://docuvane.example/download" << true;
        QTest::newRow("http elsewhere") << "http://docuvane.example/download" << false;
        QTest::newRow("http loopback v4") << "http://127.0.0.1:8080/download" << true;
        QTest::newRow("http loopback other v4") << "http://127.1.2.3/download" << true;
        QTest::newRow("http loopback v6") << "http://[::1]:8080/download" << true;
        QTest::newRow("http localhost") << "http://localhost/download" << true;
        QTest::newRow("http localhost lookalike") << "http://localhost.evil.example/" << false;
        QTest::newRow("file") << "file:///etc/passwd" << false;
        QTest::newRow("no host") << "https:///download" << false;
        QTest::newRow("credentials") << "https://user:pw@docuvane.example/" << false;
        QTest::newRow("relative") << "/download" << false;
    }
    void downloadLinks() {
        QFETCH(QString, url);
        QFETCH(bool, acceptable);
        QCOMPARE(Appcast::isAcceptableDownloadURL(QUrl(url)), acceptable);
        auto defaults = freshDefaults();
        Updater updater(QString(), "1.0", defaults.get());
        QCOMPARE(updater.openDownloadPage(QUrl(url)), acceptable);
        QCOMPARE(_opened.size(), acceptable ? 1 : 0);
    }

    void parse_data() {
        QTest::addColumn<QByteArray>("xml");
        QTest::addColumn<bool>("readable");
        QTest::addColumn<QStringList>("items");
        const QByteArray https = "https://docuvane.example/fetch";
        row("one item", feed(item("120", "1.2", https)), true, QStringList{"120|1.2|https://docuvane.example/fetch"});
        row("short version missing: the version stands in", feed(item("1.3", {}, https)), true,
            QStringList{"1.3|1.3|https://docuvane.example/fetch"});
        row("version missing: skipped", feed(item({}, "1.3", https) + item("1.1", "1.1", https)), true,
            QStringList{"1.1|1.1|https://docuvane.example/fetch"});
        QTest::newRow("link missing: skipped") << feed(item("1.3", "1.3", {})) << true << QStringList{};
        row("http link elsewhere: skipped", feed(item("1.3", "1.3", "http://docuvane.example/fetch")), true,
            QStringList{});
        row("relative link resolved against the feed", feed(item("1.3", "1.3", "/download")), true,
            QStringList{"1.3|1.3|https://updates.example/download"});
        row("versions on the enclosure",
            feed("<item><link>" + https +
                 "</link><enclosure url=\"https://x.example/a.deb\" sparkle:version=\"7\" "
                 "sparkle:shortVersionString=\"0.7\"/></item>"),
            true, QStringList{"7|0.7|https://docuvane.example/fetch"});
        row("element outside the sparkle namespace is not a version",
            feed("<item><link>" + https + "</link><version>9</version></item>"), true, QStringList{});
        QTest::newRow("empty channel") << feed("") << true << QStringList{};
        row("unknown elements skipped",
            feed("<language>en</language>" + item("2", "2", https) + "<extra><item>x</item></extra>"), true,
            QStringList{"2|2|https://docuvane.example/fetch"});
        QTest::newRow("not XML") << QByteArray("<!DOCTYPE html><p>Maintenance") << false << QStringList{};
        QTest::newRow("not RSS") << QByteArray("<feed><entry/></feed>") << false << QStringList{};
        QTest::newRow("no channel") << QByteArray("<rss version=\"2.0\"></rss>") << false << QStringList{};
        QTest::newRow("empty") << QByteArray() << false << QStringList{};
        row("entity expansion refused",
            QByteArray("<?xml version=\"1.0\"?><!DOCTYPE rss [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b "
                       "\"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">]><rss><channel><item><title>&b;</title>"
                       "</item></channel></rss>"),
            false, QStringList{});
    }
    void parse() {
        QFETCH(QByteArray, xml);
        QFETCH(bool, readable);
        QFETCH(QStringList, items);
        QString problem;
        const std::optional<QList<AppcastItem>> parsed =
            Appcast::parse(xml, QUrl("https://updates.example/appcast.xml"), &problem);
        QCOMPARE(parsed.has_value(), readable);
        QCOMPARE(problem.isEmpty(), readable);
        if (parsed)
            QCOMPARE(summary(*parsed), items);
    }

    void newestItem() {
        const auto at = [](const char* version) {
            return AppcastItem{{}, version, version, QUrl("https://docuvane.example/")};
        };
        const QList<AppcastItem> items{at("1.2"), at("1.10"), at("1.9"), at("0.9")};
        QCOMPARE(Appcast::newestItemNewerThan(items, "1.2")->version, "1.10");
        QVERIFY(!Appcast::newestItemNewerThan(items, "1.10"));
        QVERIFY(!Appcast::newestItemNewerThan({}, "0"));
    }

    // One check against a scripted server, in the background and interactively: what the user is shown.
    void check_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("interactive");
        QTest::addColumn<QString>("expected"); // found:<version>, none, failed or silent
        QTest::addColumn<QString>("answer");   // the user's earlier answer: skip:<version>, remind:<version>:<ago>
        const QByteArray newer = feed(item("1.3", "1.3 (beta)", "https://docuvane.example/fetch"));
        const QByteArray same = feed(item("1.2.0", "1.2", "https://docuvane.example/fetch"));
        row("newer, background", 200, newer, false, "found:1.3", "");
        row("same, background", 200, same, false, "silent", "");
        row("same, interactive", 200, same, true, "none", "");
        row("server error, background", 500, newer, false, "silent", "");
        row("server error, interactive", 500, newer, true, "failed", "");
        row("malformed, interactive", 200, QByteArray("<rss><channel>"), true, "failed", "");
        row("too large, interactive", 200, QByteArray(5 * 1024 * 1024, ' '), true, "failed", "");
        row("skipped, background", 200, newer, false, "silent", "skip:1.3");
        row("skipped, interactive", 200, newer, true, "found:1.3", "skip:1.3");
        row("older one skipped, background", 200, newer, false, "found:1.3", "skip:1.2.5");
        row("postponed an hour ago, background", 200, newer, false, "silent", "remind:1.3:3600");
        row("postponed an hour ago, interactive", 200, newer, true, "found:1.3", "remind:1.3:3600");
        row("postponed a day ago, background", 200, newer, false, "found:1.3", "remind:1.3:86400");
        row("older one postponed, background", 200, newer, false, "found:1.3", "remind:1.2.5:3600");
        row("postponed in the future, background", 200, newer, false, "found:1.3", "remind:1.3:-3600");
    }
    void check() {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(bool, interactive);
        QFETCH(QString, expected);
        QFETCH(QString, answer);
        ScriptedHttpServer server([&](const ScriptedHttpServer::Request&) { return server.reply(body, status); });
        auto defaults = freshDefaults();
        const QStringList given = answer.split(':');
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        if (given.size() > 1) {
            // Answered by an earlier run of the client: only the settings carry it over.
            Updater earlier(QString(), "1.2", defaults.get());
            earlier.setClock([&] { return now - given.value(2).toLongLong(); });
            given[0] == "skip" ? earlier.skipVersion(given[1]) : earlier.remindLater(given[1]);
        }
        Updater updater(server.baseURL() + "/appcast.xml", "1.2", defaults.get());
        updater.setClock([now] { return now; });
        QSignalSpy found(&updater, &Updater::updateFound);
        QSignalSpy none(&updater, &Updater::noUpdateFound);
        QSignalSpy failed(&updater, &Updater::checkFailed);
        interactive ? updater.checkForUpdates() : updater.checkForUpdatesInBackground();
        QVERIFY(updater.isChecking());
        QTRY_VERIFY_WITH_TIMEOUT(!updater.isChecking(), 20000);
        QCOMPARE(server.requests().size(), size_t(1));
        QCOMPARE(server.requests().front().target, QByteArray("/appcast.xml"));
        // Every answer heard, in one line: one at most, none when silent.
        QStringList heard = QStringList(none.size(), "none") + QStringList(failed.size(), "failed");
        for (const QList<QVariant>& arguments : found)
            heard << "found:" + arguments.at(0).toString();
        QCOMPARE(heard.join(' '), expected == "silent" ? QString() : expected);
        if (!found.isEmpty()) {
            QCOMPARE(found.first().at(1).toString(), "1.3 (beta)");
            QCOMPARE(found.first().at(2).toUrl(), QUrl("https://docuvane.example/fetch"));
        }
        QVERIFY(qAbs(defaults->integerForKey("SULastCheckTime") - QDateTime::currentSecsSinceEpoch()) < 60);
        QVERIFY(_opened.isEmpty()); // nothing opens by itself
    }

    // A feed nobody should trust, or none at all: nothing is asked of the network.
    void feedsNotAsked_data() {
        QTest::addColumn<QString>("feedURL");
        QTest::addColumn<int>("failures");
        QTest::newRow("no feed") << QString() << 0;
        QTest::newRow("http elsewhere") << "http://updates.example/appcast.xml" << 1;
        QTest::newRow("not a URL") << "updates example" << 1;
    }
    void feedsNotAsked() {
        QFETCH(QString, feedURL);
        QFETCH(int, failures);
        auto defaults = freshDefaults();
        defaults->setInteger(1, "SUEnableAutomaticChecks");
        Updater updater(feedURL, "1.0", defaults.get());
        QSignalSpy failed(&updater, &Updater::checkFailed);
        updater.setUpdateCheckInterval(86400);
        updater.checkForUpdates();
        QTRY_VERIFY(!updater.isChecking());
        QCOMPARE(failed.size(), failures);
        if (feedURL.isEmpty()) {
            QCOMPARE(updater.secondsUntilNextCheck(), -1);
            QVERIFY(!defaults->valueForKey("SULastCheckTime").isValid());
        }
    }

    // When the next automatic check falls, from the switch and the time of the last check.
    void schedule_data() {
        QTest::addColumn<QVariant>("enabled");
        QTest::addColumn<qint64>("lastCheckAgo"); // seconds; -1: never checked
        QTest::addColumn<int>("interval");
        QTest::addColumn<qint64>("expected"); // -1: none; else seconds, within a minute
        QTest::newRow("checked an hour ago") << QVariant(1) << qint64(3600) << 86400 << qint64(82800);
        QTest::newRow("overdue") << QVariant(1) << qint64(90000) << 86400 << qint64(0);
        QTest::newRow("never checked") << QVariant(1) << qint64(-1) << 86400 << qint64(0);
        QTest::newRow("clock set back") << QVariant(1) << qint64(-86400 * 3) << 86400 << qint64(0);
        QTest::newRow("switched off") << QVariant(0) << qint64(90000) << 86400 << qint64(-1);
        QTest::newRow("switch absent") << QVariant() << qint64(90000) << 86400 << qint64(-1);
        QTest::newRow("no interval") << QVariant(1) << qint64(90000) << 0 << qint64(-1);
    }
    void schedule() {
        QFETCH(QVariant, enabled);
        QFETCH(qint64, lastCheckAgo);
        QFETCH(int, interval);
        QFETCH(qint64, expected);
        auto defaults = freshDefaults();
        defaults->setValue(enabled, "SUEnableAutomaticChecks");
        if (lastCheckAgo != -1)
            defaults->setInteger(QDateTime::currentSecsSinceEpoch() - lastCheckAgo, "SULastCheckTime");
        // A feed that is never reached: the overdue rows would otherwise start a real request at once.
        Updater updater("https://updates.invalid/appcast.xml", "1.0", defaults.get());
        updater.setUpdateCheckInterval(interval);
        const qint64 next = updater.secondsUntilNextCheck();
        if (expected == -1)
            QCOMPARE(next, -1);
        else
            QVERIFY2(next >= 0 && qAbs(next - expected) < 60, qPrintable(QString::number(next)));
    }

    void switchIsTheSetting() {
        auto defaults = freshDefaults();
        Updater updater("https://updates.invalid/appcast.xml", "1.0", defaults.get());
        updater.setUpdateCheckInterval(86400);
        defaults->setInteger(QDateTime::currentSecsSinceEpoch(), "SULastCheckTime");
        // Stored where the schedule reads it (see schedule), and the schedule follows at once.
        for (const bool on : {true, false}) {
            updater.setAutomaticallyChecksForUpdates(on);
            QCOMPARE(defaults->valueForKey("SUEnableAutomaticChecks"), QVariant(qint64(on)));
            QCOMPARE(updater.secondsUntilNextCheck() > 86000, on);
        }
    }

    // An automatic check that is due runs by itself and reports a found update.
    void automaticCheckRuns() {
        ScriptedHttpServer server([](const ScriptedHttpServer::Request&) {
            return ScriptedHttpServer::reply(feed(item("2.0", "2.0", "https://docuvane.example/fetch")));
        });
        auto defaults = freshDefaults();
        defaults->setInteger(1, "SUEnableAutomaticChecks");
        defaults->setInteger(QDateTime::currentSecsSinceEpoch() - 86401, "SULastCheckTime");
        Updater updater(server.baseURL() + "/appcast.xml", "1.0", defaults.get());
        QSignalSpy found(&updater, &Updater::updateFound);
        updater.setUpdateCheckInterval(86400);
        QVERIFY(found.wait(20000));
        QCOMPARE(server.requests().size(), size_t(1));
        QTRY_VERIFY(updater.secondsUntilNextCheck() > 86000); // and the next one a day later
    }

    // A check asked for while one runs is answered by it, interactively when either asked so.
    void checkDuringCheck() {
        ScriptedHttpServer server([](const ScriptedHttpServer::Request&) {
            return ScriptedHttpServer::reply(feed(item("1.0", "1.0", "https://docuvane.example/fetch")), 200, false,
                                             300);
        });
        auto defaults = freshDefaults();
        Updater updater(server.baseURL() + "/appcast.xml", "1.0", defaults.get());
        QSignalSpy none(&updater, &Updater::noUpdateFound);
        updater.checkForUpdatesInBackground();
        updater.checkForUpdates();
        QVERIFY(none.wait(20000));
        QCOMPARE(server.requests().size(), size_t(1));
    }

    // The updater may go while its request is still out; the late reply must not reach it.
    void destroyedDuringCheck() {
        ScriptedHttpServer server([](const ScriptedHttpServer::Request&) {
            return ScriptedHttpServer::reply(feed(item("9", "9", "https://docuvane.example/fetch")), 200, false, 200);
        });
        auto defaults = freshDefaults();
        auto updater = std::make_unique<Updater>(server.baseURL() + "/appcast.xml", "1.0", defaults.get());
        updater->checkForUpdates();
        updater.reset();
        QTRY_COMPARE_WITH_TIMEOUT(server.requests().size(), size_t(1), 20000);
        // A second updater's check completes normally after the first one's reply was dropped.
        Updater second(server.baseURL() + "/appcast.xml", "1.0", defaults.get());
        QSignalSpy found(&second, &Updater::updateFound);
        second.checkForUpdates();
        QVERIFY(found.wait(20000));
        QCOMPARE(found.size(), 1);
    }
};

DV_TEST_GUILESS_MAIN(TestUpdater)
#include "tst_updater.moc"
