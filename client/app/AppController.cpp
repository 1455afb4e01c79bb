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
#include "DVStatusImages.h"
#include "DVStatusItem.h"
#include "DVStatusWindow.h"
#include "DVUpdaterSwitch.h"
#include "DVUpdaterWindow.h"
#include "FetchScheduler.h"
#include "LogStartup.h"
#include "PreferencesController.h"
#include "SharedFileListUtilities.h"
#include "Timer.h"
#include "Updater.h"
#include "UserNotificationCenter.h"
#include "WSLogger.h"
#include "Workspace.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QTimer>
#include <QWidgetAction>

namespace {

const char* const kClassName = "AppController";

ClientSettings& settings() {
    return ClientSettings::shared();
}

QString text(const QString& key) {
    return Bundle::mainBundle().localizedString(key);
}

// Inserts an action at a position of the menu's action list; past the end it is appended.
void insertActionAt(QMenu* menu, int index, QAction* action) {
    const QList<QAction*> actions = menu->actions();
    menu->insertAction(index < actions.size() ? actions.at(index) : nullptr, action);
}

void presentAlert(const QString& messageText, const QString& informativeText, const QString& button) {
    QMessageBox box;
    box.setIcon(QMessageBox::Warning);
    box.setWindowTitle(QStringLiteral("Docuvane Fetch"));
    box.setText(messageText);
    // Carriage returns separate paragraphs in the texts; a plain-text label breaks lines at newlines.
    QString informative = informativeText;
    informative.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    box.setInformativeText(informative);
    box.addButton(button, QMessageBox::AcceptRole);
    box.exec();
}

} // namespace

AppController::AppController(QObject* parent, SystemEvents systemEvents, std::unique_ptr<Updater> updater)
    : QObject(parent)
    , _updater(std::move(updater))
    , _alertPresenter(presentAlert) {
    // Reports of the settings store wait for the log, which is named when launching has finished.
    LogStartup::holdSettingsDiagnostics();
    if (!_updater)
        _updater = std::make_unique<Updater>();
    _updaterWindow = std::make_unique<DVUpdaterWindow>(_updater.get());
    _automaticUpdateChecks = std::make_unique<DVUpdaterSwitch>(_updater.get());
    _scheduler = std::make_unique<FetchScheduler>();
    _preferencesController = std::make_unique<PreferencesController>(this);
    _setupWindowController = std::make_unique<DVSetupWindowController>(this);
    _dropboxMissingWarning = std::make_unique<DVDropboxMissingWarning>(this);
    _authenticationWindowController = std::make_unique<AuthenticationController>(this);
    _sharedFileListUtilities = std::make_unique<SharedFileListUtilities>();
    _folderWatcher = std::make_unique<DVFolderWatcher>(this);
    _windowWatcher = std::make_unique<DVFetchWindowWatcher>(_scheduler.get());
    _scheduler->setWatcherServices(_windowWatcher->webServices());
    _scheduler->setFolderCheck([this] { return validDropbox(); });

    settings().migrateOlderDomain();

    Workspace& workspace = Workspace::sharedWorkspace();
    connect(&workspace, &Workspace::didWake, _scheduler.get(), &FetchScheduler::receiveWakeNote);
    if (systemEvents == SystemEvents::Desktop) {
        _wakeObserved = workspace.observeWake();
        _appearance = std::make_unique<Appearance>();
        connect(_appearance.get(), &Appearance::changed, this, &AppController::darkModeChanged);
    }
}

AppController::~AppController() {
    applicationWillTerminate();
}

DVFetchWebServices* AppController::webServices() const {
    return _scheduler->webServices();
}

void AppController::applicationDidFinishLaunching() {
    dvGuard(kClassName, "applicationDidFinishLaunching", [&] {
        routeNotificationFallback();
        LogStartup::start(QDir::homePath() + QStringLiteral("/Library/Logs/DocuvaneFetch.log"));
        settings().setUserDefaults();
        // After the defaults: the updater schedules its checks only while "SUEnableAutomaticChecks" is on,
        // and on a first launch that setting exists only once the defaults are in.
        _updater->setUpdateCheckInterval(kUpdateCheckInterval);
        // Temporary files a killed client left in the fetch folder go, once per launch, off the main thread.
        if (const QString folder = settings().fetchFolderPath(); !folder.isEmpty())
            DVDocumentWriter::removeStaleTemporaryFilesInBackground(folder);
        if (!_wakeObserved)
            WSLogger::sharedInstance().logInfo(
                kClassName, "applicationDidFinishLaunching",
                {QStringLiteral("No system bus: a wake from sleep will not be noticed.")});
        createStatusItem();
        wireScheduler();
        _scheduler->setState(ClientState::NotSetUp);
        _scheduler->start();
    });
}

