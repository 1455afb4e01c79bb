#include "AppController.h"

#include "Appearance.h"
#include "AuthenticationController.h"
#include "Bundle.h"
#include "ClientSettings.h"
#include "DVAccountInfoOperation.h"
#include "DVDocumentWriter.h"
#include "DVDropboxMissingWarning.h"
#include "DVExceptionGuard.h"
#include "DVFetchWebServices.h"
#include "DVLoginOperation.h"
#include "DVSetupWindowController.h"
#include "DVStatusImages.h"
#include "DVStatusItem.h"
#include "DVStatusWindow.h"
#include "DVUpdaterSwitch.h"
#include "DVUpdaterWindow.h"
#include "LogStartup.h"
#include "MainThread.h"
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
#include <QPointer>
#include <QTimer>
#include <QUrl>
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

AppController::AppController(QObject* parent, SystemEvents systemEvents)
    : QObject(parent)
    , _state(this, 0)
    , _alertPresenter(presentAlert) {
    // Reports of the settings store wait for the log, which is named when launching has finished.
    LogStartup::holdSettingsDiagnostics();
    _updater = std::make_unique<Updater>();
    _updaterWindow = std::make_unique<DVUpdaterWindow>(_updater.get());
    _automaticUpdateChecks = std::make_unique<DVUpdaterSwitch>(_updater.get());
    _preferencesController = std::make_unique<PreferencesController>(this);
    _setupWindowController = std::make_unique<DVSetupWindowController>(this);
    _dropboxMissingWarning = std::make_unique<DVDropboxMissingWarning>(this);
    _authenticationWindowController = std::make_unique<AuthenticationController>(this);
    _sharedFileListUtilities = std::make_unique<SharedFileListUtilities>();
    _folderWatcher = std::make_unique<DVFolderWatcher>(this);
    _windowWatcher = std::make_unique<DVFetchWindowWatcher>(this);
    _webServices = std::make_unique<DVFetchWebServices>(this, true);

    _destination = text(QStringLiteral("Looking for Destination..."));
    _checkingForDocuments = false;
    _reCheckForDocuments = false;

    migrateSettings();

    Workspace& workspace = Workspace::sharedWorkspace();
    connect(&workspace, &Workspace::didWake, this, &AppController::receiveWakeNote);
    if (systemEvents == SystemEvents::Desktop) {
        _wakeObserved = workspace.observeWake();
        _appearance = std::make_unique<Appearance>();
        connect(_appearance.get(), &Appearance::changed, this, &AppController::darkModeChanged);
    }
}

AppController::~AppController() {
    applicationWillTerminate();
    _state.removeObserver(_windowWatcher.get());
    _state.removeObserver(_folderWatcher.get());
}

void AppController::migrateSettings() {
    settings().migrateOlderDomain();
}

void AppController::applicationDidFinishLaunching() {
    dvGuard(kClassName, "applicationDidFinishLaunching", [&] {
        routeNotificationFallback();
        LogStartup::start(QDir::homePath() + QStringLiteral("/Library/Logs/DocuvaneFetch.log"));
        setCheckForUpdatesInterval();
        settings().setUserDefaults();
        // Temporary files a killed client left in the fetch folder go, once per launch, off the main thread.
        if (!storedFolderPath().isEmpty())
            DVDocumentWriter::removeStaleTemporaryFilesInBackground(storedFolderPath());
        if (!_wakeObserved)
            WSLogger::sharedInstance().logInfo(
                kClassName, "applicationDidFinishLaunching",
                {QStringLiteral("No system bus: a wake from sleep will not be noticed.")});
        createStatusItem();
        _state.addObserver(_folderWatcher.get(), nullptr);
        _state.addObserver(_windowWatcher.get(), nullptr);
        setState(0);
        start();
    });
}

