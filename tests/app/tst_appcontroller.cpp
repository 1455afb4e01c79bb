#include "DVDropboxMissingWarning.h"
#include "DVFetchWebServices.h"
#include "DVPasswordCipher.h"
#include "DVSetupWindowController.h"
#include "DVStatusImages.h"
#include "DVStatusItem.h"
#include "DVStatusWindow.h"
#include "FetchFolderService.h"
#include "FetchScheduler.h"
#include "PreferencesController.h"
#include "TestFiles.h"
#include "TestMain.h"
#include "TestRows.h"
#include "TestService.h"
#include "Timer.h"
#include "TrayPresenter.h"
#include "Updater.h"
#include "UserDefaults.h"
#include "Workspace.h"
#include "client/app/AppController.h"

#include <QApplication>
#include <QDialog>
#include <QMenu>
#include <QSemaphore>
#include <QWidgetAction>

namespace {

const QString kUser = QStringLiteral("anna@example.com");
const QString kPassword = QStringLiteral("s3cret:pw");

UserDefaults& settings() {
    return UserDefaults::standardUserDefaults();
}

bool isShown(QDialog* window) {
    return window && window->isVisible();
}

} // namespace

class TestAppController : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> _work;
    std::unique_ptr<TestService> _server;
    std::unique_ptr<AppController> _controller;
    QStringList _alerts;
    QString _folder;

    [[nodiscard]] bool startServer(qint64 destinationId = 2) {
        _server = std::make_unique<TestService>(_work->path(), kUser, kPassword, destinationId);
        return _server->started();
    }

    void storeSettings(const QString& email, const QString& password) {
        QVariantMap domain{{QStringLiteral("dropboxFolderPath"), _folder},
                           {QStringLiteral("DocuvaneServerURL"), _server->baseUrl()},
                           {QStringLiteral("useGrowlNotifications"), qint64(0)},
                           {QStringLiteral("useBlackAndWhiteMenuBarIcons"), false}};
        if (!email.isEmpty())
            domain.insert(QStringLiteral("email"), email);
        if (!password.isEmpty())
            domain.insert(QStringLiteral("password"), encryptPassword(password));
        settings().setPersistentDomain(domain, UserDefaults::standardDomainName());
    }

    AppController& launch(std::unique_ptr<Updater> updater = nullptr) {
        _controller =
            std::make_unique<AppController>(nullptr, AppController::SystemEvents::ThemeOnly, std::move(updater));
        _controller->applicationDidFinishLaunching();
        _controller->tray()->setAlertPresenter(
            [this](const QString& message, const QString& informative, const QString& button) {
                _alerts.append(message + QLatin1Char('|') + informative + QLatin1Char('|') + button);
            });
        return *_controller;
    }

    // Launched signed in with the fetch folder in place, its first cycle over.
    [[nodiscard]] bool launchSignedIn() {
        storeSettings(kUser, kPassword);
        QDir().mkpath(_folder);
        launch();
        return waitForState(1) && waitUntilIdle();
    }

    // Until the main coordinator has nothing left and the end of its work has been handled.
    [[nodiscard]] bool waitUntilIdle() {
        return checksPass([&] {
            QTRY_COMPARE_WITH_TIMEOUT(_controller->webServices()->queue().operationCount(), 0, 20000);
            QTRY_VERIFY(!_controller->scheduler()->isCheckingForDocuments());
            QCoreApplication::processEvents();
        });
    }

    [[nodiscard]] bool waitForState(int state) {
        return checksPass([&] { QTRY_COMPARE_WITH_TIMEOUT(int(_controller->scheduler()->state()), state, 20000); });
    }

    QStringList fetchedFiles() const { return filesUnder(_folder); }

    DVStatusItem* item() const { return _controller->statusItem(); }
    QMenu* menu() const { return item()->menu(); }
    int indexOf(QAction* action) const { return int(menu()->actions().indexOf(action)); }

    void openMenu() {
        _controller->tray()->menuWillOpen();
        QCoreApplication::processEvents();
    }

