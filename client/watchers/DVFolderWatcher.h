#pragma once

#include "ClientState.h"
#include "FileSystemEventStream.h"

#include <QMutex>
#include <QObject>
#include <QString>

#include <atomic>

class DVFolderWatcher;

// The optional message a folder watcher sends its delegate: the watched fetch folder (or a folder above it)
// was moved, renamed or deleted. A delegate that does not derive from this is not told.
class DVFolderWatcherDelegate {
public:
    virtual ~DVFolderWatcherDelegate() = default;
    virtual void dropboxFolderMissing(QObject* sender) = 0;
};

// Watches the fetch folder while the client's state is Enabled and tells the controller when the
// folder stops being where it was. It also keeps the id of the last file-system event it saw in the settings
// ("lastEventIdKey"), so that event ids keep growing from one run to the next.
//
// Everything happens on the thread that starts it: the scheduler sets the state on the main thread, so
// the event stream delivers there and the delegate call and settings writes happen there too.
class DVFolderWatcher : public QObject {
    Q_OBJECT

public:
    static constexpr double kDefaultLatency = 3.0;

    // delegate: the application controller, which outlives the watcher; it is not owned.
    explicit DVFolderWatcher(QObject* delegate, QObject* parent = nullptr);
    ~DVFolderWatcher() override;

    QString dropboxFolder() const;
    void setDropboxFolder(const QString& path);
    QObject* delegate() const { return _delegate.load(); }
    void setDelegate(QObject* delegate) { _delegate.store(delegate); }

    // Seconds the event stream gathers changes before reporting them; takes effect at the next start.
    double latency() const { return _latency.load(); }
    void setLatency(double seconds) { _latency.store(seconds); }

    bool isWatching() const { return _stream != nullptr; }

    // Watches the folder at the path. Nothing happens while already watching (the path is not taken over
    // either); a path that is not an existing folder leaves the watcher stopped without telling anyone.
    void start(const QString& path);
    void stop();
    void restart();
    void restartWithPath(const QString& path);

    // The client's state was set: Enabled starts watching the folder named in the settings, anything else
    // stops.
    void followState(ClientState state);

    // The event stream's callback: every root change is told, in the order given; the last id is stored.
    void eventsArrived(const QList<FileSystemEventStream::Event>& events);
    void reportMissingDropboxFolder();
    void updateLastEventId(quint64 eventId);

private:
    // Touched only on the thread that starts and stops the watcher.
    FileSystemEventStream* _stream = nullptr;
    bool _delivering = false;

    mutable QMutex _mutex;
    QString _dropboxFolder;
    std::atomic<QObject*> _delegate;
    std::atomic<double> _latency{kDefaultLatency};
};
