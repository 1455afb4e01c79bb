#include "DVFolderWatcher.h"

#include "ClientSettings.h"
#include "DVExceptionGuard.h"

#include <QFileInfo>
#include <QMutexLocker>

#include <memory>
#include <utility>

DVFolderWatcher::DVFolderWatcher(QObject* delegate, QObject* parent)
    : QObject(parent)
    , _delegate(delegate) {}

DVFolderWatcher::~DVFolderWatcher() {
    stop();
}

QString DVFolderWatcher::dropboxFolder() const {
    QMutexLocker lock(&_mutex);
    return _dropboxFolder;
}

void DVFolderWatcher::setDropboxFolder(const QString& path) {
    QMutexLocker lock(&_mutex);
    _dropboxFolder = path;
}

void DVFolderWatcher::start(const QString& path) {
    dvGuard(this, "start", [&] {
        if (_stream)
            return;
        setDropboxFolder(path);
        if (path.isEmpty() || !QFileInfo(path).isDir())
            return;
        // The kernel's notifications carry no lasting ids, so the stream continues from the last one stored.
        const qint64 lastEventId = ClientSettings::shared().lastEventId();
        auto stream = std::make_unique<FileSystemEventStream>(path, latency(), lastEventId > 0 ? lastEventId : 0);
        // Direct: the events are handled on the thread that started the stream, where the stream delivers.
        connect(stream.get(), &FileSystemEventStream::eventsArrived, this, &DVFolderWatcher::eventsArrived,
                Qt::DirectConnection);
        if (!stream->start()) {
            throw DVException(QStringLiteral("NSInternalInconsistencyException"),
                              QStringLiteral("Cannot watch the folder %1: %2").arg(path, stream->errorString()));
        }
        _stream = stream.release();
    });
}

void DVFolderWatcher::stop() {
    dvGuard(this, "stop", [&] {
        if (!_stream)
            return;
        FileSystemEventStream* stream = std::exchange(_stream, nullptr);
        stream->disconnect(this);
        stream->stop();
        stream->invalidate();
        // A delegate may stop the watcher from inside a delivery; the stream is still on the stack then.
        if (_delivering)
            stream->deleteLater();
        else
            delete stream;
    });
}

void DVFolderWatcher::restart() {
    stop();
    start(dropboxFolder());
}

void DVFolderWatcher::restartWithPath(const QString& path) {
    stop();
    start(path);
}

void DVFolderWatcher::followState(ClientState state) {
    if (state == ClientState::Enabled) {
        QString path;
        dvGuard(this, "observeValueForKeyPath", [&] { path = ClientSettings::shared().fetchFolderPath(); });
        start(path);
    } else {
        stop();
    }
}

void DVFolderWatcher::eventsArrived(const QList<FileSystemEventStream::Event>& events) {
    const bool outer = !std::exchange(_delivering, true);
    for (const FileSystemEventStream::Event& event : events) {
        // Only a change of the folder itself, reported on its own, means the folder is gone from its place.
        if (event.flags == FileSystemEventStream::RootChanged)
            reportMissingDropboxFolder();
    }
    // Each id would replace the one before, so only the last of a delivery is stored: a settings write per
    // event would hold up the main thread for every file a download brings.
    if (!events.isEmpty())
        updateLastEventId(events.last().id);
    if (outer)
        _delivering = false;
}

void DVFolderWatcher::reportMissingDropboxFolder() {
    dvGuard(this, "reportMissingDropboxFolder", [&] {
        if (auto* listener = dynamic_cast<DVFolderWatcherDelegate*>(delegate()))
            listener->dropboxFolderMissing(this);
    });
}

void DVFolderWatcher::updateLastEventId(quint64 eventId) {
    dvGuard(this, "updateLastEventId", [&] { ClientSettings::shared().setLastEventId(static_cast<qint64>(eventId)); });
}
