#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <sys/types.h>

class QSocketNotifier;

// Reports changes beneath one folder, coalesced for a latency, the way the file-system event streams of the
// system this client was first written for did. Built on inotify: the folder and every folder beneath it
// are watched for changes of their entries, and the folder and each of its ancestors for the changes that
// make the path stop naming the folder (a rename, move or deletion of the folder or of any folder above).
// Those root changes are delivered as an event of their own whose flags are exactly RootChanged; every
// other event carries item bits and so never equals RootChanged.
//
// The stream lives on the thread that made it and delivers there, through that thread's event loop.
// Events are only those from start() on. Ids are unique and increase within the process; they continue
// after the last id the caller knew of, so that ids stored by an earlier run keep growing.
class FileSystemEventStream : public QObject {
    Q_OBJECT

public:
    // The flag values of the original event streams, so that stored or logged flags mean the same.
    enum Flag : quint32 {
        None = 0x0,
        MustScanSubDirs = 0x1,
        UserDropped = 0x2,
        KernelDropped = 0x4,
        RootChanged = 0x20,
        Unmount = 0x80,
        ItemCreated = 0x100,
        ItemRemoved = 0x200,
        ItemInodeMetaMod = 0x400,
        ItemRenamed = 0x800,
        ItemModified = 0x1000,
        ItemIsFile = 0x10000,
        ItemIsDir = 0x20000,
        ItemIsSymlink = 0x40000,
    };

    struct Event {
        QString path;
        quint32 flags = None;
        quint64 id = 0;
    };

    // path: the folder to watch (made absolute). latency: seconds to gather events before delivering them.
    // lastKnownEventId: every id this stream hands out is greater.
    FileSystemEventStream(const QString& path, double latency, quint64 lastKnownEventId, QObject* parent = nullptr);
    ~FileSystemEventStream() override;

    FileSystemEventStream(const FileSystemEventStream&) = delete;
    FileSystemEventStream& operator=(const FileSystemEventStream&) = delete;

    QString path() const { return _path; }
    double latency() const { return _latency; }

    // Begins watching; false (with errorString()) when the kernel refuses the instance or the folder's watch,
    // or when called on another thread than the stream's or after invalidate().
    bool start();
    // Ends watching: every watch and the descriptor are released and undelivered events are dropped.
    // start() may be called again.
    void stop();
    // stop(), and the stream can never start again.
    void invalidate();

    bool isStarted() const { return _fd >= 0; }
    bool isValid() const { return _valid; }
    QString errorString() const { return _errorString; }

    // The id of the last event delivered by any stream of this process (or the highest id a stream was told
    // about).
    static quint64 currentEventId();

signals:
    // One delivery: the events gathered during one latency period, in the order they first happened.
    void eventsArrived(const QList<FileSystemEventStream::Event>& events);

private:
    enum class Role { Ancestor, Root, Inside };
    struct Watch {
        Role role = Role::Inside;
        QString path;
        QString childName; // for an ancestor: the next name on the way to the watched folder
    };

    void readEvents();
    void handle(int wd, quint32 mask, const QString& name);
    void handleAncestor(const Watch& watch, quint32 mask, const QString& name);
    void handleInside(const Watch& watch, quint32 mask, const QString& name);
    void rootPathChanged();

    // Drops every watch and sets them up again from the path; when asked, reports a root change if the folder
    // that was watched is no longer the one at the path (after lost events nothing else would tell).
    void rebuild(bool reportIdentityChange);
    void releaseWatches();
    int addWatch(const QString& path, quint32 mask, Role role, const QString& childName = QString());
    // Watches a folder inside the tree and everything beneath it; reports what it finds when asked (a folder
    // that arrived while unwatched may already hold entries).
    void watchTree(const QString& folder, bool reportEntries);
    void watchSubfolders(const QString& folder, bool reportEntries);
    void forgetTree(const QString& folder);

    void addPending(const QString& path, quint32 flags);
    void addRootChange();
    void addRescan(quint32 extraFlags);
    void armTimer();
    void deliver();

    QString _path;
    double _latency;
    bool _valid = true;
    int _fd = -1;
    QSocketNotifier* _notifier = nullptr;
    QTimer _timer;
    QString _errorString;
    int _rootWatchErrno = 0;

    QHash<int, Watch> _watches;
    bool _rootPresent = false;
    dev_t _rootDevice = 0;
    ino_t _rootInode = 0;
    bool _rebuildNeeded = false;

    // More distinct paths than this within one latency period are replaced by one MustScanSubDirs event, so a
    // flood of changes cannot grow the pending list without bound.
    static constexpr qsizetype kMaxPendingEvents = 10000;
    QList<Event> _pending;
    QHash<QString, qsizetype> _pendingIndex;
    qsizetype _rootChangeIndex = -1;
    qsizetype _rescanIndex = -1;
    bool _pendingOverflowed = false;
};

Q_DECLARE_METATYPE(FileSystemEventStream::Event)