private slots:
    void initTestCase() {
        // Notifications and the file manager stay off the desktop the tests may run on.
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent");
        Workspace::setOpener([](const QUrl&) { return true; });
        TimerTestClock::enable();
    }

    void init() {
        // The theme name decides the appearance here (there is no desktop portal): a light one unless a
        // test says otherwise.
        qputenv("GTK_THEME", "Adwaita");
        _work = std::make_unique<QTemporaryDir>();
        _folder = _work->path() + QStringLiteral("/Desktop/Docuvane Fetch");
        _alerts.clear();
        QVERIFY(startServer());
    }

    void cleanup() {
        if (_controller)
            _controller->applicationWillTerminate();
        _controller.reset();
        _server->stop();
        _server.reset();
    }

    void firstTickWithoutCredentialsShowsSetupEveryTick() {
        storeSettings(QString(), QString());
        AppController& controller = launch();
        QCOMPARE(int(controller.scheduler()->state()), 0);
        QVERIFY(isShown(controller.setupWindowController()->window()));
        QVERIFY(controller.scheduler()->timer() && controller.scheduler()->timer()->isValid());
        QCOMPARE(controller.scheduler()->timer()->timeInterval(), 14400.0);
        controller.setupWindowController()->window()->hide();
        TimerTestClock::advance(14399);
        QVERIFY(!isShown(controller.setupWindowController()->window()));
        TimerTestClock::advance(1);
        QVERIFY(isShown(controller.setupWindowController()->window()));
        QVERIFY(_server->requests().isEmpty());
    }

    // Credentials but no folder: state 4, the main timer stopped, and the folder looked at again after
    // 300 seconds. The folder back in place brings back state 1 and the 4-hourly fetches, and puts the
    // warning away.
    void missingFolderAtTheFirstTick_data() {
        QTest::addColumn<bool>("folderBack");
        QTest::newRow("folder still missing: the warning") << false;
        QTest::newRow("folder back: state 1 and the main timer again") << true;
    }
    void missingFolderAtTheFirstTick() {
        QFETCH(bool, folderBack);
        storeSettings(kUser, kPassword);
        AppController& controller = launch();
        QCOMPARE(int(controller.scheduler()->state()), 4);
        QVERIFY(!controller.scheduler()->timer());
        QVERIFY(controller.scheduler()->checkForFolderTimer());
        QCOMPARE(controller.scheduler()->checkForFolderTimer()->timeInterval(), 300.0);
        QVERIFY(!controller.scheduler()->checkForFolderTimer()->repeats());
        QVERIFY(_server->requests().isEmpty());
        if (folderBack)
            QDir().mkpath(_folder);
        controller.dropboxMissingWarning()->showWindow();
        TimerTestClock::advance(299);
        QCOMPARE(int(controller.scheduler()->state()), 4);
        TimerTestClock::advance(1);
        QVERIFY(!controller.scheduler()->checkForFolderTimer());
        QCOMPARE(isShown(controller.dropboxMissingWarning()->window()), !folderBack);
        if (!folderBack) {
            QCOMPARE(int(controller.scheduler()->state()), 4);
            return;
        }
        QVERIFY(controller.scheduler()->timer() && controller.scheduler()->timer()->isValid());
        QVERIFY(waitForState(1));
        QVERIFY(waitUntilIdle());
        QCOMPARE(_server->requests().count(QStringLiteral("docstotransfer")), 1);
        TimerTestClock::advance(14400);
        QVERIFY(waitUntilIdle());
        QCOMPARE(_server->requests().count(QStringLiteral("docstotransfer")), 2);
    }

    // What the account lookup of the first cycle makes of the state.
    void stateFromTheFirstCycle_data() {
        QTest::addColumn<QString>("password");
        QTest::addColumn<qint64>("destinationId");
        QTest::addColumn<QByteArray>("fault");
        QTest::addColumn<int>("state");
        QTest::addColumn<QStringList>("files");
        const QStringList both{QStringLiteral("Bank/statement.pdf"), QStringLiteral("Inbox/letter.txt")};
        const QStringList none;
        row("destination 2: enabled, documents fetched", kPassword, qint64(2), QByteArray(), 1, both);
        row("another destination", kPassword, qint64(3), QByteArray(), 3, none);
        row("wrong password: login failed, not an error", QStringLiteral("wrong"), qint64(2), QByteArray(), 2, none);
        row("service failure: error", kPassword, qint64(2),
            QByteArray(R"({"op":"accountinfo","fault":"exception","text":"com.docuvane.X:Out of order"})"), 5, none);
    }
    void stateFromTheFirstCycle() {
        QFETCH(QString, password);
        QFETCH(qint64, destinationId);
        QFETCH(QByteArray, fault);
        QFETCH(int, state);
        QFETCH(QStringList, files);
        _server->stop();
        QVERIFY(startServer(destinationId));
        QVERIFY(_server->addDocuments({QStringLiteral("Bank/statement.pdf"), QStringLiteral("letter.txt")}));
        QVERIFY(fault.isEmpty() || _server->addFault(fault));
        storeSettings(kUser, password);
        QDir().mkpath(_folder);
        AppController& controller = launch();
        QVERIFY(waitForState(state));
        QVERIFY(waitUntilIdle());
        QCOMPARE(int(controller.scheduler()->state()), state);
        QCOMPARE(fetchedFiles(), files);
        QCOMPARE(item()->action(DVStatusItem::Entry::Status)->text(),
                 state == 1 ? QStringLiteral("Status:  Enabled") : QStringLiteral("Status:  Disabled..."));
        if (state == 5) {
            QVERIFY2(
                controller.scheduler()->lastError().startsWith(QStringLiteral("Error Domain=DocuvaneFetch Code=1")),
                qPrintable(controller.scheduler()->lastError()));
            QVERIFY(controller.scheduler()->lastError().contains(QStringLiteral("Out of order")));
        }
        if (state == 2) // the account step behind the failed login never ran
            QVERIFY(!_server->requests().contains(QStringLiteral("accountinfo")));
    }

    void accountReplyWithTheFolderGoneIsState4() {
        QVERIFY(launchSignedIn());
        AppController& controller = *_controller;
        QDir(_folder).removeRecursively();
        controller.destinationSelector();
        QVERIFY(waitForState(4));
    }

    void stateExplanations_data() {
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("alert");
        QTest::addColumn<bool>("preferences");
        QTest::addColumn<bool>("warning");
        QTest::newRow("2: invalid credentials, then the preferences")
            << 2
            << QStringLiteral("Invalid Credentials|Docuvane Fetch is unable to log in to your Docuvane account. Please "
                              "re-enter your username and password.|OK")
            << true << false;
        QTest::newRow("3: invalid destination, two carriage returns")
            << 3
            << QStringLiteral("Invalid Destination|Your Docuvane account is not currently using your Docuvane Fetch "
                              "app as its document delivery destination.\r\rTo change your destination, please log "
                              "into the Docuvane web client and click on the \"Destination\" tab.|OK")
            << false << false;
        QTest::newRow("5: the last error") << 5 << QStringLiteral("Error||OK") << false << false;
        QTest::newRow("4: the missing-folder warning") << 4 << QString() << false << true;
    }
    void stateExplanations() {
        QFETCH(int, state);
        QFETCH(QString, alert);
        QFETCH(bool, preferences);
        QFETCH(bool, warning);
        storeSettings(QString(), QString());
        AppController& controller = launch();
        controller.setupWindowController()->window()->hide();
        controller.scheduler()->setState(ClientState(state));
        controller.tray()->explainState();
        QCOMPARE(_alerts, alert.isEmpty() ? QStringList() : QStringList{alert});
        QCOMPARE(isShown(controller.preferencesController()->window()), preferences);
        QCOMPARE(isShown(controller.dropboxMissingWarning()->window()), warning);
    }

    // A wake while a cycle downloads cancels it and runs exactly one new cycle once the queue has emptied;
    // a wake while idle changes nothing.
    void wakeFromSleep_data() {
        QTest::addColumn<bool>("duringDownload");
        QTest::addColumn<bool>("timerStopped");
        QTest::newRow("idle: only logged") << false << false;
        QTest::newRow("during a download: one more cycle") << true << false;
        QTest::newRow("during a download, main timer stopped: no cycle, not left running") << true << true;
    }
    void wakeFromSleep() {
        QFETCH(bool, duringDownload);
        QFETCH(bool, timerStopped);
        QVERIFY(_server->addDocuments({QStringLiteral("slow.pdf")}));
        storeSettings(kUser, kPassword);
        QDir().mkpath(_folder);
        if (duringDownload) {
            QVERIFY(_server->addFault(R"({"op":"download","fault":"stall","seconds":3})"));
        }
        AppController& controller = launch();
        if (duringDownload)
            QTRY_VERIFY_WITH_TIMEOUT(_server->requests().contains(QStringLiteral("download")), 20000);
        else
            QVERIFY(waitUntilIdle());
        const int cyclesBefore = int(_server->requests().count(QStringLiteral("docstotransfer")));
        QCOMPARE(controller.scheduler()->isCheckingForDocuments(), duringDownload);
        if (timerStopped)
            controller.scheduler()->stop();
        controller.scheduler()->receiveWakeNote();
        QVERIFY(waitUntilIdle());
        QVERIFY(!controller.scheduler()->reCheckForDocuments());
        const bool again = duringDownload && !timerStopped;
        QCOMPARE(_server->requests().count(QStringLiteral("docstotransfer")), cyclesBefore + (again ? 1 : 0));
        if (!timerStopped) // the document is there, whichever cycle brought it
            QCOMPARE(fetchedFiles(), QStringList{QStringLiteral("Inbox/slow.pdf")});
        QCOMPARE(item()->progressMessage(), QStringLiteral("Download Complete"));
    }

    // A reminder while a folder check is pending replaces it; the old one must not keep firing. The folder
    // back within the hour gives state 1, and the warning is not shown again.
    void reminderThenRestoredFolder() {
        QVERIFY(launchSignedIn());
        AppController& controller = *_controller;
        QDir(_folder).removeRecursively();
        controller.dropboxFolderRemind();
        const int timersAfterOne = TimerTestClock::validTimerCount();
        controller.dropboxFolderRemind();
        QCOMPARE(int(controller.scheduler()->state()), 4);
        QCOMPARE(TimerTestClock::validTimerCount(), timersAfterOne);
        QVERIFY(controller.scheduler()->checkForFolderTimer()->repeats());
        QCOMPARE(controller.scheduler()->checkForFolderTimer()->timeInterval(), 3600.0);
        QVERIFY(controller.scheduler()->timer()->isValid()); // a reminder leaves the main timer running
        QDir().mkpath(_folder);
        TimerTestClock::advance(3600);
        QCOMPARE(int(controller.scheduler()->state()), 1);
        QVERIFY(!controller.scheduler()->checkForFolderTimer());
        QVERIFY(!isShown(controller.dropboxMissingWarning()->window()));
        QVERIFY(waitUntilIdle());
    }

    // A first launch has no settings until the defaults are filled in; automatic update checks, on by
    // default, are scheduled all the same.
    void firstLaunchSchedulesUpdateChecks() {
        settings().removePersistentDomainForName(UserDefaults::standardDomainName());
        AppController& controller = launch(std::make_unique<Updater>(
            _server->baseUrl() + QStringLiteral("/appcast.xml"), QStringLiteral("1.0"), &settings()));
        QVERIFY(controller.updater()->isChecking() || controller.updater()->secondsUntilNextCheck() >= 0);
        QVERIFY(controller.tray()->statusItem()->action(DVStatusItem::Entry::CheckForUpdates)->isEnabled());
    }

    // While the fetch folder moves nothing fetches: a cycle running when the move begins is cancelled and
    // waited for, and a check asked for meanwhile runs after the move, into the new place.
    void noFetchWhileTheFolderMoves_data() {
        QTest::addColumn<bool>("cycleRunning");
        QTest::newRow("idle") << false;
        QTest::newRow("a cycle downloading") << true;
    }
    void noFetchWhileTheFolderMoves() {
        QFETCH(bool, cycleRunning);
        QVERIFY(launchSignedIn());
        AppController& controller = *_controller;
        FetchScheduler* scheduler = controller.scheduler();
        DVFetchWebServices* watcherServices = controller.windowWatcher()->webServices();
        QVERIFY(_server->addDocuments({QStringLiteral("new.pdf")}));
        if (cycleRunning) {
            QVERIFY(_server->addFault(R"({"op":"download","fault":"stall","seconds":3})"));
            scheduler->checkForDocumentsNow();
            QTRY_VERIFY_WITH_TIMEOUT(_server->requests().contains(QStringLiteral("download")), 20000);
        }
        const QString newPath = _work->path() + QStringLiteral("/Documents/Docuvane Fetch");
        std::atomic<int> busyAtMove{-1};
        QSemaphore release;
        controller.folderService()->setMover(DVFolderMover([&](const QString& from, const QString& to) {
            busyAtMove = scheduler->webServices()->queue().operationCount() + watcherServices->queue().operationCount();
            release.tryAcquire(1, 20000); // held until the test has asked for fetches
            return QDir().rename(from, to);
        }));
        QSignalSpy finished(&controller, &AppController::folderMoveFinished);
        settings().setValue(newPath, QStringLiteral("dropboxFolderPath")); // as the preferences do
        controller.dropboxFolderChanged(_folder, newPath);
        QTRY_VERIFY_WITH_TIMEOUT(busyAtMove.load() >= 0, 20000);
        QCOMPARE(busyAtMove.load(), 0);

        scheduler->checkForDocumentsNow();
        scheduler->windowWatcherWantsCheck(*watcherServices);
        scheduler->timerSelector();
        QCOMPARE(scheduler->webServices()->queue().operationCount(), 0);
        QCOMPARE(watcherServices->queue().operationCount(), 0);
        QVERIFY(!QFileInfo::exists(newPath));
        release.release();
        QVERIFY(finished.wait(20000));
        QVERIFY(finished.at(0).at(0).toBool());
        QVERIFY(waitUntilIdle());
        QVERIFY(QFile::exists(newPath + QStringLiteral("/Inbox/new.pdf")));
    }

    // The preferences move the folder; across file systems a rename fails and the folder is copied. A move
    // that cannot be made leaves the documents where they were, and the fetch folder stays there.
    void folderMovedInThePreferences_data() {
        QTest::addColumn<int>("renameFailures"); // renames refused before one is allowed (-1: never)
        QTest::addColumn<bool>("moved");
        QTest::newRow("same file system") << 0 << true;
        QTest::newRow("another file system: copied") << 1 << true;
        QTest::newRow("the copy cannot be put in place: nothing moves") << -1 << false;
    }
    void folderMovedInThePreferences() {
        QFETCH(int, renameFailures);
        QFETCH(bool, moved);
        QVERIFY(_server->addDocuments({QStringLiteral("Bank/statement.pdf")}));
        QVERIFY(launchSignedIn());
        AppController& controller = *_controller;
        const QString newPath = _work->path() + QStringLiteral("/Documents/Docuvane Fetch");
        auto refused = std::make_shared<int>(0);
        controller.folderService()->setMover(DVFolderMover([=](const QString& from, const QString& to) {
            if (renameFailures < 0 || (*refused)++ < renameFailures)
                return false;
            return QDir().rename(from, to);
        }));
        QSignalSpy finished(&controller, &AppController::folderMoveFinished);
        settings().setValue(newPath, QStringLiteral("dropboxFolderPath")); // as the preferences do
        controller.dropboxFolderChanged(_folder, newPath);
        QVERIFY(controller.scheduler()->isMovingFolder());
        QVERIFY(finished.wait(20000));
        QCOMPARE(finished.at(0).at(0).toBool(), moved);
        const QString place = moved ? newPath : _folder;
        QCOMPARE(settings().valueForKey(QStringLiteral("dropboxFolderPath")).toString(), place);
        QVERIFY(QFile::exists(place + QStringLiteral("/Bank/statement.pdf")));
        QCOMPARE(QFileInfo::exists(moved ? _folder : newPath), false);
        QVERIFY(controller.scheduler()->timer() && controller.scheduler()->timer()->isValid());
        QVERIFY(controller.folderWatcher()->isWatching());
        QCOMPARE(controller.folderWatcher()->dropboxFolder(), place);
        QVERIFY(waitUntilIdle());
    }

    // Opening the menu: the rows at their indices, one account lookup per idle opening.
    void menuRows() {
        QVERIFY(_server->addDocuments({QStringLiteral("slow.pdf")}));
        storeSettings(kUser, kPassword);
        QDir().mkpath(_folder);
        QVERIFY(_server->addFault(R"({"op":"download","fault":"stall","seconds":2})"));
        AppController& controller = launch();
        QTRY_VERIFY_WITH_TIMEOUT(_server->requests().contains(QStringLiteral("download")), 20000);
        QVERIFY(controller.scheduler()->isCheckingForDocuments());
        const int fixed = int(menu()->actions().size());

        openMenu();
        QCOMPARE(menu()->actions().size(), fixed + 2);
        QVERIFY(menu()->actions().at(5)->isSeparator());
        QCOMPARE(indexOf(item()->progressItem()), 6);
        QCOMPARE(indexOf(item()->destinationItem()), -1);
        QVERIFY(!item()->action(DVStatusItem::Entry::CheckForDocuments)->isEnabled());
        QVERIFY(item()->action(DVStatusItem::Entry::Preferences)->isEnabled());
        openMenu(); // still running: nothing added twice
        QCOMPARE(menu()->actions().size(), fixed + 2);

        QVERIFY(waitUntilIdle());
        const qsizetype lookups = _server->requests().count(QStringLiteral("accountinfo"));
        openMenu(); // just after the cycle: the rows go, no lookup
        QCOMPARE(menu()->actions().size(), fixed);
        QCOMPARE(indexOf(item()->progressItem()), -1);
        QVERIFY(item()->action(DVStatusItem::Entry::CheckForDocuments)->isEnabled());
        QVERIFY(!item()->action(DVStatusItem::Entry::Status)->isEnabled());          // state 1
        QVERIFY(!item()->action(DVStatusItem::Entry::CheckForUpdates)->isEnabled()); // no update feed
        QVERIFY2(item()->toolTip().endsWith(": 1 new document"), qPrintable(item()->toolTip()));
        QCOMPARE(_server->requests().count(QStringLiteral("accountinfo")), lookups);

        openMenu(); // idle: the destination row and one lookup
        QCOMPARE(indexOf(item()->destinationItem()), 6);
        QCOMPARE(item()->destinationItem()->text(), QStringLiteral("Getting Account Info..."));
        QTRY_COMPARE(indexOf(item()->destinationItem()), -1);
        QVERIFY(waitUntilIdle());
        QCOMPARE(_server->requests().count(QStringLiteral("accountinfo")), lookups + 1);
        openMenu();
        QVERIFY(waitUntilIdle());
        QTRY_COMPARE(indexOf(item()->destinationItem()), -1);
        QCOMPARE(_server->requests().count(QStringLiteral("accountinfo")), lookups + 2);
        QCOMPARE(menu()->actions().size(), fixed);

        QDir(_folder).removeRecursively(); // no lookup for a missing folder
        openMenu();
        QCOMPARE(indexOf(item()->destinationItem()), -1);
        QCOMPARE(_server->requests().count(QStringLiteral("accountinfo")), lookups + 2);
    }

    void checkForDocumentsFromTheMenu() {
        QVERIFY(launchSignedIn());
        AppController& controller = *_controller;
        QVERIFY(_server->addDocuments({QStringLiteral("new.pdf")}));
        item()->action(DVStatusItem::Entry::CheckForDocuments)->trigger();
        QVERIFY(controller.scheduler()->isCheckingForDocuments());
        QCOMPARE(item()->progressMessage(), QStringLiteral("Download Starting"));
        QVERIFY(waitUntilIdle());
        QCOMPARE(fetchedFiles(), QStringList{QStringLiteral("Inbox/new.pdf")});
        QCOMPARE(item()->progressMessage(), QStringLiteral("Download Complete"));
    }

    // A check started by the window watcher's coordinator ends too: the flag clears and the menu says so,
    // rather than keeping "check for documents" disabled until the next 4-hourly cycle. A wake meanwhile leaves
    // nothing to re-check: the next opening of the menu looks the account up and starts no cycle.
    void windowWatcherCycle() {
        QVERIFY(launchSignedIn());
        AppController& controller = *_controller;
        QVERIFY(_server->addDocuments({QStringLiteral("seen.pdf")}));
        QVERIFY(_server->addFault(R"({"op":"download","fault":"stall","seconds":1})"));
        controller.windowWatcher()->webServices()->fire(false);
        QVERIFY(controller.scheduler()->isCheckingForDocuments());
        QTRY_VERIFY_WITH_TIMEOUT(_server->requests().contains(QStringLiteral("download")), 20000);
        const qsizetype cycles = _server->requests().count(QStringLiteral("docstotransfer"));
        controller.scheduler()->receiveWakeNote();
        QVERIFY(!controller.scheduler()->reCheckForDocuments());
        QTRY_VERIFY_WITH_TIMEOUT(!controller.scheduler()->isCheckingForDocuments(), 20000);
        QCOMPARE(controller.windowWatcher()->webServices()->queue().operationCount(), 0);
        QCOMPARE(item()->progressMessage(), QStringLiteral("Download Complete"));
        QCOMPARE(fetchedFiles(), QStringList{QStringLiteral("Inbox/seen.pdf")});
        openMenu();
        QVERIFY(item()->action(DVStatusItem::Entry::CheckForDocuments)->isEnabled());
        QCOMPARE(indexOf(item()->progressItem()), -1);
        QVERIFY(waitUntilIdle());
        QCOMPARE(_server->requests().count(QStringLiteral("docstotransfer")), cycles);
    }

    // The icon: state 1 or not, the black-and-white setting, and a dark appearance, which asks for the
    // black-and-white image even with the setting off.
    void icon_data() {
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<bool>("blackAndWhiteSetting");
        QTest::addColumn<bool>("dark");
        QTest::addColumn<int>("image");
        // The choice itself is the images' own table; here, that the settings, the theme and the state reach it.
        const int bw = int(DVStatusImage::BlackAndWhite), bwWarning = int(DVStatusImage::BlackAndWhiteWarning);
        QTest::newRow("enabled, black-and-white, light") << true << true << false << bw;
        QTest::newRow("disabled, colour setting, dark") << false << false << true << bwWarning;
    }
    void icon() {
        QFETCH(bool, enabled);
        QFETCH(bool, blackAndWhiteSetting);
        QFETCH(bool, dark);
        QFETCH(int, image);
        qputenv("GTK_THEME", dark ? "Adwaita:dark" : "Adwaita");
        storeSettings(QString(), QString());
        settings().setBool(blackAndWhiteSetting, QStringLiteral("useBlackAndWhiteMenuBarIcons"));
        AppController& controller = launch();
        controller.scheduler()->setState(ClientState(enabled ? 1 : 2));
        const QImage expected = DVStatusImages::icon(DVStatusImage(image), dark).pixmap(22).toImage();
        QCOMPARE(item()->image().pixmap(22).toImage(), expected);
    }

    void secondLaunchShowsTheWaitingWindow_data() {
        QTest::addColumn<int>("state");
        QTest::newRow("setup not done: the assistant") << 0;
        QTest::newRow("otherwise: the preferences") << 3;
    }
    void secondLaunchShowsTheWaitingWindow() {
        QFETCH(int, state);
        storeSettings(QString(), QString());
        AppController& controller = launch();
        controller.setupWindowController()->window()->hide();
        controller.scheduler()->setState(ClientState(state));
        controller.showWaitingWindow();
        QCOMPARE(isShown(controller.setupWindowController()->window()), state == 0);
        QCOMPARE(isShown(controller.preferencesController()->window()), state != 0);
    }

    // Quitting in the middle of downloads: everything stops, nothing half-written is left under a
    // document's name or as a hidden temporary file, and nothing unwritten is reported transferred.
    void quitDuringDownloads() {
        QStringList names;
        for (int i = 0; i < 10; ++i)
            names.append(QStringLiteral("doc%1.pdf").arg(i));
        for (const QString& name : names)
            QVERIFY(writeFile(_work->path() + QStringLiteral("/documents/") + name, QByteArray(4 << 20, 'd')));
        storeSettings(kUser, kPassword);
        QDir().mkpath(_folder);
        QVERIFY(_server->addFault(R"({"op":"download","fault":"stall","seconds":20,"count":10})"));
        AppController& controller = launch();
        QTRY_COMPARE_WITH_TIMEOUT(_server->requests().count(QStringLiteral("download")), 10, 20000);
        QElapsedTimer clock;
        clock.start();
        controller.applicationWillTerminate();
        // Bounded only to tell a quit from waiting for the stalled transfers on a loaded machine.
        QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(filesUnder(_folder, QDir::Hidden), QStringList());
        QCOMPARE(_server->requests().count(QStringLiteral("docstransferred")), 0);
    }
};

DV_TEST_WIDGETS_MAIN(TestAppController)

#include "tst_appcontroller.moc"
