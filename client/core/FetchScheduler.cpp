#include "FetchScheduler.h"

#include "ClientSettings.h"
#include "DVAccountInfoOperation.h"
#include "DVFetchWebServices.h"
#include "DVLoginOperation.h"
#include "MainThread.h"
#include "Timer.h"
#include "WSLogger.h"

#include <QPointer>

namespace {

// The log's origin field names the class that first held this work.
const char* const kClassName = "AppController";

} // namespace

FetchScheduler::FetchScheduler(QObject* parent)
    : QObject(parent)
    , _webServices(std::make_unique<DVFetchWebServices>(this, true)) {}

FetchScheduler::~FetchScheduler() {
    terminate();
    // The coordinator goes first: its queue waits for a finish report still running on a worker.
    _webServices.reset();
}

void FetchScheduler::setState(ClientState state) {
    _state = state;
    if (state == ClientState::Enabled)
        stopCheckForFolderTimer();
    emit stateChanged(state);
}

// ---- the main timer ----

void FetchScheduler::start() {
    scheduleTimerWithInterval(kMainTimerInterval);
    _timer->fire();
    WSLogger::sharedInstance().logInfo(kClassName, "start", {QStringLiteral("AppController:  starting timer")});
}

void FetchScheduler::stop() {
    if (_timer && _timer->isValid())
        _timer->invalidate();
    _timer.reset();
    WSLogger::sharedInstance().logInfo(kClassName, "stop", {QStringLiteral("AppController:  stopping timer")});
}

void FetchScheduler::scheduleTimerWithInterval(double seconds) {
    if (_timer && _timer->isValid())
        _timer->invalidate();
    _timer = Timer::scheduledTimer(seconds, true, [this] { timerSelector(); });
}

void FetchScheduler::fireTimer() {
    if (_timer && _timer->isValid())
        _timer->fire();
}

void FetchScheduler::timerSelector() {
    if (_movingFolder || _terminating)
        return; // the move's end starts the timer again
    if (state() != ClientState::NotSetUp) {
        _webServices->fire(false);
        return;
    }
    const ClientSettings& settings = ClientSettings::shared();
    if (settings.email().isEmpty() || settings.password().isEmpty()) {
        // The timer keeps running, so the assistant comes back at every tick until setup is done.
        emit setupNeeded();
        return;
    }
    if (isFolderUsable()) {
        _webServices->fire(false);
        return;
    }
    setState(ClientState::FolderMissing);
    stop();
    scheduleFolderCheck(kFirstFolderCheckInterval, false);
}

void FetchScheduler::checkForDocumentsNow() {
    if (_terminating)
        return;
    if (_movingFolder) {
        _fetchAfterMove = true;
        return;
    }
    setChecking(true);
    emit progressMessage(QStringLiteral("Download Starting"));
    _webServices->fire(true);
}

void FetchScheduler::setChecking(bool checking) {
    _checkingForDocuments = checking;
    emit checkingChanged();
}

// ---- the folder checks ----

void FetchScheduler::remindAboutFolder() {
    setState(ClientState::FolderMissing);
    scheduleFolderCheck(kFolderReminderInterval, true);
}

void FetchScheduler::scheduleFolderCheck(double seconds, bool repeats) {
    // A pending check is ended first: a forgotten repeating timer would keep firing for ever.
    stopCheckForFolderTimer();
    _checkForFolderTimer = Timer::scheduledTimer(seconds, repeats, [this] { checkForFolderTimerSelector(); });
}

void FetchScheduler::checkForFolderTimerSelector() {
    stopCheckForFolderTimer();
    if (isFolderUsable()) {
        setState(ClientState::Enabled);
        emit folderFound();
        // The main timer was stopped when the folder went missing; without this the 4-hourly fetches
        // would never come back.
        start();
    } else {
        emit folderMissing();
    }
}

void FetchScheduler::stopCheckForFolderTimer() {
    if (!_checkForFolderTimer)
        return;
    if (_checkForFolderTimer->isValid())
        _checkForFolderTimer->invalidate();
    _checkForFolderTimer.reset();
}

// ---- wake ----

void FetchScheduler::receiveWakeNote() {
    WSLogger::sharedInstance().logInfo(kClassName, "receiveWakeNote", {QStringLiteral("Received wakeup notice.")});
    // Only a cycle of the main coordinator is re-run: its end report is what clears the re-check, and a
    // window watcher's cycle sends none.
    if (!_checkingForDocuments || _webServices->queue().operationCount() == 0)
        return;
    // Set before cancelling: the queue may empty on another thread at once, and its report must see it.
    _reCheckForDocuments = true;
    _webServices->queue().cancelAllOperations();
}

