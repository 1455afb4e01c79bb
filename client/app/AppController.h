#pragma once

#include "DVFetchWebServicesDelegate.h"
#include "DVFetchWindowWatcher.h"
#include "DVFolderMover.h"
#include "DVFolderWatcher.h"
#include "DVStateObservable.h"
#include "DVWindowDelegates.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>

class AuthenticationController;
class DVDropboxMissingWarning;
class DVFetchWebServices;
class DVSetupWindowController;
class DVStatusItem;
class Appearance;
class DVUpdaterWindow;
class Updater;
class PreferencesController;
class QAction;
class SharedFileListUtilities;
class Timer;

// The application's spine: creates every long-lived object of the tray client, decides when the service is
// asked for documents, keeps the client's state (shown in the tray icon and its menu) and reacts to what the
// windows, the watchers, the coordinators and the system report.
//
// Everything runs on the main thread except checkForDocumentsFinished(), which arrives on the queue thread
// where the main coordinator's work ended; it touches only the two atomic flags there and hands the rest to
// the main thread.
class AppController : public QObject,
                      public DVStateObservable,
                      public CheckForDocumentsStartDelegate,
                      public CheckForDocumentsProgressDelegate,
                      public CheckForDocumentsFinishedDelegate,
                      public ServicesLoginCompleteDelegate,
                      public ServicesAccountInfoCompleteDelegate,
                      public DVFolderWatcherDelegate,
                      public DVWindowWatcherCheckFinishedDelegate,
                      public DVSetupCompleteDelegate,
                      public DVAuthenticationCompleteDelegate,
                      public PreferencesDelegate,
                      public DVLaunchAtLoginDelegate,
                      public DVMenuBarIconsDelegate,
                      public DVDropboxMissingDelegate,
                      public DVUpdaterProvider {
    Q_OBJECT

public:
    // The main timer's period, the folder checks' periods.
    static constexpr double kMainTimerInterval = 14400;
    static constexpr double kFirstFolderCheckInterval = 300;
    static constexpr double kFolderReminderInterval = 3600;
    static constexpr double kUpdateCheckInterval = 86400;

    // A modal alert with one button; tests record it instead of showing it.
    using AlertPresenter =
        std::function<void(const QString& messageText, const QString& informativeText, const QString& button)>;

    // Where the controller learns of wakes and of the desktop's appearance.
    enum class SystemEvents {
        Desktop,   // logind's wake signal on the system bus, the desktop portal's appearance on the session bus
        ThemeOnly, // no buses: no wake handling, the appearance from the theme name (tests, which must not
                   // start QtDBus's thread under ThreadSanitizer)
    };

    explicit AppController(QObject* parent = nullptr, SystemEvents systemEvents = SystemEvents::Desktop);
    ~AppController() override;

    void applicationDidFinishLaunching();
    // The application is about to quit: stops every coordinator so that nothing is left half done.
    void applicationWillTerminate();

    // Main timer and the main loop.
    void start();
    void stop();
    void scheduleTimerWithInterval(double seconds);
    void timerSelector();
    void setCheckForUpdatesInterval();

    // The observable state.
    int state() const override { return _stateValue.load(); }
    void setState(int state);
    void addStateObserver(DVKeyValueObserver* observer, void* context = nullptr) override;
    void removeStateObserver(DVKeyValueObserver* observer) override;

    // Fetch-cycle reports of the coordinators.
    void checkForDocumentsStart() override;
    void checkForDocumentsProgress(const QVariantMap& document) override;
    void checkForDocumentsFinished() override;
    void loginComplete(const std::shared_ptr<DVLoginOperation>& operation) override;
    void accountInfoComplete(const std::shared_ptr<DVAccountInfoOperation>& operation) override;
    void windowWatcherCheckFinished() override;

    // Windows.
    void setupComplete(DVSetupWindowController* sender) override;
    void authenticationComplete(AuthenticationController* sender) override;
    void authenticate();
    DVAutomaticUpdateChecks* sparkleUpdater() override;

    // Account.
    void getAccountInfo(const QString& user, const QString& password);
    void destinationSelector();
    bool validAccount();
    QString password() const;

    // State explanation, wake.
    void statusItemStatus();
    void receiveWakeNote();
    void receiveSleepNote() {}
    void darkModeChanged();

    // The fetch folder.
    bool validDropbox();
    void createDocuvaneDropboxFolder();
    void dropboxFolderMissing(QObject* sender) override;
    void dropboxFolderMoved(const QString& newPath) override;
    void dropboxFolderSelected(const QString& path) override;
    void dropboxFolderRemind() override;
    void dropboxFolderChanged(const QString& oldPath, const QString& newPath) override;
    void checkForFolderTimerSelector();
    void stopCheckForFolderTimer();
    void addToLaunchAtLogin(QObject* sender) override;
    void removeFromLaunchAtLogin(QObject* sender) override;

    // The status item and its menu.
    void useBlackAndWhiteMenuBarIcons(QObject* sender) override;
    void menuWillOpen();
    bool validateMenuItem(QAction* item) const;
    void statusItemCheckForUpdates();
    void statusItemCheckForDocuments();
    void statusItemPreferences();
    void statusItemOpenDropboxFolder();
    void statusItemLaunchDocuvaneItem();

    // The window that waits for the user, for a second launch handing over: the setup assistant before
    // setup is done, otherwise the preferences.
    void showWaitingWindow();

    // Owned objects.
    DVFetchWebServices* webServices() const { return _webServices.get(); }
    DVFolderWatcher* folderWatcher() const { return _folderWatcher.get(); }
    DVFetchWindowWatcher* windowWatcher() const { return _windowWatcher.get(); }
    PreferencesController* preferencesController() const { return _preferencesController.get(); }
    DVSetupWindowController* setupWindowController() const { return _setupWindowController.get(); }
    DVDropboxMissingWarning* dropboxMissingWarning() const { return _dropboxMissingWarning.get(); }
    AuthenticationController* authenticationWindowController() const { return _authenticationWindowController.get(); }
    DVStatusItem* statusItem() const { return _statusItem.get(); }
    Updater* updater() const { return _updater.get(); }
    DVUpdaterWindow* updaterWindow() const { return _updaterWindow.get(); }
    Appearance* appearance() const { return _appearance.get(); }

    Timer* timer() const { return _timer.get(); }
    Timer* checkForFolderTimer() const { return _checkForFolderTimer.get(); }
    bool isCheckingForDocuments() const { return _checkingForDocuments.load(); }
    bool reCheckForDocuments() const { return _reCheckForDocuments.load(); }
    QString lastError() const { return _lastError; }
    QString destination() const { return _destination; }
    // Whether a move of the fetch folder is under way (the main timer waits for it).
    bool isMovingFolder() const { return _movingFolder; }

    void setAlertPresenter(AlertPresenter presenter) { _alertPresenter = std::move(presenter); }
    // Replaces the folder mover (tests play moves across file systems).
    void setFolderMover(const DVFolderMover& mover) { _folderMover = mover; }
    // How long the status item waits for a tray before it shows its window; before launching finishes.
    void setTraySettleMs(int ms) { _traySettleMs = ms; }

signals:
    // A move of the fetch folder started from the preferences has ended (moved or not); for tests.
    void folderMoveFinished(bool moved);

private:
    void createStatusItem();
    void migrateSettings();
    void routeNotificationFallback();
    void scheduleFolderCheck(double seconds, bool repeats);
    void removeDestinationItem();
    void showProgressMessage(const QString& text);
    // "Download Complete" in the menu, the indicator stopped: the end of a cycle.
    void showDownloadComplete();
    void finishFolderChange(const QString& oldPath, const QString& newPath, bool moved);
    bool hasCredentials() const;
    QString storedEmail() const;
    QString storedFolderPath() const;
    QString folderIconPath() const;
    void showAlert(const QString& messageText, const QString& informativeText, const QString& button);

    std::unique_ptr<Updater> _updater;
    std::unique_ptr<DVUpdaterWindow> _updaterWindow;
    std::unique_ptr<DVAutomaticUpdateChecks> _automaticUpdateChecks;
    std::unique_ptr<Appearance> _appearance;
    std::unique_ptr<PreferencesController> _preferencesController;
    std::unique_ptr<DVSetupWindowController> _setupWindowController;
    std::unique_ptr<DVDropboxMissingWarning> _dropboxMissingWarning;
    std::unique_ptr<AuthenticationController> _authenticationWindowController;
    std::unique_ptr<SharedFileListUtilities> _sharedFileListUtilities;
    std::unique_ptr<DVFolderWatcher> _folderWatcher;
    std::unique_ptr<DVFetchWindowWatcher> _windowWatcher;
    std::unique_ptr<DVFetchWebServices> _webServices;
    std::unique_ptr<DVStatusItem> _statusItem;
    QAction* _progressSeparator = nullptr; // owned by the status menu

    std::shared_ptr<Timer> _timer;
    std::shared_ptr<Timer> _checkForFolderTimer;

    std::atomic<int> _stateValue{0};
    DVObservableState _state;
    // Both cross threads: set on the main thread, read and cleared on the queue thread of the finish report.
    std::atomic<bool> _checkingForDocuments{false};
    std::atomic<bool> _reCheckForDocuments{false};
    QString _lastError;
    QString _destination;
    bool _movingFolder = false;
    bool _terminating = false;
    bool _wakeObserved = false;
    int _traySettleMs = 5000;

    DVFolderMover _folderMover;
    AlertPresenter _alertPresenter;
};
