#pragma once

#include "ClientState.h"
#include "Timer.h"
#include "WindowList.h"

#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class DVFetchWebServices;
class FileManagerWindows;

// The optional message a window watcher sends its delegate: a check that the watcher's own coordinator ran
// has ended (its queue emptied), so the delegate can stop showing that documents are being checked. The
// coordinator tells the delegate when such a check starts and how its downloads go; only its end would go
// unheard otherwise. Arrives on the main thread.
class DVWindowWatcherCheckFinishedDelegate {
public:
    virtual ~DVWindowWatcherCheckFinishedDelegate() = default;
    virtual void windowWatcherCheckFinished() = 0;
};

// The optional message a window watcher sends its delegate when a window asks for a check: the delegate
// decides whether the watcher's coordinator runs it (no check may write into a fetch folder being moved). A
// delegate that does not derive from this leaves the watcher to run it at once. Main thread.
class DVWindowWatcherFetchDelegate {
public:
    virtual ~DVWindowWatcherFetchDelegate() = default;
    virtual void windowWatcherWantsCheck(DVFetchWebServices& services) = 0;
};

// Checks the service for new documents while the user looks at the fetch folder: while the client's state is
// Enabled, a repeating timer reads the windows on screen, and every file-manager window at
// the very front whose title holds the folder's name asks the watcher's own coordinator for a quiet check.
// Where no window list can be read (a Wayland session), the file manager itself says whether a window shows
// the fetch folder or a folder inside it; that window may be behind others, so one check per tick is asked
// while any does.
//
// Everything runs on the main thread: the scheduler sets the state there, the timer fires there and the
// window list is read there.
class DVFetchWindowWatcher : public QObject {
    Q_OBJECT

public:
    // The period when the settings hold no interval, and the shortest period, in seconds.
    static constexpr int kDefaultInterval = 10;
    static constexpr int kShortestInterval = 1;
    // The text a file-manager window's title must hold: the default name of the fetch folder.
    static const QString FolderName;

    // Where the windows come from: front to back, or none when this session has no window list.
    using WindowSource = std::function<std::optional<QList<WindowDescription>>()>;
    // Where there is no window list: whether a window shows the folder or one inside it, front or back; none
    // when that cannot be told either.
    using FolderShownSource = std::function<std::optional<bool>(const QString& folderPath)>;

    // delegate: the scheduler, which outlives the watcher; it is not owned. The coordinator is
    // made with it as its owner (when it is one) and never downloads. The check interval is read here, once.
    explicit DVFetchWindowWatcher(QObject* delegate, QObject* parent = nullptr);
    ~DVFetchWindowWatcher() override;

    QObject* delegate() const { return _delegate.load(); }
    void setDelegate(QObject* delegate) { _delegate.store(delegate); }
    DVFetchWebServices* webServices() const { return _webServices.get(); }
    // The running check timer, or none.
    std::shared_ptr<Timer> timer() const;
    // Seconds between checks as the settings gave them ("DVFFolderCheckInterval"); kDefaultInterval when they
    // gave none.
    double interval() const { return _interval; }
    // The timer's period: the interval's whole seconds, never below kShortestInterval.
    int period() const;

    // Starts the timer unless it runs; the first check comes one period later.
    void start();
    void stop();
    // The timer's action.
    void checkDVFFinderWindow();
    // One scan of the windows on screen, front to back.
    void updateWindowList();

    // The client's state was set: Enabled starts the timer, anything else stops it.
    void followState(ClientState state);

    // Replace the window list, the file manager's answer and the coordinator's quiet check (tests).
    void setWindowSource(WindowSource source);
    void setFolderShownSource(FolderShownSource source);
    void setCheckAction(std::function<void()> action);

private:
    static double readInterval();
    void coordinatorQueueEmptied();
    std::optional<bool> folderShown();
    void askForCheck();

    std::atomic<QObject*> _delegate;
    const double _interval;
    std::unique_ptr<DVFetchWebServices> _webServices;
    mutable QMutex _mutex;
    std::shared_ptr<Timer> _timer;        // guarded by _mutex
    WindowSource _windowSource;           // main thread
    FolderShownSource _folderShownSource; // main thread
    // Asked from the first scan that finds no window list on; main thread.
    std::unique_ptr<FileManagerWindows> _fileManagerWindows;
    std::function<void()> _checkAction; // main thread
    bool _toldUnavailable = false;      // main thread
    // Lets the coordinator's queue-emptied report, which hops to the main thread, see that the watcher is gone.
    std::shared_ptr<int> _alive = std::make_shared<int>(0);
};