void AppController::wireScheduler() {
    FetchScheduler* scheduler = _scheduler.get();
    connect(scheduler, &FetchScheduler::stateChanged, _folderWatcher.get(), &DVFolderWatcher::followState);
    connect(scheduler, &FetchScheduler::stateChanged, _windowWatcher.get(), &DVFetchWindowWatcher::followState);
    connect(scheduler, &FetchScheduler::stateChanged, this, &AppController::applyState);
    connect(scheduler, &FetchScheduler::progressMessage, this, &AppController::showProgressMessage);
    connect(scheduler, &FetchScheduler::cycleEnded, this, &AppController::showDownloadComplete);
    connect(scheduler, &FetchScheduler::accountLookupEnded, this, &AppController::removeDestinationItem);
    connect(scheduler, &FetchScheduler::setupNeeded, _setupWindowController.get(),
            &DVSetupWindowController::showWindow);
    connect(scheduler, &FetchScheduler::folderMissing, this, [this] { dropboxFolderMissing(this); });
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
    for (DVFetchWebServices* services :
         {_scheduler->webServices(), _windowWatcher->webServices(), &_preferencesController->webServices(),
          &_setupWindowController->webServices(), &_authenticationWindowController->webServices()}) {
        if (services)
            services->stop();
    }
}

void AppController::routeNotificationFallback() {
    // Without a notification service the tray icon's balloon tells the user; without a tray, the log.
    UserNotificationCenter::defaultUserNotificationCenter().setFallback([this](const UserNotification& notification) {
        if (_statusItem && _statusItem->showMessage(notification.title, notification.informativeText))
            return;
        WSLogger::sharedInstance().logInfo(kClassName, "deliverNotification",
                                           {notification.title, QStringLiteral(": "), notification.informativeText});
    });
}

void AppController::createStatusItem() {
    _statusItem = std::make_unique<DVStatusItem>(nullptr, _traySettleMs);
    _progressSeparator = new QAction(_statusItem->menu());
    _progressSeparator->setSeparator(true);
    connect(_statusItem.get(), &DVStatusItem::menuWillOpen, this, &AppController::menuWillOpen);
    connect(_statusItem.get(), &DVStatusItem::triggered, this, [this](DVStatusItem::Entry entry) {
        switch (entry) {
        case DVStatusItem::Entry::Status:
            statusItemStatus();
            break;
        case DVStatusItem::Entry::CheckForDocuments:
            _scheduler->checkForDocumentsNow();
            break;
        case DVStatusItem::Entry::OpenFetchFolder:
            statusItemOpenDropboxFolder();
            break;
        case DVStatusItem::Entry::Website:
            webServices()->launchDocuvaneWebsite();
            break;
        case DVStatusItem::Entry::Preferences:
            _preferencesController->showWindow();
            break;
        case DVStatusItem::Entry::CheckForUpdates:
            _updater->checkForUpdates();
            break;
        case DVStatusItem::Entry::SignInAgain:
            authenticate();
            break;
        case DVStatusItem::Entry::Quit:
            QCoreApplication::quit();
            break;
        }
    });
}

void AppController::applyState(ClientState state) {
    if (_statusItem) {
        QAction* status = _statusItem->action(DVStatusItem::Entry::Status);
        QAction* check = _statusItem->action(DVStatusItem::Entry::CheckForDocuments);
        const bool enabled = state == ClientState::Enabled;
        status->setText(enabled ? QStringLiteral("Status:  Enabled") : QStringLiteral("Status:  Disabled..."));
        check->setEnabled(enabled);
    }
    useBlackAndWhiteMenuBarIcons(this);
}

void AppController::showDownloadComplete() {
    showProgressMessage(QStringLiteral("Download Complete"));
    if (_statusItem)
        _statusItem->setProgressAnimating(false);
}

