#pragma once

#include "DVConcurrentOperation.h"

#include <QVariantMap>

// Fetches one document ("op=download", form body with the document's id) into the fetch folder, under
// the record's "path" and "filename". The completion message is downloadFileComplete; the coordinator
// cancels the document's transferred report when error() is set.
//
// A download fails (error set, nothing written) when:
//  - the record lacks a numeric "id", or a "path" and "filename" that stay inside the fetch folder, or
//    the fetch folder is not set: then nothing is sent either;
//  - the first 1000 bytes of the reply are UTF-8 text holding the service's failure prefix (domain
//    "DocuvaneFetch", as for every service failure);
//  - the reply's HTTP status is outside 200-299 (domain "HTTP", code = the status);
//  - the transfer or the file system fails (their own records).
// The body is streamed to disk (see DVDocumentWriter); a file of the same name and content already
// there counts as the document, a different one is kept and the document is written as "name (2).ext".
class DVDownloadFileOperation : public DVConcurrentOperation {
    Q_OBJECT

public:
    static const QString HTTPErrorDomain; // "HTTP"

    explicit DVDownloadFileOperation(OperationsDelegate* delegate);

    // The document record from the documents-to-transfer reply.
    QVariantMap fileInfo() const;
    void setFileInfo(const QVariantMap& fileInfo);

    // Where the document is after a successful download (a new file, or the identical one found there).
    QString savedFilePath() const;

protected:
    void startRequest() override;
    void sendCompletionMessage() override;

private:
    struct Download;

    void handleEnd(Download& download, int httpStatus, const std::optional<DVError>& transportError);
    void fail(const DVError& error);

    mutable std::mutex _mutex;
    QVariantMap _fileInfo;
    QString _savedFilePath;
};
