#pragma once

#include "DVConcurrentOperation.h"

#include <QVariantMap>

#include <memory>

class DVDocumentWriter;

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
// The body is streamed to disk on the HTTP thread (see DVDocumentWriter); the document's commit (flush,
// comparison, move to its name) and the completion message follow on a worker thread, so that one
// document's flush never holds up the other transfers. A file of the same name and content already
// there counts as the document, anything else at the name is kept and the document is written as
// "name (2).ext"; a symbolic link on the document's way fails it.
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

    // Also removes the document's temporary file (and the empty folders made for it) before returning,
    // from any thread: nothing of an aborted download is placed.
    void abort() override;

protected:
    void startRequest() override;
    void sendCompletionMessage() override;

private:
    struct Download;

    void handleEnd(Download& download);
    void complete(const std::shared_ptr<std::unique_ptr<Download>>& download);
    void fail(const DVError& error);

    mutable std::mutex _mutex;
    QVariantMap _fileInfo;
    QString _savedFilePath;
    // While the transfer runs: what abort() reaches. The transfer's state is let go only under the lock.
    DVDocumentWriter* _writer = nullptr;
    bool _abandoned = false;
};
