#include "DVFetchWindowWatcher.h"

#include "ClientSettings.h"
#include "DVExceptionGuard.h"
#include "DVFetchWebServices.h"
#include "DVStringTable.h"
#include "FileManagerWindows.h"
#include "MainThread.h"
#include "WSLogger.h"

#include <QMutexLocker>

#include <algorithm>
#include <cmath>
#include <utility>

const QString DVFetchWindowWatcher::FolderName = QStringLiteral("Docuvane Fetch");

DVFetchWindowWatcher::DVFetchWindowWatcher(QObject* delegate, QObject* parent)
    : QObject(parent)
    , _delegate(delegate)
    , _interval(readInterval())
    , _webServices(std::make_unique<DVFetchWebServices>(dynamic_cast<DVFetchWebServicesDelegate*>(delegate), false)) {
    std::weak_ptr<int> alive = _alive;
    _webServices->setQueueEmptiedHandler([this, alive] {
        MainThread::perform([this, alive] {
            if (alive.lock())
                coordinatorQueueEmptied();
        });
    });
}

DVFetchWindowWatcher::~DVFetchWindowWatcher() {
    stop();
    _alive.reset();
    // The coordinator goes first: its queue waits for a queue-emptied report still running on a worker.
    _webServices.reset();
}

double DVFetchWindowWatcher::readInterval() {
    double seconds = kDefaultInterval;
    dvGuard("DVFetchWindowWatcher", "readInterval", [&] {
        const QVariant value = ClientSettings::shared().folderCheckInterval();
        bool ok = false;
        const double read = value.isValid() ? value.toDouble(&ok) : 0;
        // A value that is no number counts as none; NaN and infinities would make no period at all.
        if (ok && std::isfinite(read))
            seconds = read;
    });
    return seconds;
}

int DVFetchWindowWatcher::period() const {
    // Whole seconds, the fraction dropped; a period of 0 would make the timer spin.
    const double whole = std::trunc(_interval);
    return whole < kShortestInterval ? kShortestInterval : static_cast<int>(std::min(whole, 1e9));
}

std::shared_ptr<Timer> DVFetchWindowWatcher::timer() const {
    QMutexLocker lock(&_mutex);
    return _timer;
}

void DVFetchWindowWatcher::start() {
    dvGuard(this, "start", [&] {
        const std::shared_ptr<Timer> current = timer();
        if (current && current->isValid())
            return;
        std::shared_ptr<Timer> next = Timer::scheduledTimer(period(), true, [this] { checkDVFFinderWindow(); });
        QMutexLocker lock(&_mutex);
        _timer = std::move(next);
    });
}

void DVFetchWindowWatcher::stop() {
    dvGuard(this, "stop", [&] {
        std::shared_ptr<Timer> current;
        {
            QMutexLocker lock(&_mutex);
            current = std::exchange(_timer, nullptr);
        }
        if (current && current->isValid())
            current->invalidate();
    });
}

void DVFetchWindowWatcher::checkDVFFinderWindow() {
    updateWindowList();
}

void DVFetchWindowWatcher::updateWindowList() {
    dvGuard(this, "updateWindowList", [&] {
        const std::optional<QList<WindowDescription>> windows =
            _windowSource ? _windowSource() : WindowList::onScreenWindows();
        if (!windows) {
            const std::optional<bool> shown = folderShown();
            if (shown) {
                if (*shown)
                    askForCheck();
                return;
            }
            if (!std::exchange(_toldUnavailable, true)) {
                const QString reason = WindowList::unavailableReason();
                WSLogger::sharedInstance().logInfo(
                    this, "updateWindowList",
                    {QStringLiteral("The fetch folder's windows cannot be watched here (%1); documents are checked "
                                    "on the timer and on request only.")
                         .arg(reason.isEmpty() ? QStringLiteral("no window list") : reason)});
            }
            return;
        }
        const QString folderName = DVKey(FolderName);
        for (const WindowDescription& window : *windows) {
            if (window.sharingState == 0 || window.layer != 0 || window.ownerName.isNull())
                continue;
            // A window without a title counts as showing the folder, as the original check let it.
            if (WindowList::isFileManager(window.ownerName) &&
                (window.name.isNull() || window.name.contains(folderName))) {
                askForCheck();
                continue;
            }
            // Only the file-manager windows at the very front count.
            break;
        }
    });
}

std::optional<bool> DVFetchWindowWatcher::folderShown() {
    const QString folder = ClientSettings::shared().fetchFolderPath();
    if (_folderShownSource)
        return _folderShownSource(folder);
    if (!_fileManagerWindows)
        _fileManagerWindows = std::make_unique<FileManagerWindows>();
    return _fileManagerWindows->showsFolder(folder);
}

void DVFetchWindowWatcher::askForCheck() {
    if (_checkAction)
        _checkAction();
    else if (auto* gate = dynamic_cast<DVWindowWatcherFetchDelegate*>(delegate()))
        gate->windowWatcherWantsCheck(*_webServices);
    else
        _webServices->fire(false);
}

void DVFetchWindowWatcher::followState(ClientState state) {
    if (state == ClientState::Enabled)
        start();
    else
        stop();
}

void DVFetchWindowWatcher::setWindowSource(WindowSource source) {
    _windowSource = std::move(source);
}

void DVFetchWindowWatcher::setFolderShownSource(FolderShownSource source) {
    _folderShownSource = std::move(source);
}

void DVFetchWindowWatcher::setCheckAction(std::function<void()> action) {
    _checkAction = std::move(action);
}

void DVFetchWindowWatcher::coordinatorQueueEmptied() {
    dvGuard(this, "coordinatorQueueEmptied", [&] {
        // A check that began after the queue emptied reports its own end.
        if (_webServices->queue().operationCount() != 0)
            return;
        if (auto* listener = dynamic_cast<DVWindowWatcherCheckFinishedDelegate*>(delegate()))
            listener->windowWatcherCheckFinished();
    });
}
