#pragma once

#include <QHash>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <mutex>
#include <optional>

struct DevDocument {
    qint64 id = 0;
    QString file;     // relative to the documents folder, "/"-separated
    QString path;     // the folder the client files it under
    QString filename; // the file's name
    bool transferred = false;
};

// The documents of the one account: every file under the documents folder. Ids are handed out in path
// order as files are first seen and never reused; with a state file, ids and transferred marks are kept
// there, written atomically on every change, so that a restart finds them again. The documents folder
// itself is never changed.
class DevDocumentStore {
public:
    // Files directly in the documents folder are filed under this folder name.
    static const QString& topLevelFolderName();

    // excludedFiles: files that never count as documents (the state file, the request log), by path.
    DevDocumentStore(QString documentsFolder, QString statePath, QStringList excludedFiles = {});

    // Reads the state file when there is one and scans the folder. False, with the reason, when the state
    // file cannot be read or written; it is then left as it is.
    bool load(QString* problem);

    // Rescans the folder and returns its documents by id: the waiting ones, or all. False when an id given
    // to a new file could not be recorded in the state file.
    bool scan(QList<DevDocument>* waiting, QList<DevDocument>* all, QString* problem);

    // A known document whose file is still there.
    std::optional<DevDocument> document(qint64 id) const;
    QString absoluteFilePath(const DevDocument& document) const;

    // Marks all of the ids transferred, or none: an id that is not known is returned in unknownId and a
    // failure to record the marks in the state file in problem (the marks are then taken back).
    bool markTransferred(const QList<qint64>& ids, qint64* unknownId, QString* problem);

private:
    struct Record {
        qint64 id = 0;
        bool transferred = false;
    };

    QStringList filesOnDisk() const;
    bool readState(QString* problem);
    bool writeState(QString* problem) const;
    DevDocument documentFor(const QString& file, const Record& record) const;

    const QString _folder;
    const QString _statePath;
    QStringList _excluded;
    mutable std::mutex _mutex;
    QMap<QString, Record> _records; // by relative file
    QHash<qint64, QString> _files;  // relative file by id
    qint64 _nextId = 1;
};