void AppController::accountInfoComplete(const std::shared_ptr<DVAccountInfoOperation>& operation) {
    _scheduler->accountInfoComplete(operation);
}

void AppController::removeDestinationItem() {
    if (!_statusItem)
        return;
    _statusItem->setDestinationIndicatorHidden(true);
    _statusItem->setDestinationAnimating(false);
    QAction* row = _statusItem->destinationItem();
    if (_statusItem->menu()->actions().contains(row))
        _statusItem->menu()->removeAction(row);
}

void AppController::showProgressMessage(const QString& message) {
    if (_statusItem)
        _statusItem->setProgressMessage(message);
}

// ---- windows ----

void AppController::setupComplete(DVSetupWindowController*) {
    dvGuard(kClassName, "setupComplete", [&] {
        createDocuvaneDropboxFolder();
        if (settings().addToLoginItems())
            addToLaunchAtLogin(this);
        if (settings().openFetchFolderAfterSetup())
            statusItemOpenDropboxFolder();
        _updater->checkForUpdatesInBackground();
        _scheduler->fireTimer();
    });
}

void AppController::authenticationComplete(AuthenticationController*) {
    _scheduler->setState(ClientState::Enabled);
}

void AppController::authenticate() {
    _authenticationWindowController->showWindow();
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

// ---- state explanation, appearance ----

void AppController::statusItemStatus() {
    switch (_scheduler->state()) {
    case ClientState::InvalidCredentials:
        showAlert(QStringLiteral("Invalid Credentials"),
                  text(QStringLiteral("Docuvane Fetch is unable to log in to your Docuvane account. Please re-enter "
                                      "your username and password.")),
                  QStringLiteral("OK"));
        _preferencesController->showWindow();
        break;
    case ClientState::InvalidDestination:
        showAlert(QStringLiteral("Invalid Destination"),
                  text(QStringLiteral("Your Docuvane account is not currently using your Docuvane Fetch app as its "
                                      "document delivery destination.\r\rTo change your destination, please log "
                                      "into the Docuvane web client and click on the \"Destination\" tab.")),
                  QStringLiteral("OK"));
        break;
    case ClientState::Error:
        showAlert(QStringLiteral("Error"), _scheduler->lastError(), QStringLiteral("OK"));
        break;
    case ClientState::FolderMissing:
        dropboxFolderMissing(this);
        break;
    default:
        break;
    }
}

void AppController::showAlert(const QString& messageText, const QString& informativeText, const QString& button) {
    if (_alertPresenter)
        _alertPresenter(messageText, informativeText, button);
}

void AppController::darkModeChanged() {
    useBlackAndWhiteMenuBarIcons(this);
}

// ---- the fetch folder ----

QString AppController::folderIconPath() const {
    return Bundle::mainBundle().resourcePath() + QStringLiteral("/FolderIcon.png");
}

bool AppController::validDropbox() {
    const QString path = settings().fetchFolderPath();
    if (path.isEmpty() || !QFileInfo::exists(path))
        return false;
    Workspace::setFolderIcon(path, folderIconPath());
    _sharedFileListUtilities->addToFavorites(SharedFileListUtilities::fileURLWithPath(path));
    return true;
}

void AppController::createDocuvaneDropboxFolder() {
    dvGuard(kClassName, "createDocuvaneDropboxFolder", [&] {
        const QString path = settings().fetchFolderPath();
        if (path.isEmpty() || QFileInfo::exists(path))
            return;
        QDir().mkpath(path); // a failure is caught later by the folder checks
        Workspace::setFolderIcon(path, folderIconPath());
        _sharedFileListUtilities->addToFavorites(SharedFileListUtilities::fileURLWithPath(path));
    });
}

void AppController::dropboxFolderMissing(QObject*) {
    _preferencesController->closeWindow();
    _dropboxMissingWarning->showWindow();
}

void AppController::dropboxFolderMoved(const QString& newPath) {
    dvGuard(kClassName, "dropboxFolderMoved", [&] {
        settings().setFetchFolderPath(newPath);
        createDocuvaneDropboxFolder();
        _updater->checkForUpdatesInBackground();
        _scheduler->start();
    });
}

void AppController::dropboxFolderSelected(const QString& path) {
    dvGuard(kClassName, "dropboxFolderSelected", [&] {
        _folderWatcher->stop();
        settings().setFetchFolderPath(path);
        createDocuvaneDropboxFolder();
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
        const bool occupied = QFileInfo::exists(newPath) || QFileInfo(newPath).isSymLink();
        if (occupied || oldPath.isEmpty() || !QFileInfo::exists(oldPath)) {
            // Something already at the new place becomes the fetch folder; nothing is moved into it.
            finishFolderChange(oldPath, newPath, false);
            return;
        }
        // Moving may copy a whole folder to another file system: off the main thread, once no cycle can
        // write into either place.
        _scheduler->beginFolderMove([this, oldPath, newPath] {
            _folderMover.moveInBackground(
                oldPath, newPath, [this, oldPath, newPath](DVFolderMover::Result result, const QString& problem) {
                    const bool moved = result != DVFolderMover::Result::Failed;
                    if (!problem.isEmpty())
                        WSLogger::sharedInstance().logError(kClassName, "dropboxFolderChanged",
                                                            {QStringLiteral("Moving the fetch folder: "), problem});
                    finishFolderChange(oldPath, moved ? newPath : oldPath, moved);
                });
        });
    });
}

void AppController::finishFolderChange(const QString& oldPath, const QString& newPath, bool moved) {
    dvGuard(kClassName, "dropboxFolderChanged", [&] {
        if (newPath == oldPath && !moved)
            WSLogger::sharedInstance().logError(kClassName, "dropboxFolderChanged",
                                                {QStringLiteral("The fetch folder stays at "), oldPath});
        _scheduler->stopCheckForFolderTimer();
        if (QFileInfo::exists(newPath))
            _sharedFileListUtilities->addToFavorites(SharedFileListUtilities::fileURLWithPath(newPath));
        settings().setFetchFolderPath(newPath);
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

// ---- status item and menu ----

void AppController::useBlackAndWhiteMenuBarIcons(QObject*) {
    dvGuard(kClassName, "useBlackAndWhiteMenuBarIcons", [&] {
        if (!_statusItem)
            return;
        const bool dark =
            _appearance ? _appearance->isDark() : Appearance::isDarkThemeName(Appearance::currentThemeName());
        const bool blackAndWhite = settings().blackAndWhiteIcons() || dark;
        _statusItem->setImage(DVStatusImages::image(_scheduler->state() == ClientState::Enabled, blackAndWhite, dark));
    });
}

void AppController::menuWillOpen() {
    QMenu* menu = _statusItem->menu();
    QAction* progress = _statusItem->progressItem();
    const bool progressShown = menu->actions().contains(progress);
    if (_scheduler->isCheckingForDocuments()) {
        if (!progressShown) {
            insertActionAt(menu, 5, _progressSeparator);
            insertActionAt(menu, 6, progress);
        }
        // Started once the menu is up, as the indicator animates only while it is shown.
        QTimer::singleShot(0, _statusItem.get(), [item = _statusItem.get()] { item->setProgressAnimating(true); });
    } else if (progressShown) {
        menu->removeAction(menu->actions().at(5));
        menu->removeAction(progress);
    } else if (validDropbox()) {
        QAction* destination = _statusItem->destinationItem();
        if (!menu->actions().contains(destination))
            insertActionAt(menu, 6, destination);
        _statusItem->setDestinationMessage(QStringLiteral("Getting Account Info..."));
        _statusItem->setDestinationIndicatorHidden(false);
        QTimer::singleShot(0, _statusItem.get(), [item = _statusItem.get()] { item->setDestinationAnimating(true); });
        destinationSelector();
    }
    for (QAction* action : menu->actions())
        action->setEnabled(validateMenuItem(action));
}

bool AppController::validateMenuItem(QAction* item) const {
    if (item == _statusItem->action(DVStatusItem::Entry::CheckForDocuments))
        return !_scheduler->isCheckingForDocuments();
    if (item == _statusItem->action(DVStatusItem::Entry::Status))
        return _scheduler->state() != ClientState::Enabled;
    return true;
}

void AppController::statusItemOpenDropboxFolder() {
    Workspace::selectFile(settings().fetchFolderPath());
}
