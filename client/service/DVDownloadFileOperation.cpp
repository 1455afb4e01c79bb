#include "DVDownloadFileOperation.h"

#include "ClientSettings.h"
#include "DVDocumentWriter.h"
#include "DVServiceProtocol.h"
#include "WSLogger.h"
#include "WorkerPool.h"

#include <QDir>

const QString DVDownloadFileOperation::HTTPErrorDomain = QStringLiteral("HTTP");

namespace {

bool isSuccessStatus(int status) {
    return status >= 200 && status <= 299;
}

bool holdsFailureText(const QByteArray& head) {
    const QString text = DVServiceProtocol::decodeUTF8(head);
    return !text.isNull() && text.contains(DVServiceProtocol::exceptionPrefix());
}

} // namespace

// The state of one transfer: touched on the HTTP thread while bytes arrive, then on the worker that ends it
// (the writer alone also by abort(), under its own lock).
struct DVDownloadFileOperation::Download {
    Download(const QString& fetchFolder, const QString& folderPath, const QString& fileName)
        : writer(fetchFolder, folderPath, fileName) {}

    // Called once the first 1000 bytes (or the whole, shorter body) are in: a document is written only
    // when it is neither an error page nor a failure text.
    void decide(int status) {
        decided = true;
        if (!isSuccessStatus(status) || holdsFailureText(head))
            return;
        writeError = writer.open();
        if (!writeError)
            writeError = writer.write(head);
    }

    bool receive(int status, QByteArrayView chunk) {
        if (writeError)
            return false;
        const qsizetype room = DVServiceProtocol::FailureWindow - head.size();
        const QByteArrayView first = chunk.first(std::min(room, chunk.size()));
        const QByteArrayView rest = chunk.sliced(first.size());
        head.append(first.data(), first.size());
        if (!decided && head.size() >= DVServiceProtocol::FailureWindow)
            decide(status);
        if (!writeError && writer.isOpen() && !rest.isEmpty())
            writeError = writer.write(rest);
        return !writeError;
    }

    QByteArray head;
    bool decided = false;
    std::optional<DVError> writeError;
    DVDocumentWriter writer;
    // The end of the transfer.
    int endStatus = 0;
    std::optional<DVError> transportError;
};

DVDownloadFileOperation::DVDownloadFileOperation(OperationsDelegate* delegate)
    : DVConcurrentOperation(delegate) {}

QVariantMap DVDownloadFileOperation::fileInfo() const {
    std::lock_guard lock(_mutex);
    return _fileInfo;
}

void DVDownloadFileOperation::setFileInfo(const QVariantMap& fileInfo) {
    std::lock_guard lock(_mutex);
    _fileInfo = fileInfo;
}

QString DVDownloadFileOperation::savedFilePath() const {
    std::lock_guard lock(_mutex);
    return _savedFilePath;
}

void DVDownloadFileOperation::fail(const DVError& error) {
    setError(error);
    WSLogger::sharedInstance().logError(
        this, "start",
        {QStringLiteral("Download Error: Code=%1 Description=%2")
             .arg(QString::number(error.code()), error.description().value_or(DVServiceProtocol::nullText()))});
}