void AppController::applicationWillTerminate() {
    if (_terminating)
        return;
    _terminating = true;
    // Timers first, so that nothing starts new work while the coordinators wind down.
    if (_timer)
        _timer->invalidate();
    stopCheckForFolderTimer();
    _windowWatcher->stop();
    _folderWatcher->stop();
    // Each stop waits for its own steps in flight; the idle ones return at once.
    for (DVFetchWebServices* services :
         {_webServices.get(), _windowWatcher->webServices(), &_preferencesController->webServices(),
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
            statusItemCheckForDocuments();
            break;
        case DVStatusItem::Entry::OpenFetchFolder:
            statusItemOpenDropboxFolder();
            break;
        case DVStatusItem::Entry::Website:
            statusItemLaunchDocuvaneItem();
            break;
        case DVStatusItem::Entry::Preferences:
            statusItemPreferences();
            break;
        case DVStatusItem::Entry::CheckForUpdates:
            statusItemCheckForUpdates();
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

// ---- main timer and the main loop ----

void AppController::start() {
    scheduleTimerWithInterval(kMainTimerInterval);
    _timer->fire();
    WSLogger::sharedInstance().logInfo(kClassName, "start", {QStringLiteral("AppController:  starting timer")});
}

void AppController::stop() {
    if (_timer && _timer->isValid())
        _timer->invalidate();
    _timer.reset();
    WSLogger::sharedInstance().logInfo(kClassName, "stop", {QStringLiteral("AppController:  stopping timer")});
}

void AppController::scheduleTimerWithInterval(double seconds) {
    if (_timer && _timer->isValid())
        _timer->invalidate();
    _timer = Timer::scheduledTimer(seconds, true, [this] { timerSelector(); });
}

void AppController::timerSelector() {
    if (_movingFolder)
        return; // the move's end starts the timer again
    if (state() != 0) {
        _webServices->fire(false);
        return;
    }
    if (!hasCredentials()) {
        // The timer keeps running, so the assistant comes back at every tick until setup is done.
        _setupWindowController->showWindow();
        return;
    }
    if (validDropbox()) {
        _webServices->fire(false);
        return;
    }
    setState(4);
    stop();
    scheduleFolderCheck(kFirstFolderCheckInterval, false);
}

void AppController::setCheckForUpdatesInterval() {
    _updater->setUpdateCheckInterval(kUpdateCheckInterval);
}

// ---- state ----

void AppController::setState(int state) {
    _stateValue = state;
    if (_statusItem) {
        QAction* status = _statusItem->action(DVStatusItem::Entry::Status);
        QAction* check = _statusItem->action(DVStatusItem::Entry::CheckForDocuments);
        status->setText(state == 1 ? QStringLiteral("Status:  Enabled") : QStringLiteral("Status:  Disabled..."));
        check->setEnabled(state == 1);
    }
    if (state == 1)
        stopCheckForFolderTimer();
    useBlackAndWhiteMenuBarIcons(this);
    // Observers hear every setting, also of an unchanged value: the watchers start or stop on it.
    _state.setValue(state);
}

void AppController::addStateObserver(DVKeyValueObserver* observer, void* context) {
    _state.addObserver(observer, context);
}

void AppController::removeStateObserver(DVKeyValueObserver* observer) {
    _state.removeObserver(observer);
}

// ---- fetch-cycle reports ----

void AppController::checkForDocumentsStart() {
    _checkingForDocuments = true;
    if (MainThread::isMainThread())
        showProgressMessage(QStringLiteral("Download Starting"));
    else
        MainThread::perform([self = QPointer<AppController>(this)] {
            if (self)
                self->showProgressMessage(QStringLiteral("Download Starting"));
        });
}

void AppController::checkForDocumentsProgress(const QVariantMap& document) {
    showProgressMessage(document.value(QStringLiteral("filename")).toString());
}

void AppController::checkForDocumentsFinished() {
    // The queue thread where the main coordinator's work ended: only the flags are touched here.
    if (_reCheckForDocuments.exchange(false)) {
        // A wake cut the cycle short: one more tick, on the main thread like every other tick.
        MainThread::perform([self = QPointer<AppController>(this)] {
            // The cut-short cycle has ended; a new one marks itself running as it starts. A tick that
            // starts none (no main timer, or state 0 without a usable folder) must not leave the menu
            // showing a cycle for hours.
            if (!self)
                return;
            self->_checkingForDocuments = false;
            if (self->_timer && self->_timer->isValid())
                self->_timer->fire();
            if (!self->_checkingForDocuments)
                self->showDownloadComplete();
        });
        return;
    }
    _checkingForDocuments = false;
    // The report comes from a worker thread; the controller may be gone (at quit) before the main thread
    // gets to it.
    MainThread::perform([self = QPointer<AppController>(this)] {
        if (self)
            self->showDownloadComplete();
    });
}

void AppController::showDownloadComplete() {
    showProgressMessage(QStringLiteral("Download Complete"));
    if (_statusItem)
        _statusItem->setProgressAnimating(false);
}

void AppController::windowWatcherCheckFinished() {
    // The window watcher's cycle ended; a cycle of the main coordinator still running keeps the flag.
    if (_webServices->queue().operationCount() > 0)
        return;
    _checkingForDocuments = false;
    showDownloadComplete();
}

void AppController::loginComplete(const std::shared_ptr<DVLoginOperation>& operation) {
    if (!operation->error())
        return;
    removeDestinationItem();
    setState(2);
}

void AppController::accountInfoComplete(const std::shared_ptr<DVAccountInfoOperation>& operation) {
    if (const std::optional<DVError> error = operation->error()) {
        _lastError = error->fullDescription();
        setState(5);
    } else if (!validDropbox()) {
        setState(4);
    } else {
        const QVariantMap account = operation->accountInfo().value_or(QVariantMap());
        const qint64 destinationId = account.value(QStringLiteral("destinationId")).toLongLong();
        setState(destinationId == 2 ? 1 : 3);
    }
    removeDestinationItem();
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
        if (_timer && _timer->isValid())
            _timer->fire();
    });
}

void AppController::authenticationComplete(AuthenticationController*) {
    setState(1);
}

void AppController::authenticate() {
    _authenticationWindowController->showWindow();
}

DVAutomaticUpdateChecks* AppController::sparkleUpdater() {
    return _automaticUpdateChecks.get();
}

void AppController::showWaitingWindow() {
    if (state() == 0)
        _setupWindowController->showWindow();
    else
        _preferencesController->showWindow();
}

// ---- account ----

QString AppController::storedEmail() const {
    return settings().email();
}

QString AppController::password() const {
    return settings().password();
}

bool AppController::hasCredentials() const {
    return !storedEmail().isEmpty() && !password().isEmpty();
}

void AppController::getAccountInfo(const QString& user, const QString& password) {
    _webServices->accountInfo(user, password);
}

void AppController::destinationSelector() {
    _webServices->accountInfo(storedEmail(), password());
}

bool AppController::validAccount() {
    if (!hasCredentials())
        return false;
    if (!validDropbox())
        dropboxFolderMissing(this);
    else
        _webServices->accountInfo(storedEmail(), password());
    return true;
}

// ---- state explanation, wake, appearance ----

void AppController::statusItemStatus() {
    switch (state()) {
    case 2:
        showAlert(QStringLiteral("Invalid Credentials"),
                  text(QStringLiteral("Docuvane Fetch is unable to log in to your Docuvane account. Please re-enter "
                                      "your username and password.")),
                  QStringLiteral("OK"));
        statusItemPreferences();
        break;
    case 3:
        showAlert(QStringLiteral("Invalid Destination"),
                  text(QStringLiteral("Your Docuvane account is not currently using your Docuvane Fetch app as its "
                                      "document delivery destination.\r\rTo change your destination, please log "
                                      "into the Docuvane web client and click on the \"Destination\" tab.")),
                  QStringLiteral("OK"));
        break;
    case 5:
        showAlert(QStringLiteral("Error"), _lastError, QStringLiteral("OK"));
        break;
    case 4:
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

void AppController::receiveWakeNote() {
    WSLogger::sharedInstance().logInfo(kClassName, "receiveWakeNote", {QStringLiteral("Received wakeup notice.")});
    if (!_checkingForDocuments)
        return;
    // Set before cancelling: the queue may empty on another thread at once, and its report must see it.
    _reCheckForDocuments = true;
    _webServices->queue().cancelAllOperations();
}

void AppController::darkModeChanged() {
    useBlackAndWhiteMenuBarIcons(this);
}

// ---- the fetch folder ----

QString AppController::storedFolderPath() const {
    return settings().fetchFolderPath();
}

QString AppController::folderIconPath() const {
    return Bundle::mainBundle().resourcePath() + QStringLiteral("/FolderIcon.png");
}

bool AppController::validDropbox() {
    const QString path = storedFolderPath();
    if (path.isEmpty() || !QFileInfo::exists(path))
        return false;
    Workspace::setFolderIcon(path, folderIconPath());
    _sharedFileListUtilities->addToFavorites(SharedFileListUtilities::fileURLWithPath(path));
    return true;
}

void AppController::createDocuvaneDropboxFolder() {
    dvGuard(kClassName, "createDocuvaneDropboxFolder", [&] {
        const QString path = storedFolderPath();
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
        start();
    });
}

void AppController::dropboxFolderSelected(const QString& path) {
    dvGuard(kClassName, "dropboxFolderSelected", [&] {
        _folderWatcher->stop();
        settings().setFetchFolderPath(path);
        createDocuvaneDropboxFolder();
        setState(1);
        start();
        _folderWatcher->start(path);
        _webServices->accountInfo(storedEmail(), password());
    });
}

void AppController::dropboxFolderRemind() {
    dvGuard(kClassName, "dropboxFolderRemind", [&] {
        setState(4);
        scheduleFolderCheck(kFolderReminderInterval, true);
    });
}

void AppController::scheduleFolderCheck(double seconds, bool repeats) {
    // A pending check is ended first: a forgotten repeating timer would keep firing for ever.
    stopCheckForFolderTimer();
    _checkForFolderTimer = Timer::scheduledTimer(seconds, repeats, [this] { checkForFolderTimerSelector(); });
}

void AppController::checkForFolderTimerSelector() {
    stopCheckForFolderTimer();
    if (validDropbox()) {
        setState(1);
        // The main timer was stopped when the folder went missing; without this the 4-hourly fetches
        // would never come back.
        start();
    } else {
        dropboxFolderMissing(this);
    }
}

void AppController::stopCheckForFolderTimer() {
    if (!_checkForFolderTimer)
        return;
    if (_checkForFolderTimer->isValid())
        _checkForFolderTimer->invalidate();
    _checkForFolderTimer.reset();
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
        // Moving may copy a whole folder to another file system: off the main thread. No cycle may
        // write into either place meanwhile, so the main timer waits.
        _movingFolder = true;
        if (_timer && _timer->isValid())
            _timer->invalidate();
        _folderMover.moveInBackground(
            oldPath, newPath, [this, oldPath, newPath](DVFolderMover::Result result, const QString& problem) {
                const bool moved = result != DVFolderMover::Result::Failed;
                if (!problem.isEmpty())
                    WSLogger::sharedInstance().logError(kClassName, "dropboxFolderChanged",
                                                        {QStringLiteral("Moving the fetch folder: "), problem});
                _movingFolder = false;
                finishFolderChange(oldPath, moved ? newPath : oldPath, moved);
            });
    });
}

void AppController::finishFolderChange(const QString& oldPath, const QString& newPath, bool moved) {
    dvGuard(kClassName, "dropboxFolderChanged", [&] {
        if (newPath == oldPath && !moved)
            WSLogger::sharedInstance().logError(kClassName, "dropboxFolderChanged",
                                                {QStringLiteral("The fetch folder stays at "), oldPath});
        stopCheckForFolderTimer();
        if (QFileInfo::exists(newPath))
            _sharedFileListUtilities->addToFavorites(SharedFileListUtilities::fileURLWithPath(newPath));
        settings().setFetchFolderPath(newPath);
        if (!_terminating) {
            start();
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
        _statusItem->setImage(DVStatusImages::image(state() == 1, blackAndWhite, dark));
    });
}

void AppController::menuWillOpen() {
    QMenu* menu = _statusItem->menu();
    QAction* progress = _statusItem->progressItem();
    const bool progressShown = menu->actions().contains(progress);
    if (_checkingForDocuments) {
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
        return !_checkingForDocuments;
    if (item == _statusItem->action(DVStatusItem::Entry::Status))
        return state() != 1;
    return true;
}

void AppController::statusItemCheckForUpdates() {
    _updater->checkForUpdates();
}

void AppController::statusItemCheckForDocuments() {
    _checkingForDocuments = true;
    showProgressMessage(QStringLiteral("Download Starting"));
    _webServices->fire(true);
}

void AppController::statusItemPreferences() {
    _preferencesController->showWindow();
}

void AppController::statusItemOpenDropboxFolder() {
    Workspace::selectFile(storedFolderPath());
}

void AppController::statusItemLaunchDocuvaneItem() {
    _webServices->launchDocuvaneWebsite();
}
