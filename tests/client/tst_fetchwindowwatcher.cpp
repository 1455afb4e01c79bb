#include "DVFetchWebServices.h"
#include "DVFetchWindowWatcher.h"
#include "DVPasswordCipher.h"
#include "TestFiles.h"
#include "TestMain.h"
#include "TestRows.h"
#include "TestService.h"
#include "Timer.h"
#include "UserDefaults.h"
#include "UserNotificationCenter.h"
#include "WSLogger.h"
#include "X11TestWindows.h"

#include <QGuiApplication>

#include <atomic>
#include <memory>

namespace {

using Windows = QList<WindowDescription>;

UserDefaults& settings() {
    return UserDefaults::standardUserDefaults();
}

// "owner|title|layer|sharing", "-" for a missing owner or title; layer and sharing default to 0 and 1.
Windows windows(const QStringList& lines) {
    Windows list;
    for (const QString& line : lines) {
        const QStringList parts = line.split(QLatin1Char('|'));
        WindowDescription window;
        window.ownerName = parts.at(0) == QLatin1String("-") ? QString() : parts.at(0);
        window.name = parts.value(1) == QLatin1String("-") ? QString() : parts.value(1);
        window.layer = parts.value(2, QStringLiteral("0")).toInt();
        window.sharingState = parts.value(3, QStringLiteral("1")).toInt();
        list.append(window);
    }
    return list;
}

const QStringList kFolderInFront{"org.gnome.Nautilus|Docuvane Fetch"};

} // namespace

// Stands in for the scheduler: the state the watcher follows, and the reports a window watcher's coordinator
// and the watcher itself send.
class StandInController : public QObject,
                          public CheckForDocumentsStartDelegate,
                          public DVWindowWatcherCheckFinishedDelegate {
public:
    void setState(int state) { watcher->followState(ClientState(state)); }
    void checkForDocumentsStart() override { ++starts; }
    void windowWatcherCheckFinished() override { ++finished; }

    DVFetchWindowWatcher* watcher = nullptr;
    std::atomic<int> starts{0};
    int finished = 0; // main thread
};

class TestFetchWindowWatcher : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> _work;
    std::unique_ptr<StandInController> _controller;
    std::unique_ptr<DVFetchWindowWatcher> _watcher;
    Windows _onScreen;
    int _checks = 0;

    // A watcher made now (so that it reads the settings as they are), scanning _onScreen.
    void makeWatcher() {
        _watcher = std::make_unique<DVFetchWindowWatcher>(_controller.get());
        _watcher->setWindowSource([this] { return std::optional(_onScreen); });
        _watcher->setCheckAction([this] { ++_checks; });
        _controller->watcher = _watcher.get();
    }

    QStringList logLines(const QString& containing) const {
        const QString log = QString::fromUtf8(readFile(_work->filePath(QStringLiteral("DocuvaneFetch.log"))));
        return log.split(QLatin1Char('\n')).filter(containing);
    }

