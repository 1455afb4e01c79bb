#include "AppController.h"

#include "Appearance.h"
#include "AuthenticationController.h"
#include "Bundle.h"
#include "ClientSettings.h"
#include "DVDocumentWriter.h"
#include "DVDropboxMissingWarning.h"
#include "DVExceptionGuard.h"
#include "DVFetchWebServices.h"
#include "DVFetchWindowWatcher.h"
#include "DVSetupWindowController.h"
#include "DVStatusWindow.h"
#include "DVUpdaterSwitch.h"
#include "DVUpdaterWindow.h"
#include "FetchFolderService.h"
#include "FetchScheduler.h"
#include "LogStartup.h"
#include "PreferencesController.h"
#include "SharedFileListUtilities.h"
#include "TrayPresenter.h"
#include "WSLogger.h"
#include "Workspace.h"

#include <QCoreApplication>
#include <QDialog>
#include <QDir>

namespace {

const char* const kClassName = "AppController";

ClientSettings& settings() {
    return ClientSettings::shared();
}

} // namespace

AppController::AppController(QObject* parent, SystemEvents systemEvents, std::unique_ptr<Updater> updater)
    : QObject(parent)
    , _updater(std::move(updater)) {
    // Reports of the settings store wait for the log, which is named when launching has finished.
    LogStartup::holdSettingsDiagnostics();
    if (!_updater)
        _updater = std::make_unique<Updater>();
    _updaterWindow = std::make_unique<DVUpdaterWindow>(_updater.get());
    _automaticUpdateChecks = std::make_unique<DVUpdaterSwitch>(_updater.get());
    _sharedFileListUtilities = std::make_unique<SharedFileListUtilities>();
    _folder = std::make_unique<FetchFolderService>(*_sharedFileListUtilities);
    _scheduler = std::make_unique<FetchScheduler>();
    _preferencesController = std::make_unique<PreferencesController>(this);
    _setupWindowController = std::make_unique<DVSetupWindowController>(this);
    _dropboxMissingWarning = std::make_unique<DVDropboxMissingWarning>(this);
    _authenticationWindowController = std::make_unique<AuthenticationController>(this);
    _folderWatcher = std::make_unique<DVFolderWatcher>(this);
    _windowWatcher = std::make_unique<DVFetchWindowWatcher>(_scheduler.get());
    _scheduler->setWatcherServices(_windowWatcher->webServices());
    _scheduler->setFolderCheck([folder = _folder.get()] { return folder->isValid(); });

    settings().migrateOlderDomain();

    Workspace& workspace = Workspace::sharedWorkspace();
    connect(&workspace, &Workspace::didWake, _scheduler.get(), &FetchScheduler::receiveWakeNote);
    if (systemEvents == SystemEvents::Desktop) {
        _wakeObserved = workspace.observeWake();
        _appearance = std::make_unique<Appearance>();
        connect(_appearance.get(), &Appearance::changed, this, [this] { useBlackAndWhiteMenuBarIcons(this); });
    } else {
        // Without buses the file manager cannot be asked which folders it shows.
        _windowWatcher->setFolderShownSource([](const QString&) { return std::optional<bool>(); });
    }
}

AppController::~AppController() {
    applicationWillTerminate();
}

DVStatusItem* AppController::statusItem() const {
    return _tray ? _tray->statusItem() : nullptr;
}

DVFetchWebServices* AppController::webServices() const {
    return _scheduler->webServices();
}

