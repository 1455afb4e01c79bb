#pragma once

#include "DVFetchWebServicesDelegate.h"
#include "DVFolderMover.h"
#include "DVFolderWatcher.h"
#include "DVWindowDelegates.h"
#include "Updater.h"

#include <QList>
#include <QObject>
#include <QString>

#include <memory>

class Appearance;
class AuthenticationController;
class DVDropboxMissingWarning;
class DVFetchWebServices;
class DVFetchWindowWatcher;
class DVSetupWindowController;
class DVStatusItem;
class DVUpdaterWindow;
class FetchFolderService;
class FetchScheduler;
class PreferencesController;
class SharedFileListUtilities;
class TrayPresenter;

// The application's spine: builds every long-lived object of the tray client, wires them together, runs
// the start-up order and the quit, and answers the windows and the folder watcher. When documents are
// fetched is the scheduler's job, the fetch folder the fetch-folder service's, the tray the presenter's.
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

    // Where the controller learns of wakes and of the desktop's appearance.
    enum class SystemEvents {
        Desktop,   // logind's wake signal on the system bus, the desktop portal's appearance on the session bus
        ThemeOnly, // no buses: no wake handling, the appearance from the theme name, no file manager asked
                   // where no window list can be read (tests, which must not start QtDBus's thread under
                   // ThreadSanitizer)
    };

    // updater: the one to use instead of the main bundle's (tests give one with their own feed).
    explicit AppController(QObject* parent = nullptr, SystemEvents systemEvents = SystemEvents::Desktop,
                           std::unique_ptr<Updater> updater = nullptr);
    ~AppController() override;

    void applicationDidFinishLaunching();
    // The application is about to quit: stops every coordinator so that nothing is left half done.
    void applicationWillTerminate();

    // The preferences window's account lookup ends like the main coordinator's.
    void accountInfoComplete(const std::shared_ptr<DVAccountInfoOperation>& operation) override;
    void setupComplete(DVSetupWindowController* sender) override;
    void authenticationComplete(AuthenticationController* sender) override;
    DVAutomaticUpdateChecks* sparkleUpdater() override;
    void dropboxFolderMissing(QObject* sender) override;
    void dropboxFolderMoved(const QString& newPath) override;
    void dropboxFolderSelected(const QString& path) override;
    void dropboxFolderRemind() override;
    void dropboxFolderChanged(const QString& oldPath, const QString& newPath) override;
    void addToLaunchAtLogin(QObject* sender) override;
    void removeFromLaunchAtLogin(QObject* sender) override;
    void useBlackAndWhiteMenuBarIcons(QObject* sender) override;

    // One account lookup with the stored credentials.
    void destinationSelector();
    // The window that waits for the user, for a second launch handing over: the setup assistant before
    // setup is done, otherwise the preferences.
    void showWaitingWindow();

    FetchScheduler* scheduler() const { return _scheduler.get(); }
    FetchFolderService* folderService() const { return _folder.get(); }
    TrayPresenter* tray() const { return _tray.get(); }
    DVStatusItem* statusItem() const;
    DVFetchWebServices* webServices() const;
    DVFolderWatcher* folderWatcher() const { return _folderWatcher.get(); }
    DVFetchWindowWatcher* windowWatcher() const { return _windowWatcher.get(); }
    PreferencesController* preferencesController() const { return _preferencesController.get(); }
    DVSetupWindowController* setupWindowController() const { return _setupWindowController.get(); }
    DVDropboxMissingWarning* dropboxMissingWarning() const { return _dropboxMissingWarning.get(); }
    AuthenticationController* authenticationWindowController() const { return _authenticationWindowController.get(); }
    Updater* updater() const { return _updater.get(); }
    DVUpdaterWindow* updaterWindow() const { return _updaterWindow.get(); }

    // How long the status item waits for a tray before it shows its window; before launching finishes.
    void setTraySettleMs(int ms) { _traySettleMs = ms; }

signals:
    // A move of the fetch folder started from the preferences has ended (moved or not); for tests.
    void folderMoveFinished(bool moved);

private:
    void createTray();
    void wire();
    void finishFolderChange(const QString& oldPath, const QString& newPath, bool moved);
    void openFetchFolder();
    // Every coordinator the client runs, the windows' included.
    QList<DVFetchWebServices*> coordinators() const;

    std::unique_ptr<Updater> _updater;
    std::unique_ptr<DVUpdaterWindow> _updaterWindow;
    std::unique_ptr<DVAutomaticUpdateChecks> _automaticUpdateChecks;
    std::unique_ptr<Appearance> _appearance;
    std::unique_ptr<SharedFileListUtilities> _sharedFileListUtilities;
    std::unique_ptr<FetchFolderService> _folder;
    std::unique_ptr<FetchScheduler> _scheduler;
    std::unique_ptr<PreferencesController> _preferencesController;
    std::unique_ptr<DVSetupWindowController> _setupWindowController;
    std::unique_ptr<DVDropboxMissingWarning> _dropboxMissingWarning;
    std::unique_ptr<AuthenticationController> _authenticationWindowController;
    std::unique_ptr<DVFolderWatcher> _folderWatcher;
    std::unique_ptr<DVFetchWindowWatcher> _windowWatcher;
    std::unique_ptr<TrayPresenter> _tray;

    bool _terminating = false;
    bool _wakeObserved = false;
    int _traySettleMs = 5000;
};
