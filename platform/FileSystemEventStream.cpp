#include "FileSystemEventStream.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QThread>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Ancestors only matter through the one entry that leads to the watched folder, and through themselves.
constexpr quint32 kAncestorMask =
    IN_MOVE_SELF | IN_DELETE_SELF | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE | IN_CREATE | IN_ONLYDIR | IN_MASK_ADD;
constexpr quint32 kInsideMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MODIFY | IN_CLOSE_WRITE |
                                IN_ATTRIB | IN_MOVE_SELF | IN_DELETE_SELF | IN_ONLYDIR | IN_MASK_ADD;
// The watched folder may be reached through a symbolic link; folders inside are never followed out of the tree.
constexpr quint32 kRootMask = kInsideMask;
constexpr quint32 kSubfolderMask = kInsideMask | IN_DONT_FOLLOW;

std::atomic<quint64> gLastEventId{0};

void raiseLastEventId(quint64 floor) {
    quint64 current = gLastEventId.load();
    while (current < floor && !gLastEventId.compare_exchange_weak(current, floor)) {
    }
}

QString childPath(const QString& folder, const QString& name) {
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

bool isInside(const QString& path, const QString& folder) {
    return path == folder || path.startsWith(folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/'));
}

} // namespace

FileSystemEventStream::FileSystemEventStream(const QString& path, double latency, quint64 lastKnownEventId,
                                             QObject* parent)
    : QObject(parent)
    , _path(path.isEmpty() ? QString() : QDir::cleanPath(QFileInfo(path).absoluteFilePath()))
    , _latency(std::isfinite(latency) && latency > 0 ? latency : 0.0) {
    // All bits set is the "since now" marker of the original streams, not an id that was ever handed out.
    if (lastKnownEventId != ~quint64(0))
        raiseLastEventId(lastKnownEventId);
    _timer.setSingleShot(true);
    _timer.setInterval(static_cast<int>(std::min(_latency * 1000.0, 24.0 * 3600 * 1000)));
    connect(&_timer, &QTimer::timeout, this, &FileSystemEventStream::deliver);
}

FileSystemEventStream::~FileSystemEventStream() {
    stop();
}

quint64 FileSystemEventStream::currentEventId() {
    return gLastEventId.load();
}

bool FileSystemEventStream::start() {
    if (!_valid) {
        _errorString = QStringLiteral("the stream was invalidated");
        return false;
    }
    if (thread() != QThread::currentThread()) {
        _errorString = QStringLiteral("the stream must be started on its own thread");
        return false;
    }
    if (_fd >= 0)
        return true;
    if (_path.isEmpty()) {
        _errorString = QStringLiteral("no folder to watch");
        return false;
    }
    _fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (_fd < 0) {
        _errorString = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    _rootWatchErrno = 0;
    rebuild(false);
    if (_rootWatchErrno != 0) {
        _errorString = QStringLiteral("%1: %2").arg(_path, QString::fromLocal8Bit(std::strerror(_rootWatchErrno)));
        stop();
        return false;
    }
    _notifier = new QSocketNotifier(_fd, QSocketNotifier::Read, this);
    connect(_notifier, &QSocketNotifier::activated, this, &FileSystemEventStream::readEvents);
    _errorString.clear();
    return true;
}

void FileSystemEventStream::stop() {
    _timer.stop();
    _pending.clear();
    _pendingIndex.clear();
    _rootChangeIndex = -1;
    _rescanIndex = -1;
    _pendingOverflowed = false;
    if (_notifier) {
        // The notifier must let go of the descriptor before it is closed.
        _notifier->setEnabled(false);
        delete _notifier;
        _notifier = nullptr;
    }
    if (_fd >= 0) {
        releaseWatches();
        ::close(_fd);
        _fd = -1;
    }
    _rootPresent = false;
    _rebuildNeeded = false;
}

void FileSystemEventStream::invalidate() {
    stop();
    _valid = false;
}

void FileSystemEventStream::readEvents() {
    // Aligned for the event headers read into it; large enough for many events with the longest name.
    alignas(inotify_event) char buffer[64 * 1024];
    for (;;) {
        const ssize_t length = ::read(_fd, buffer, sizeof buffer);
        if (length < 0 && errno == EINTR)
            continue;
        if (length <= 0)
            break;
        for (ssize_t offset = 0; offset + static_cast<ssize_t>(sizeof(inotify_event)) <= length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
            const QString name = event->len > 0 ? QFile::decodeName(event->name) : QString();
            handle(event->wd, event->mask, name);
            offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    if (_rebuildNeeded)
        rebuild(true);
}

void FileSystemEventStream::handle(int wd, quint32 mask, const QString& name) {
    if (mask & IN_Q_OVERFLOW) {
        // Events were lost: whatever changed must be found by looking, and the watches of folders made in the
        // meantime are missing, so everything is set up again (which also tells whether the folder moved).
        addRescan(KernelDropped);
        _rebuildNeeded = true;
        return;
    }
    const auto found = _watches.constFind(wd);
    if (found == _watches.cend())
        return; // a watch already let go of; its last events are still queued
    const Watch watch = *found;
    if (mask & IN_IGNORED) {
        _watches.remove(wd);
        // The kernel dropped a watch on the way to the folder (deleted, or its file system unmounted).
        if (watch.role != Role::Inside)
            _rebuildNeeded = true;
        return;
    }
    if (watch.role == Role::Ancestor)
        handleAncestor(watch, mask, name);
    else
        handleInside(watch, mask, name);
}

void FileSystemEventStream::handleAncestor(const Watch& watch, quint32 mask, const QString& name) {
    const bool self = mask & (IN_MOVE_SELF | IN_DELETE_SELF | IN_UNMOUNT);
    const bool onTheWay = (mask & (IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE | IN_CREATE)) && name == watch.childName;
    if (!self && !onTheWay)
        return;
    rootPathChanged();
}

void FileSystemEventStream::rootPathChanged() {
    // While the folder is missing, changes on the way to it only mean the watches must follow; the folder
    // coming back is not a change to report.
    if (_rootPresent)
        addRootChange();
    _rebuildNeeded = true;
}

void FileSystemEventStream::handleInside(const Watch& watch, quint32 mask, const QString& name) {
    if (name.isEmpty()) {
        // An event of a watched folder itself. For folders inside, their parent reports the same change.
        if (watch.role == Role::Root && (mask & (IN_MOVE_SELF | IN_DELETE_SELF | IN_UNMOUNT)))
            rootPathChanged();
        else if (mask & IN_ATTRIB)
            addPending(watch.path, ItemInodeMetaMod | ItemIsDir);
        return;
    }
    const QString path = childPath(watch.path, name);
    const bool folder = mask & IN_ISDIR;
    const quint32 kind = folder ? ItemIsDir : ItemIsFile;
    if (mask & IN_MOVED_FROM) {
        addPending(path, ItemRenamed | kind);
        if (folder)
            forgetTree(path);
    }
    // A deleted folder was empty, and the kernel drops its own watch.
    if (mask & IN_DELETE)
        addPending(path, ItemRemoved | kind);
    if (mask & IN_CREATE) {
        addPending(path, ItemCreated | kind);
        if (folder)
            watchTree(path, true);
    }
    if (mask & IN_MOVED_TO) {
        addPending(path, ItemRenamed | kind);
        if (folder)
            watchTree(path, true);
    }
    if (mask & (IN_MODIFY | IN_CLOSE_WRITE))
        addPending(path, ItemModified | kind);
    if (mask & IN_ATTRIB)
        addPending(path, ItemInodeMetaMod | kind);
}

void FileSystemEventStream::rebuild(bool reportIdentityChange) {
    const bool wasPresent = _rootPresent;
    const dev_t oldDevice = _rootDevice;
    const ino_t oldInode = _rootInode;
    _rebuildNeeded = false;
    releaseWatches();
    _rootPresent = false;

    // Every folder above, each with the name that leads on; the walk ends where the path stops existing.
    const QStringList names = _path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString ancestor = QStringLiteral("/");
    bool reachable = true;
    for (const QString& name : names) {
        if (addWatch(ancestor, kAncestorMask, Role::Ancestor, name) < 0 && !QFileInfo(ancestor).isDir()) {
            reachable = false;
            break;
        }
        ancestor = childPath(ancestor, name);
    }

    struct stat info {};
    if (reachable && ::stat(QFile::encodeName(_path).constData(), &info) == 0 && S_ISDIR(info.st_mode)) {
        if (addWatch(_path, kRootMask, Role::Root) >= 0) {
            _rootPresent = true;
            _rootDevice = info.st_dev;
            _rootInode = info.st_ino;
            watchSubfolders(_path, false);
        }
    }
    const bool replaced = !_rootPresent || _rootDevice != oldDevice || _rootInode != oldInode;
    if (reportIdentityChange && wasPresent && replaced)
        addRootChange(); // one per delivery, however many signs of it arrived
}

void FileSystemEventStream::releaseWatches() {
    for (auto it = _watches.cbegin(); it != _watches.cend(); ++it)
        ::inotify_rm_watch(_fd, it.key());
    _watches.clear();
}

int FileSystemEventStream::addWatch(const QString& path, quint32 mask, Role role, const QString& childName) {
    const int wd = ::inotify_add_watch(_fd, QFile::encodeName(path).constData(), mask);
    if (wd < 0) {
        if (role == Role::Root)
            _rootWatchErrno = errno;
        return -1;
    }
    const auto existing = _watches.find(wd);
    if (existing == _watches.end())
        _watches.insert(wd, Watch{role, path, childName});
    else if (existing->role == Role::Inside && role == Role::Inside)
        existing->path = path; // the same folder met again under a new name
    return wd;
}

void FileSystemEventStream::watchTree(const QString& folder, bool reportEntries) {
    if (addWatch(folder, kSubfolderMask, Role::Inside) >= 0)
        watchSubfolders(folder, reportEntries);
}

void FileSystemEventStream::watchSubfolders(const QString& folder, bool reportEntries) {
    QDirIterator entries(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                         QDirIterator::Subdirectories);
    while (entries.hasNext()) {
        const QString path = entries.next();
        const QFileInfo info = entries.fileInfo();
        const bool subfolder = info.isDir() && !info.isSymLink();
        if (subfolder)
            addWatch(path, kSubfolderMask, Role::Inside);
        if (reportEntries)
            addPending(path, ItemCreated | (subfolder ? ItemIsDir : info.isSymLink() ? ItemIsSymlink : ItemIsFile));
    }
}

void FileSystemEventStream::forgetTree(const QString& folder) {
    for (auto it = _watches.begin(); it != _watches.end();) {
        if (it->role == Role::Inside && isInside(it->path, folder)) {
            ::inotify_rm_watch(_fd, it.key());
            it = _watches.erase(it);
        } else {
            ++it;
        }
    }
}

void FileSystemEventStream::addPending(const QString& path, quint32 flags) {
    if (_pendingOverflowed)
        return;
    const qsizetype index = _pendingIndex.value(path, -1);
    if (index >= 0) {
        _pending[index].flags |= flags;
        return;
    }
    if (_pendingIndex.size() >= kMaxPendingEvents) {
        // Too much at once: keep the root change and ask for a rescan instead of the single changes.
        QList<Event> kept;
        if (_rootChangeIndex >= 0)
            kept.append(_pending[_rootChangeIndex]);
        const quint32 dropped = _rescanIndex >= 0 ? _pending[_rescanIndex].flags : quint32(MustScanSubDirs);
        _pending = kept;
        _pendingIndex.clear();
        _rootChangeIndex = _pending.isEmpty() ? -1 : 0;
        _rescanIndex = _pending.size();
        _pending.append(Event{_path, dropped | UserDropped, 0});
        _pendingOverflowed = true;
        armTimer();
        return;
    }
    _pendingIndex.insert(path, _pending.size());
    _pending.append(Event{path, flags, 0});
    armTimer();
}

void FileSystemEventStream::addRootChange() {
    if (_rootChangeIndex >= 0)
        return;
    _rootChangeIndex = _pending.size();
    _pending.append(Event{_path, RootChanged, 0});
    armTimer();
}

void FileSystemEventStream::addRescan(quint32 extraFlags) {
    if (_rescanIndex >= 0) {
        _pending[_rescanIndex].flags |= extraFlags;
        return;
    }
    _rescanIndex = _pending.size();
    _pending.append(Event{_path, MustScanSubDirs | extraFlags, 0});
    armTimer();
}

void FileSystemEventStream::armTimer() {
    // The first event of a period starts the clock; later ones join it rather than push it back.
    if (!_timer.isActive())
        _timer.start();
}

void FileSystemEventStream::deliver() {
    if (_pending.isEmpty())
        return;
    QList<Event> events;
    events.swap(_pending);
    _pendingIndex.clear();
    _rootChangeIndex = -1;
    _rescanIndex = -1;
    _pendingOverflowed = false;
    // Ids are given out in delivery order, so the last event of a delivery always carries the highest id.
    for (Event& event : events)
        event.id = gLastEventId.fetch_add(1) + 1;
    emit eventsArrived(events);
}
