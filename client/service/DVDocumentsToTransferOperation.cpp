#include "DVDocumentsToTransferOperation.h"

#include "DVServiceProtocol.h"
#include "DVSettingsKeys.h"
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
    const QString ticket = DVServiceProtocol::settingText(DVSettings::Ticket);
    const QString url =
        DVServiceProtocol::documentsToTransferURL(DVServiceProtocol::settingText(DVSettings::ServerURL), ticket);
    WSLogger::sharedInstance().logInfo(this, "start", {QStringLiteral("Request:  "), url});
    sendRequest(URLRequest::get(url.toUtf8()),
                [this](const std::optional<QByteArray>& body, int, const std::optional<DVError>& error) {
                    handleReply(body, error);
                });
}

void DVDocumentsToTransferOperation::handleReply(const std::optional<QByteArray>& body,
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
    const QJsonDocument json = QJsonDocument::fromJson(*body);
    if (json.isObject())
        setFileList(json.object().toVariantMap());
}

void DVDocumentsToTransferOperation::sendCompletionMessage() {
    if (auto* receiver = delegateFor<DocumentsToTransferCompleteDelegate>())
        receiver->documentsToTransferComplete(self<DVDocumentsToTransferOperation>());
}