void DVDownloadFileOperation::startRequest() {
    const QVariantMap record = fileInfo();
    const std::optional<QString> idText = DVServiceProtocol::documentIdText(record.value(QStringLiteral("id")));
    const QVariant path = record.value(QStringLiteral("path"));
    const QVariant fileName = record.value(QStringLiteral("filename"));
    const QString fetchFolder = ClientSettings::shared().fetchFolderPath();
    QString problem;
    if (!idText)
        problem = QStringLiteral("The document record has no numeric \"id\".");
    else if (path.typeId() != QMetaType::QString || fileName.typeId() != QMetaType::QString)
        problem = QStringLiteral("The document record has no \"path\" and \"filename\" texts.");
    else if (!DVServiceProtocol::isSafeDocumentPath(path.toString()) ||
             !DVServiceProtocol::isSafeDocumentFileName(fileName.toString()))
        problem = QStringLiteral("The document's place lies outside the fetch folder.");
    else if (!QDir::isAbsolutePath(fetchFolder)) // never a place relative to wherever the client runs
        problem = QStringLiteral("No fetch folder is set.");
    if (!problem.isEmpty()) {
        fail(DVError(ErrorDomain, ErrorCode, std::nullopt, problem));
        finish();
        return;
    }

    const QString url = DVServiceProtocol::downloadURL(DVServiceProtocol::settingText(ClientSettings::Key::ServerURL),
                                                       DVServiceProtocol::settingText(ClientSettings::Key::Ticket));
    const QString body = DVServiceProtocol::documentRequestBody(*idText);

    // The transfer's state is let go before the operation finishes, so that nothing of it outlives the
    // operation's end.
    auto download = std::make_shared<std::unique_ptr<Download>>(
        std::make_unique<Download>(fetchFolder, path.toString(), fileName.toString()));
    std::shared_ptr<DVDownloadFileOperation> keep = self<DVDownloadFileOperation>();
    const std::shared_ptr<URLSessionTask> task = URLSession::shared().streamTask(
        URLRequest::post(url.toUtf8(), body.toUtf8()),
        [download](int status, QByteArrayView chunk) { return *download && (*download)->receive(status, chunk); },
        [keep, download](int status, const std::optional<DVError>& error) {
            (*download)->endStatus = status;
            (*download)->transportError = error;
            // The HTTP thread only moves bytes: the commit's flush and the completion message wait on a
            // worker, where several documents' flushes overlap.
            WorkerPool::post([keep, download] { keep->complete(download); });
        });
    {
        std::lock_guard lock(_mutex);
        if (_abandoned)
            (*download)->writer.abandon();
        _writer = &(*download)->writer;
    }
    launch(task, RequestLines{url, body});
}

void DVDownloadFileOperation::complete(const std::shared_ptr<std::unique_ptr<Download>>& download) {
    guardReply(
        "start", [&] { handleEnd(**download); }, "Backtrace:");
    {
        // Under the lock: an abort() meanwhile either abandons the writer or finds its file already gone.
        std::lock_guard lock(_mutex);
        _writer = nullptr;
        download->reset(); // removes whatever is left of an unfinished file
    }
    finish();
}

void DVDownloadFileOperation::abort() {
    {
        std::lock_guard lock(_mutex);
        _abandoned = true;
        if (_writer)
            _writer->abandon();
    }
    DVConcurrentOperation::abort();
}

void DVDownloadFileOperation::handleEnd(Download& download) {
    const std::optional<DVError>& transportError = download.transportError;
    const int httpStatus = download.endStatus;
    // A reply that arrived whole is first examined for the service's failure text, as every reply is.
    if (!transportError) {
        const QString headText = DVServiceProtocol::decodeUTF8(download.head);
        if (!headText.isNull())
            checkReplyForError(headText);
        if (error())
            return;
    }
    if (download.writeError) {
        fail(*download.writeError);
        return;
    }
    if (transportError) {
        fail(*transportError);
        return;
    }
    if (!isSuccessStatus(httpStatus)) {
        fail(DVError(HTTPErrorDomain, httpStatus, std::nullopt,
                     QStringLiteral("The server answered with HTTP status %1.").arg(httpStatus)));
        return;
    }
    if (!download.decided)
        download.decide(httpStatus);
    if (download.writeError) {
        fail(*download.writeError);
        return;
    }
    if (const std::optional<DVError> commitError = download.writer.commit()) {
        fail(*commitError);
        return;
    }
    std::lock_guard lock(_mutex);
    _savedFilePath = download.writer.finalPath();
}

void DVDownloadFileOperation::sendCompletionMessage() {
    if (auto* receiver = delegateFor<DownloadFileCompleteDelegate>())
        receiver->downloadFileComplete(self<DVDownloadFileOperation>());
}
