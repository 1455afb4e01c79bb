#include "DVDocumentsToTransferOperation.h"

#include "ClientSettings.h"
#include "DVServiceProtocol.h"
#include "WSLogger.h"

#include <QJsonDocument>
#include <QJsonObject>

DVDocumentsToTransferOperation::DVDocumentsToTransferOperation(OperationsDelegate* delegate)
    : DVConcurrentOperation(delegate) {}

std::optional<QVariantMap> DVDocumentsToTransferOperation::fileList() const {
    std::lock_guard lock(_mutex);
    return _fileList;
}

void DVDocumentsToTransferOperation::setFileList(const QVariantMap& fileList) {
    std::lock_guard lock(_mutex);
    _fileList = fileList;
}

void DVDocumentsToTransferOperation::startRequest() {
    const QString ticket = DVServiceProtocol::settingText(ClientSettings::Key::Ticket);
    const QString url = DVServiceProtocol::documentsToTransferURL(
        DVServiceProtocol::settingText(ClientSettings::Key::ServerURL), ticket);
    WSLogger::sharedInstance().logInfo(this, "start", {QStringLiteral("Request:  "), url});
    URLRequest request = URLRequest::get(url.toUtf8());
    request.maxBodySize = DVServiceProtocol::MaxDocumentListSize;
    sendRequest(request, [this](const std::optional<QByteArray>& body, int status,
                                const std::optional<DVError>& error) { handleReply(body, status, error); });
}

void DVDocumentsToTransferOperation::handleReply(const std::optional<QByteArray>& body, int httpStatus,
                                                 const std::optional<DVError>& transportError) {
    const QString text = DVServiceProtocol::replyText(body);
    WSLogger::sharedInstance().logInfo(this, "start", {QStringLiteral("Reply:  "), text});
    checkReplyForError(text);
    if (error())
        return;
    if (!body) {
        // A lost reply is a failure, not an empty list.
        if (transportError)
            setError(*transportError);
        return;
    }
    if (!DVServiceProtocol::isSuccessStatus(httpStatus)) {
        setError(DVError(ErrorDomain, ErrorCode, std::nullopt,
                         QStringLiteral("The service answered with HTTP status %1").arg(httpStatus)));
        return;
    }
    const QJsonDocument json = QJsonDocument::fromJson(*body);
    // Anything but a list under "documents" would read as no documents, or as records made of
    // whatever stood there.
    if (!json.isObject() || !json.object().value(QStringLiteral("documents")).isArray()) {
        setError(DVError(ErrorDomain, ErrorCode, std::nullopt,
                         QStringLiteral("The service's answer holds no document list")));
        return;
    }
    setFileList(json.object().toVariantMap());
}

void DVDocumentsToTransferOperation::sendCompletionMessage() {
    if (auto* receiver = delegateFor<DocumentsToTransferCompleteDelegate>())
        receiver->documentsToTransferComplete(self<DVDocumentsToTransferOperation>());
}
