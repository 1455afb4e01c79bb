#pragma once

#include "ClientState.h"
#include "DVFetchWebServicesDelegate.h"
#include "DVFolderMover.h"
#include "DVFolderWatcher.h"
#include "DVWindowDelegates.h"
#include "Updater.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class Appearance;
class AuthenticationController;
class DVDropboxMissingWarning;
class DVFetchWebServices;
class DVFetchWindowWatcher;
class DVSetupWindowController;
class DVStatusItem;
class DVUpdaterWindow;
class FetchScheduler;
class PreferencesController;
class QAction;
class SharedFileListUtilities;

// The application's spine: creates every long-lived object of the tray client, wires them together, runs
// the start-up order and the quit, and answers the windows and watchers. When documents are fetched and
// what state the client is in is the scheduler's job.
class AppController : public QObject,
                      public ServicesAccountInfoCompleteDelegate,
                      public DVFolderWatcherDelegate,
                      public DVSetupCompleteDelegate,
                      public DVAuthenticationCompleteDelegate,
                      public PreferencesDelegate,
                      public DVLaunchAtLoginDelegate,
                      public DVMenuBarIconsDelegate,
                      public DVDropboxMissingDelegate,
                      public DVUpdaterProvider {
    Q_OBJECT

public:
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

    // updater: the one to use instead of the main bundle's (tests give one with their own feed).
    explicit AppController(QObject* parent = nullptr, SystemEvents systemEvents = SystemEvents::Desktop,
                           std::unique_ptr<Updater> updater = nullptr);
    ~AppController() override;

    void applicationDidFinishLaunching();
    // The application is about to quit: stops every coordinator so that nothing is left half done.
    void applicationWillTerminate();

    // The account lookup of the preferences window ends like the main coordinator's.
    void accountInfoComplete(const std::shared_ptr<DVAccountInfoOperation>& operation) override;

    // Windows.
    void setupComplete(DVSetupWindowController* sender) override;
    void authenticationComplete(AuthenticationController* sender) override;
    void authenticate();
    DVAutomaticUpdateChecks* sparkleUpdater() override;

    // Account.
    void destinationSelector();

    // State explanation, appearance.
    void statusItemStatus();
    void darkModeChanged();

    // The fetch folder.
    bool validDropbox();
    void createDocuvaneDropboxFolder();
    void dropboxFolderMissing(QObject* sender) override;
    void dropboxFolderMoved(const QString& newPath) override;
    void dropboxFolderSelected(const QString& path) override;
    void dropboxFolderRemind() override;
    void dropboxFolderChanged(const QString& oldPath, const QString& newPath) override;
    void addToLaunchAtLogin(QObject* sender) override;
    void removeFromLaunchAtLogin(QObject* sender) override;

    // The status item and its menu.
    void useBlackAndWhiteMenuBarIcons(QObject* sender) override;
    void menuWillOpen();
    bool validateMenuItem(QAction* item) const;
    void statusItemOpenDropboxFolder();

    // The window that waits for the user, for a second launch handing over: the setup assistant before
    // setup is done, otherwise the preferences.
    void showWaitingWindow();

    // Owned objects.
    FetchScheduler* scheduler() const { return _scheduler.get(); }
    DVFetchWebServices* webServices() const;
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
    void wireScheduler();
    void routeNotificationFallback();
    void removeDestinationItem();
    void showProgressMessage(const QString& text);
    // "Download Complete" in the menu, the indicator stopped: the end of a cycle.
    void showDownloadComplete();
    void applyState(ClientState state);
    void finishFolderChange(const QString& oldPath, const QString& newPath, bool moved);
    QString folderIconPath() const;
    void showAlert(const QString& messageText, const QString& informativeText, const QString& button);

    std::unique_ptr<Updater> _updater;
    std::unique_ptr<DVUpdaterWindow> _updaterWindow;
    std::unique_ptr<DVAutomaticUpdateChecks> _automaticUpdateChecks;
    std::unique_ptr<Appearance> _appearance;
    std::unique_ptr<FetchScheduler> _scheduler;
    std::unique_ptr<PreferencesController> _preferencesController;
    std::unique_ptr<DVSetupWindowController> _setupWindowController;
    std::unique_ptr<DVDropboxMissingWarning> _dropboxMissingWarning;
    std::unique_ptr<AuthenticationController> _authenticationWindowController;
    std::unique_ptr<SharedFileListUtilities> _sharedFileListUtilities;
    std::unique_ptr<DVFolderWatcher> _folderWatcher;
    std::unique_ptr<DVFetchWindowWatcher> _windowWatcher;
    std::unique_ptr<DVStatusItem> _statusItem;
    QAction* _progressSeparator = nullptr; // owned by the status menu

    bool _terminating = false;
    bool _wakeObserved = false;
    int _traySettleMs = 5000;

    DVFolderMover _folderMover;
    AlertPresenter _alertPresenter;
};
