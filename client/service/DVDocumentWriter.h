#pragma once

#include "DVError.h"

#include <QByteArrayView>
#include <QString>

#include <optional>

// Writes one downloaded document into its folder so that no partial file ever carries a document's
// name and memory stays flat for any size: the body goes into a hidden temporary file in the target
// folder as it arrives, and the complete file is moved to its name without replacing anything.
//
// When a file of that name exists already, a file with the same content means the document is there
// (nothing is written); a different file keeps its name and the document is placed beside it as
// "name (2).ext", the next free number. Every failure, and destruction before commit(), removes the
// temporary file. Used from one thread at a time.
class DVDocumentWriter {
public:
    DVDocumentWriter(QString folderPath, QString fileName);
    ~DVDocumentWriter();
    DVDocumentWriter(const DVDocumentWriter&) = delete;
    DVDocumentWriter& operator=(const DVDocumentWriter&) = delete;

    // Makes the folder (with missing parents; a failure shows at the temporary file) and the temporary
    // file in it.
    std::optional<DVError> open();
    bool isOpen() const { return _fd >= 0; }
    std::optional<DVError> write(QByteArrayView bytes);
    // Flushes the data to disk and moves the file to its name.
    std::optional<DVError> commit();
    // Removes the temporary file; safe to call at any time.
    void discard();

    // After a successful commit: the document's file, and whether this writer made it (false when an
    // identical file was there already).
    QString finalPath() const { return _finalPath; }
    bool wroteNewFile() const { return _wroteNewFile; }
    // The temporary file while one exists.
    QString temporaryPath() const { return _temporaryPath; }

    // "name (n).ext": the number goes before the last extension; a leading dot starts no extension.
    static QString numberedName(const QString& fileName, int number);

private:
    std::optional<DVError> place();

    QString _folderPath;
    QString _fileName;
    QString _temporaryPath;
    QString _finalPath;
    int _fd = -1;
    bool _wroteNewFile = false;
};