// ---- moving the fetch folder ----

void FetchScheduler::beginFolderMove(std::function<void()> move) {
    _movingFolder = true;
    if (_timer && _timer->isValid())
        _timer->invalidate();
    _pendingMove = std::move(move);
    if (fetchesRunning()) {
        // Their end reports start the move.
        _webServices->queue().cancelAllOperations();
        if (_watcherServices)
            _watcherServices->queue().cancelAllOperations();
    }
    startMoveWhenIdle();
}

bool FetchScheduler::fetchesRunning() const {
    return _webServices->queue().operationCount() != 0 ||
           (_watcherServices && _watcherServices->queue().operationCount() != 0);
}

void FetchScheduler::startMoveWhenIdle() {
    if (!_pendingMove || fetchesRunning())
        return;
    std::exchange(_pendingMove, {})();
}

void FetchScheduler::endFolderMove() {
    _movingFolder = false;
    if (std::exchange(_fetchAfterMove, false))
        checkForDocumentsNow();
}

void FetchScheduler::terminate() {
    _terminating = true;
    _pendingMove = {};
    if (_timer)
        _timer->invalidate();
    stopCheckForFolderTimer();
}

// ---- the coordinators' reports ----

void FetchScheduler::checkForDocumentsStart() {
    _checkingForDocuments = true;
    if (MainThread::isMainThread()) {
        emit checkingChanged();
        emit progressMessage(QStringLiteral("Download Starting"));
        return;
    }
    MainThread::perform([self = QPointer<FetchScheduler>(this)] {
        if (!self)
            return;
        emit self->checkingChanged();
        emit self->progressMessage(QStringLiteral("Download Starting"));
    });
}

void FetchScheduler::checkForDocumentsProgress(const QVariantMap& document) {
    emit progressMessage(document.value(QStringLiteral("filename")).toString());
}

void FetchScheduler::checkForDocumentsFinished() {
    // The queue thread where the main coordinator's work ended: only the flags are touched here.
    if (_reCheckForDocuments.exchange(false)) {
        // A wake cut the cycle short: one more tick, on the main thread like every other tick.
        MainThread::perform([self = QPointer<FetchScheduler>(this)] {
            // The cut-short cycle has ended; a new one marks itself running as it starts. A tick that
            // starts none (no main timer, or state 0 without a usable folder) must not leave the menu
            // showing a cycle for hours.
            if (!self)
                return;
            self->_checkingForDocuments = false;
            self->fireTimer();
            if (!self->_checkingForDocuments)
                self->endCycle(self->_webServices.get());
        });
        return;
    }
    _checkingForDocuments = false;
    // The report comes from a worker thread; the scheduler may be gone (at quit) before the main thread
    // gets to it.
    MainThread::perform([self = QPointer<FetchScheduler>(this)] {
        if (self)
            self->endCycle(self->_webServices.get());
    });
}

void FetchScheduler::endCycle(const DVFetchWebServices* services) {
    emit cycleEnded(services && services->fileList().has_value());
    emit checkingChanged();
    startMoveWhenIdle();
}

void FetchScheduler::windowWatcherCheckFinished() {
    // The window watcher's cycle ended; a cycle of the main coordinator still running keeps the flag.
    if (_webServices->queue().operationCount() > 0)
        return;
    _checkingForDocuments = false;
    endCycle(_watcherServices);
}

void FetchScheduler::windowWatcherWantsCheck(DVFetchWebServices& services) {
    // During a move the main cycle that follows it fetches what this check would have.
    if (_terminating || _movingFolder)
        return;
    services.fire(false);
}

void FetchScheduler::loginComplete(const std::shared_ptr<DVLoginOperation>& operation) {
    if (!operation->error())
        return;
    emit accountLookupEnded();
    setState(ClientState::InvalidCredentials);
}

void FetchScheduler::accountInfoComplete(const std::shared_ptr<DVAccountInfoOperation>& operation) {
    if (const std::optional<DVError> error = operation->error()) {
        _lastError = error->fullDescription();
        setState(ClientState::Error);
    } else if (!isFolderUsable()) {
        setState(ClientState::FolderMissing);
    } else {
        const QVariantMap account = operation->accountInfo().value_or(QVariantMap());
        const qint64 destinationId = account.value(QStringLiteral("destinationId")).toLongLong();
        setState(destinationId == 2 ? ClientState::Enabled : ClientState::InvalidDestination);
        emit folderFound();
    }
    emit accountLookupEnded();
}