void AppController::applicationDidFinishLaunching() {
    dvGuard(kClassName, "applicationDidFinishLaunching", [&] {
        LogStartup::start(QDir::homePath() + QStringLiteral("/Library/Logs/DocuvaneFetch.log"));
        settings().setUserDefaults();
        // After the defaults: the updater schedules its checks only while "SUEnableAutomaticChecks" is on,
        // and on a first launch that setting exists only once the defaults are in.
        _updater->setUpdateCheckInterval(kUpdateCheckInterval);
        // Temporary files a killed client left in the fetch folder go, once per launch, off the main thread.
        if (const QString folder = _folder->path(); !folder.isEmpty())
            DVDocumentWriter::removeStaleTemporaryFilesInBackground(folder);
        if (!_wakeObserved)
            WSLogger::sharedInstance().logInfo(
                kClassName, "applicationDidFinishLaunching",
                {QStringLiteral("No system bus: a wake from sleep will not be noticed.")});
        createTray();
        wire();
        _scheduler->setState(ClientState::NotSetUp);
        _scheduler->start();
    });
}

void AppController::createTray() {
    _tray = std::make_unique<TrayPresenter>(*_scheduler, _appearance.get(), _traySettleMs);
    _tray->setUpdateChecksAvailable(!_updater->feedURL().isEmpty());
    for (DVFetchWebServices* services : coordinators())
        _tray->follow(*services);
    connect(_tray.get(), &TrayPresenter::accountLookupRequested, this, &AppController::destinationSelector);
    connect(_tray.get(), &TrayPresenter::preferencesRequested, this, [this] { _preferencesController->showWindow(); });
    connect(_tray.get(), &TrayPresenter::folderWarningRequested, this, [this] { dropboxFolderMissing(this); });
    connect(_tray.get(), &TrayPresenter::entryTriggered, this, [this](DVStatusItem::Entry entry) {
        switch (entry) {
        case DVStatusItem::Entry::OpenFetchFolder:
            return openFetchFolder();
        case DVStatusItem::Entry::Website:
            return webServices()->launchDocuvaneWebsite();
        case DVStatusItem::Entry::Preferences:
            return _preferencesController->showWindow();
        case DVStatusItem::Entry::CheckForUpdates:
            return _updater->checkForUpdates();
        case DVStatusItem::Entry::SignInAgain:
            return _authenticationWindowController->showWindow();
        case DVStatusItem::Entry::Quit:
            return QCoreApplication::quit();
        default:
            return;
        }
    });
}

void AppController::wire() {
    FetchScheduler* scheduler = _scheduler.get();
    connect(scheduler, &FetchScheduler::stateChanged, _folderWatcher.get(), &DVFolderWatcher::followState);
    connect(scheduler, &FetchScheduler::stateChanged, _windowWatcher.get(), &DVFetchWindowWatcher::followState);
    connect(scheduler, &FetchScheduler::setupNeeded, this, [this] { _setupWindowController->showWindow(); });
    connect(scheduler, &FetchScheduler::folderMissing, this, [this] { dropboxFolderMissing(this); });
    // The warning would otherwise ask about a folder that is back, under an icon that already says so.
    connect(scheduler, &FetchScheduler::folderFound, _dropboxMissingWarning->window(), &QWidget::hide);
}

void AppController::applicationWillTerminate() {
    if (_terminating)
        return;
    _terminating = true;
    // Timers first, so that nothing starts new work while the coordinators wind down.
    _scheduler->terminate();
    _windowWatcher->stop();
    _folderWatcher->stop();
    // Each stop waits for its own steps in flight; the idle ones return at once.
    _scheduler->webServices()->stop();
    _windowWatcher->webServices()->stop();
    _preferencesController->stop();
    _setupWindowController->stop();
    _authenticationWindowController->stop();
}

QList<DVFetchWebServices*> AppController::coordinators() const {
    return {_scheduler->webServices(), _windowWatcher->webServices(), &_preferencesController->webServices(),
            &_setupWindowController->webServices(), &_authenticationWindowController->webServices()};
}

// ---- windows ----

void AppController::accountInfoComplete(const std::shared_ptr<DVAccountInfoOperation>& operation) {
    _scheduler->accountInfoComplete(operation);
}