private slots:
    void initTestCase() {
        TimerTestClock::enable();
        // Notifications are recorded nowhere and shown on no desktop.
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
        UserNotificationCenter::defaultUserNotificationCenter().setFallback([](const UserNotification&) {});
    }

    void init() {
        _work = std::make_unique<QTemporaryDir>();
        WSLogger::sharedInstance().setFileName(_work->filePath(QStringLiteral("DocuvaneFetch.log")));
        settings().setPersistentDomain({}, UserDefaults::standardDomainName());
        _controller = std::make_unique<StandInController>();
        _onScreen.clear();
        _checks = 0;
        makeWatcher();
    }

    void cleanup() {
        _watcher.reset();
        _controller.reset();
    }

    // One scan: which windows at the front ask for a check.
    void scan_data() {
        QTest::addColumn<QStringList>("frontToBack");
        QTest::addColumn<int>("checks");
        QTest::newRow("the folder in front") << kFolderInFront << 1;
        row("another application in front of it",
            QStringList{"firefox-esr|Docuvane Fetch - Search", "org.gnome.Nautilus|Docuvane Fetch"}, 0);
        row("two file-manager windows of it in front, then others",
            QStringList{"org.gnome.Nautilus|Docuvane Fetch", "Thunar|Docuvane Fetch - Thunar", "firefox-esr|x",
                        "dolphin|Docuvane Fetch"},
            2);
        row("the name inside a longer title",
            QStringList{"dolphin|Invoices \u2014 Docuvane Fetch (old) \u2014 Dolphin"}, 1);
        QTest::newRow("a file manager without a title") << QStringList{"Nemo|-"} << 1;
        QTest::newRow("an empty title is a title") << QStringList{"Nemo|"} << 0;
        QTest::newRow("the title's case counts") << QStringList{"org.gnome.Nautilus|docuvane fetch"} << 0;
        QTest::newRow("the owner's case does not") << QStringList{"ORG.GNOME.NAUTILUS|Docuvane Fetch"} << 1;
        row("another folder in front ends the scan",
            QStringList{"org.gnome.Nautilus|Downloads", "org.gnome.Nautilus|Docuvane Fetch"}, 0);
        row("a dialog in front ends the scan",
            QStringList{"org.gnome.Nautilus|Delete Permanently?", "org.gnome.Nautilus|Docuvane Fetch"}, 0);
        row("a modal dialog stands above and is passed over",
            QStringList{"org.gnome.Nautilus|Delete Permanently?|8", "org.gnome.Nautilus|Docuvane Fetch"}, 1);
        row("unreadable, other layers and ownerless windows are passed over",
            QStringList{"org.gnome.Nautilus|Docuvane Fetch|0|0", "gnome-shell|-|20", "Caja|Docuvane Fetch|8",
                        "-|Docuvane Fetch", "-|Elsewhere", "Caja|Docuvane Fetch", "xterm|-"},
            1);
        QTest::newRow("nothing on screen") << QStringList{} << 0;
    }

    void scan() {
        QFETCH(QStringList, frontToBack);
        QFETCH(int, checks);
        _onScreen = windows(frontToBack);
        _watcher->updateWindowList();
        QCOMPARE(_checks, checks);
    }

    // The period comes from "DVFFolderCheckInterval" as the watcher was made: whole seconds, at least one.
    void period_data() {
        QTest::addColumn<QVariant>("setting");
        QTest::addColumn<int>("period");
        QTest::newRow("none") << QVariant() << DVFetchWindowWatcher::kDefaultInterval;
        QTest::newRow("2.9 drops the fraction") << QVariant(2.9) << 2;
        QTest::newRow("whole") << QVariant(qint64(30)) << 30;
        QTest::newRow("text of a number") << QVariant(QStringLiteral("7.5")) << 7;
        row("text of no number", QVariant(QStringLiteral("soon")), DVFetchWindowWatcher::kDefaultInterval);
        QTest::newRow("zero") << QVariant(qint64(0)) << 1;
        QTest::newRow("below one") << QVariant(0.5) << 1;
    }

    void period() {
        QFETCH(QVariant, setting);
        QFETCH(int, period);
        settings().setValue(setting, QStringLiteral("DVFFolderCheckInterval"));
        makeWatcher();
        // Read once: a later change is not seen.
        settings().setValue(QVariant(qint64(1000)), QStringLiteral("DVFFolderCheckInterval"));
        _onScreen = windows(kFolderInFront);
        _controller->setState(1);
        QVERIFY(_watcher->timer());
        QCOMPARE(_watcher->timer()->timeInterval(), double(period));
        TimerTestClock::advance(period - 0.25);
        QCOMPARE(_checks, 0);
        TimerTestClock::advance(0.25);
        QCOMPARE(_checks, 1);
        TimerTestClock::advance(period * 3);
        QCOMPARE(_checks, 4);
    }

    // The timer runs while the controller's state is 1; states set by other objects are not the controller's.
    void followsTheControllersState_data() {
        QTest::addColumn<QStringList>("changes"); // the states set, in order
        QTest::addColumn<QList<bool>>("running");
        QTest::addColumn<int>("timersMade");
        QTest::newRow("enabled") << QStringList{"1"} << QList<bool>{true} << 1;
        QTest::newRow("enabled twice: one timer") << QStringList{"1", "1"} << QList<bool>{true, true} << 1;
        row("every other state stops it", QStringList{"1", "2", "1", "3", "1", "4", "1", "5", "1", "0"},
            QList<bool>{true, false, true, false, true, false, true, false, true, false}, 5);
        row("stopped, then started: a new timer", QStringList{"1", "0", "0", "1"},
            QList<bool>{true, false, false, true}, 2);
    }

    void followsTheControllersState() {
        QFETCH(QStringList, changes);
        QFETCH(QList<bool>, running);
        QFETCH(int, timersMade);
        QList<std::shared_ptr<Timer>> made; // kept, so that a new timer cannot reuse an old one's address
        for (qsizetype i = 0; i < changes.size(); ++i) {
            _controller->setState(changes.at(i).toInt());
            const std::shared_ptr<Timer> timer = _watcher->timer();
            QCOMPARE(timer && timer->isValid(), running.at(i));
            if (timer && !made.contains(timer))
                made.append(timer);
        }
        QCOMPARE(made.size(), timersMade);
        QCOMPARE(TimerTestClock::validTimerCount(), running.last() ? 1 : 0);
    }

    // Without a window list (Wayland, no display) the file manager says whether a window shows the fetch
    // folder, in front or not: one check per tick while one does. When it cannot tell either, nothing is
    // checked and the log says so once.
    void noWindowList_data() {
        QTest::addColumn<int>("fileManager"); // 1: a window shows the folder, 0: none does, -1: cannot tell
        QTest::addColumn<int>("checks");
        QTest::addColumn<int>("toldUnavailable");
        row("a window shows the folder", 1, 3, 0);
        row("no window shows it", 0, 0, 0);
        row("no file manager can tell", -1, 0, 1);
    }

    void noWindowList() {
        QFETCH(int, fileManager);
        QFETCH(int, checks);
        QFETCH(int, toldUnavailable);
        settings().setValue(QStringLiteral("/a/Docuvane Fetch"), QStringLiteral("dropboxFolderPath"));
        QStringList asked;
        _watcher->setWindowSource([] { return std::optional<Windows>(); });
        _watcher->setFolderShownSource([&](const QString& folder) {
            asked << folder;
            return fileManager < 0 ? std::nullopt : std::optional(fileManager == 1);
        });
        _controller->setState(1);
        TimerTestClock::advance(DVFetchWindowWatcher::kDefaultInterval * 3);
        QCOMPARE(_checks, checks);
        QCOMPARE(asked, QStringList(3, QStringLiteral("/a/Docuvane Fetch")));
        const QStringList told = logLines(QStringLiteral("cannot be watched"));
        QCOMPARE(told.size(), toldUnavailable);
        for (const QString& line : told)
            QVERIFY2(line.contains(QStringLiteral("(DVFetchWindowWatcher:updateWindowList) Info")), qPrintable(line));
    }

    // A real file-manager window showing the folder, in front on the X server: at the next tick the watcher's
    // own coordinator asks the development service for the document list, and the controller hears when
    // that check has ended.
    void folderWindowInFrontAsksTheService() {
        X11TestWindows x;
        QVERIFY2(x.isConnected(), "no X server: run under xvfb-run");
        QVERIFY(x.waitForWindowManager());
        TestService server(_work->path(), QStringLiteral("anna@example.com"), QStringLiteral("pw"));
        QVERIFY(server.started());
        settings().setValue(server.baseUrl(), QStringLiteral("DocuvaneServerURL"));
        settings().setValue(server.options().user, QStringLiteral("email"));
        settings().setValue(encryptPassword(server.options().password), QStringLiteral("password"));

        // The watcher as the client makes it: the real window list and the real coordinator.
        _watcher = std::make_unique<DVFetchWindowWatcher>(_controller.get());
        _controller->watcher = _watcher.get();

        x.create(X11TestWindows::Shape{"org.gnome.Nautilus", QByteArray("Docuvane Fetch"), std::nullopt, {}});
        x.create(X11TestWindows::Shape{"firefox-esr", QByteArray("Docuvane Fetch - Web"), std::nullopt, {}});
        _controller->setState(1);
        TimerTestClock::advance(DVFetchWindowWatcher::kDefaultInterval);
        QCOMPARE(_controller->starts.load(), 0);

        const xcb_window_t folder =
            x.create(X11TestWindows::Shape{"org.gnome.Nautilus", QByteArray("Docuvane Fetch"), std::nullopt, {}});
        QTRY_VERIFY(WindowList::onScreenWindows().value_or(Windows()).value(0).windowId == folder);
        TimerTestClock::advance(DVFetchWindowWatcher::kDefaultInterval);
        QCOMPARE(_controller->starts.load(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(server.requests().contains(QStringLiteral("docstotransfer")), 30000);
        QTRY_COMPARE_WITH_TIMEOUT(_controller->finished, 1, 30000);
        QCOMPARE(_watcher->webServices()->queue().operationCount(), 0);
        server.stop();
    }
};

DV_TEST_X11_MAIN(TestFetchWindowWatcher)

#include "tst_fetchwindowwatcher.moc"
