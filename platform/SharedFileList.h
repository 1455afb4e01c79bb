#pragma once

#include <QList>
#include <QString>
#include <QUrl>

// One store behind a shared file list (an autostart folder, a bookmarks file), read afresh for every
// operation. Its entries come in the list's order, each resolved to the file URL of what it names when
// that exists. Changes are written at once; a store that exists but cannot be read is never written, so
// that a file we do not understand is never replaced by our idea of it.
class SharedFileList {
public:
    struct Entry {
        // Empty when the entry does not resolve (its target is missing, remote or not a file).
        QUrl resolvedURL;
        // The local path the entry names as written, resolved or not; empty when it names no local file.
        QString writtenPath;
    };

    virtual ~SharedFileList() = default;

    // False when the store exists but cannot be read; it then has no entries and is left alone.
    virtual bool load() = 0;
    const QList<Entry>& entries() const { return _entries; }

    // Puts an entry for a local file or folder first. Nothing happens when the target does not exist:
    // such an entry would never resolve, so adding it again would only pile up copies.
    virtual void insertAtFront(const QUrl& url) = 0;
    virtual void removeEntryAt(qsizetype index) = 0;

    // The URL an existing file or folder resolves to: folders end in a slash, as the file manager's do.
    static QUrl fileURLWithPath(const QString& path);
    // The resolved URL of a local path, or an empty URL when nothing exists there.
    static QUrl resolve(const QString& path);
    // The "file:" URI a bookmark is written with: the path's bytes percent-encoded except for the characters
    // GLib leaves as they are (letters, digits, "-._~!$&'()*+,;=:@/"), so GTK and KDE read it alike.
    static QByteArray uriForPath(const QString& path);
    // The local path of a "file:" URL (with an empty or "localhost" host); empty for anything else.
    static QString localPath(const QUrl& url);

protected:
    QList<Entry> _entries;
};