void AppController::setupComplete(DVSetupWindowController*) {
    dvGuard(kClassName, "setupComplete", [&] {
        _folder->create();
        if (settings().addToLoginItems())
            addToLaunchAtLogin(this);
        if (settings().openFetchFolderAfterSetup())
            openFetchFolder();
        _updater->checkForUpdatesInBackground();
        _scheduler->fireTimer();
    });
}

void AppController::authenticationComplete(AuthenticationController*) {
    _scheduler->setState(ClientState::Enabled);
}

DVAutomaticUpdateChecks* AppController::sparkleUpdater() {
    return _automaticUpdateChecks.get();
}

void AppController::showWaitingWindow() {
    if (_scheduler->state() == ClientState::NotSetUp)
        _setupWindowController->showWindow();
    else
        _preferencesController->showWindow();
}

void AppController::destinationSelector() {
    webServices()->accountInfo(settings().email(), settings().password());
}

void AppController::useBlackAndWhiteMenuBarIcons(QObject*) {
    if (_tray)
        _tray->chooseIcon();
}

void AppController::openFetchFolder() {
    Workspace::selectFile(_folder->path());
}

// ---- the fetch folder ----

void AppController::dropboxFolderMissing(QObject*) {
    _preferencesController->closeWindow();
    _dropboxMissingWarning->showWindow();
}

void AppController::dropboxFolderMoved(const QString& newPath) {
    dvGuard(kClassName, "dropboxFolderMoved", [&] {
        settings().setFetchFolderPath(newPath);
        _folder->create();
        _updater->checkForUpdatesInBackground();
        _scheduler->start();
    });
}

void AppController::dropboxFolderSelected(const QString& path) {
    dvGuard(kClassName, "dropboxFolderSelected", [&] {
        _folderWatcher->stop();
        settings().setFetchFolderPath(path);
        _folder->create();
        _scheduler->setState(ClientState::Enabled);
        _scheduler->start();
        _folderWatcher->start(path);
        destinationSelector();
    });
}

void AppController::dropboxFolderRemind() {
    dvGuard(kClassName, "dropboxFolderRemind", [&] { _scheduler->remindAboutFolder(); });
}

void AppController::dropboxFolderChanged(const QString& oldPath, const QString& newPath) {
    dvGuard(kClassName, "dropboxFolderChanged", [&] {
        _folderWatcher->stop();
        if (!FetchFolderService::needsMove(oldPath, newPath)) {
            finishFolderChange(oldPath, newPath, false);
            return;
        }
        // Moving may copy a whole folder to another file system: off the main thread, once no cycle can
        // write into either place.
        _scheduler->beginFolderMove([this, oldPath, newPath] {
            _folder->moveInBackground(oldPath, newPath, [this, oldPath, newPath](bool moved) {
                finishFolderChange(oldPath, moved ? newPath : oldPath, moved);
            });
        });
    });
}

void AppController::finishFolderChange(const QString& oldPath, const QString& newPath, bool moved) {
    dvGuard(kClassName, "dropboxFolderChanged", [&] {
        _scheduler->stopCheckForFolderTimer();
        _folder->adopt(oldPath, newPath, moved);
        _scheduler->endFolderMove();
        if (!_terminating) {
            _scheduler->start();
            _folderWatcher->start(newPath);
        }
    });
    emit folderMoveFinished(moved);
}

void AppController::addToLaunchAtLogin(QObject*) {
    dvGuard(kClassName, "addToLaunchAtLogin", [&] {
        _sharedFileListUtilities->addToLoginItems(
            SharedFileListUtilities::fileURLWithPath(Bundle::mainBundle().bundlePath()));
    });
}

void AppController::removeFromLaunchAtLogin(QObject*) {
    dvGuard(kClassName, "removeFromLaunchAtLogin", [&] {
        _sharedFileListUtilities->removeFromLoginItems(
            SharedFileListUtilities::fileURLWithPath(Bundle::mainBundle().bundlePath()));
    });
}
