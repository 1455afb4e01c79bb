#pragma once

#include "ClientState.h"
#include "DVFetchWebServicesDelegate.h"
#include "DVFetchWindowWatcher.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>

class DVFetchWebServices;
class Timer;

// Decides when the service is asked for documents and keeps the client's state: the main timer, the
// folder checks while the fetch folder is missing, the wake re-check, the holding of every fetch while
// the fetch folder moves, and what the main coordinator reports. Owns the main coordinator.
//
// Everything runs on the main thread except checkForDocumentsFinished(), which arrives on the queue thread
// where the main coordinator's work ended; it touches only the two atomic flags there and hands the rest to
// the main thread. Signals are emitted on the main thread.
class FetchScheduler : public QObject,
                       public CheckForDocumentsStartDelegate,
                       public CheckForDocumentsProgressDelegate,
                       public CheckForDocumentsFinishedDelegate,
                       public ServicesLoginCompleteDelegate,
                       public ServicesAccountInfoCompleteDelegate,
                       public DVWindowWatcherCheckFinishedDelegate,
                       public DVWindowWatcherFetchDelegate {
    Q_OBJECT

public:
    static constexpr double kMainTimerInterval = 14400;
    static constexpr double kFirstFolderCheckInterval = 300;
    static constexpr double kFolderReminderInterval = 3600;

    // Whether the fetch folder named in the settings is usable.
    using FolderCheck = std::function<bool()>;

    explicit FetchScheduler(QObject* parent = nullptr);
    ~FetchScheduler() override;

    DVFetchWebServices* webServices() const { return _webServices.get(); }
    void setFolderCheck(FolderCheck check) { _folderCheck = std::move(check); }
    bool isFolderUsable() const { return _folderCheck && _folderCheck(); }
    // The window watcher's coordinator, the only other one that fetches.
    void setWatcherServices(DVFetchWebServices* services) { _watcherServices = services; }

    ClientState state() const { return _state.load(); }
    // Tells stateChanged every time, also of an unchanged state: the watchers start or stop on it.
    void setState(ClientState state);
    QString lastError() const { return _lastError; }

    // The main timer: start() schedules it and runs its first tick now.
    void start();
    void stop();
    void scheduleTimerWithInterval(double seconds);
    void timerSelector();
    // One tick now, when the main timer runs.
    void fireTimer();
    Timer* timer() const { return _timer.get(); }

    // A check the user asked for: the notification tells when nothing is new.
    void checkForDocumentsNow();
    bool isCheckingForDocuments() const { return _checkingForDocuments.load(); }
    bool reCheckForDocuments() const { return _reCheckForDocuments.load(); }

    // The folder checks while the fetch folder is missing: 300 seconds once after a failed tick, then the
    // hourly reminder.
    void remindAboutFolder();
    void checkForFolderTimerSelector();
    void stopCheckForFolderTimer();
    Timer* checkForFolderTimer() const { return _checkForFolderTimer.get(); }

    void receiveWakeNote();

    // While the fetch folder moves no cycle may write into either place: running cycles are cancelled and
    // `move` runs once they have ended; fetches asked for meanwhile are held until endFolderMove().
    void beginFolderMove(std::function<void()> move);
    void endFolderMove();
    bool isMovingFolder() const { return _movingFolder; }

    // At quit: the timers stop and nothing starts any more.
    void terminate();

    void checkForDocumentsStart() override;
    void checkForDocumentsProgress(const QVariantMap& document) override;
    void checkForDocumentsFinished() override;
    void loginComplete(const std::shared_ptr<DVLoginOperation>& operation) override;
    void accountInfoComplete(const std::shared_ptr<DVAccountInfoOperation>& operation) override;
    void windowWatcherCheckFinished() override;
    void windowWatcherWantsCheck(DVFetchWebServices& services) override;

signals:
    void stateChanged(ClientState state);
    // isCheckingForDocuments() may have changed.
    void checkingChanged();
    void progressMessage(const QString& text);
    // A cycle is over: "Download Complete". listed: whether the coordinator whose work ended got its
    // document list; tells nothing when only an account lookup ran (isCheckingForDocuments() was false).
    void cycleEnded(bool listed);
    // An account lookup has been answered (also by a failed login).
    void accountLookupEnded();
    // A tick found no credentials: setup is not done.
    void setupNeeded();
    // A folder check found no usable folder.
    void folderMissing();
    // A folder check found the folder usable (again).
    void folderFound();

private:
    void scheduleFolderCheck(double seconds, bool repeats);
    void setChecking(bool checking);
    void endCycle(const DVFetchWebServices* services);
    bool fetchesRunning() const;
    void startMoveWhenIdle();

    std::unique_ptr<DVFetchWebServices> _webServices;
    DVFetchWebServices* _watcherServices = nullptr;
    FolderCheck _folderCheck;
    std::shared_ptr<Timer> _timer;
    std::shared_ptr<Timer> _checkForFolderTimer;

    std::atomic<ClientState> _state{ClientState::NotSetUp};
    // Both cross threads: set on the main thread, read and cleared on the queue thread of the finish report.
    std::atomic<bool> _checkingForDocuments{false};
    std::atomic<bool> _reCheckForDocuments{false};
    QString _lastError;

    bool _movingFolder = false;
    std::function<void()> _pendingMove;
    bool _fetchAfterMove = false;
    bool _terminating = false;
};
