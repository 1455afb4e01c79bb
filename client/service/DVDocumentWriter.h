#pragma once

#include "DVError.h"
#include "FileDescriptor.h"

#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <chrono>
#include <mutex>
#include <optional>
#include <vector>

// Writes one downloaded document into the fetch folder so that no partial file ever carries a
// document's name and memory stays flat for any size: the body goes into a hidden temporary file
// (".docuvane-<random>.part") in the target folder as it arrives, and the complete file is flushed to
// disk and moved to its name without replacing anything. The writer holds a lock on its temporary file for
// as long as the file exists, so that a file whose writer is gone (killed, or the machine lost power) can be
// told from one being written by another process.
//
// The fetch folder is the only place a document goes: every folder on the document's path is entered
// from the fetch folder's own descriptor without following a link, so a link on the way or at the
// document's name fails the document (never counted as delivered). Missing folders are made, and made
// ones are removed again when the document fails and they are left empty.
//
// At the name: a regular file with the same content means the document is there (nothing is written);
// anything else (another file, a folder, a FIFO, a socket, a device) is left alone, unopened unless it
// is a regular file, and the document goes to "name (2).ext", the next free number.
//
// open() and write() run on one thread, then commit() on one thread (possibly another, never at the
// same time). abandon() may be called from any thread at any time.
class DVDocumentWriter {
public:
    // fetchFolder: the full path of the fetch folder; folderPath: the document's folder inside it
    // ("" for the fetch folder itself).
    DVDocumentWriter(QString fetchFolder, QString folderPath, QString fileName);
    ~DVDocumentWriter();
    DVDocumentWriter(const DVDocumentWriter&) = delete;
    DVDocumentWriter& operator=(const DVDocumentWriter&) = delete;

    // Enters (making what is missing) the document's folder and creates the temporary file there.
    std::optional<DVError> open();
    bool isOpen() const;
    std::optional<DVError> write(QByteArrayView bytes);
    // Flushes the data to disk and moves the file to its name.
    std::optional<DVError> commit();
    // Removes the temporary file and the folders made for it that are empty; safe to call at any time.
    void discard();
    // From any thread: removes the temporary file and the empty folders made for it now; everything the
    // writer is asked afterwards fails as cancelled.
    void abandon();
    // abandon() for every writer of the process, for a process asked to quit.
    static void abandonAll();

    // After a successful commit: the document's file, and whether this writer made it (false when an
    // identical file was there already).
    QString finalPath() const;
    bool wroteNewFile() const;
    // The temporary file while one exists.
    QString temporaryPath() const;

    // "name (n).ext": the number goes before the last extension; a leading dot starts no extension.
    static QString numberedName(const QString& fileName, int number);
    // Whether a name has the form of a temporary file of this writer.
    static bool isTemporaryFileName(const QString& name);
    // Removes the temporary files under the fetch folder that no writer holds (left by a process that was
    // killed), whatever their age; on a file system that keeps no locks, only those last changed longer
    // ago than maxAge. Returns how many. Links are never followed; nothing but a regular file is opened.
    static int removeStaleTemporaryFiles(const QString& fetchFolder,
                                         std::chrono::seconds maxAge = std::chrono::hours(24));
    // The same on a worker thread, once per launch: the call returns at once.
    static void removeStaleTemporaryFilesInBackground(const QString& fetchFolder);

private:
    std::optional<DVError> enterFolder();
    std::optional<DVError> place();
    bool holdAsOwn(int fd, const QString& name) const;
    void discardLocked();
    void removeMadeFolders();
    DVError linkError(const QString& place) const;
    int folder() const { return _folders.back().get(); }

    const QString _fetchFolder;
    const QStringList _components;
    const QString _fileName;
    mutable std::mutex _mutex;
    // The fetch folder and each folder of the document's path, in order; those from _firstMade on were
    // made by this writer.
    std::vector<FileDescriptor> _folders;
    qsizetype _firstMade = -1;
    FileDescriptor _file;
    QString _temporaryName;
    QString _finalPath;
    bool _wroteNewFile = false;
    bool _committed = false;
    bool _abandoned = false;
};
