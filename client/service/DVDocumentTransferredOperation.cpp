#include "DVDocumentTransferredOperation.h"

#include "DVServiceProtocol.h"
#include "DVSettingsKeys.h"
#include "WSLogger.h"

DVDocumentTransferredOperation::DVDocumentTransferredOperation(OperationsDelegate* delegate)
    : DVConcurrentOperation(delegate) {}

QVariantMap DVDocumentTransferredOperation::fileInfo() const {
    std::lock_guard lock(_mutex);
    return _fileInfo;
}

void DVDocumentTransferredOperation::setFileInfo(const QVariantMap& fileInfo) {
    std::lock_guard lock(_mutex);
    _fileInfo = fileInfo;
}

void DVDocumentTransferredOperation::startRequest() {
    const std::optional<QString> idText = DVServiceProtocol::documentIdText(fileInfo().value(QStringLiteral("id")));
    if (!idText) {
        // Without its number the service cannot tell which document arrived.
        recordLocalError(QStringLiteral("The document record has no numeric \"id\"."));
        finish();
        return;
    }
    WSLogger& logger = WSLogger::sharedInstance();
    const QString url = DVServiceProtocol::documentTransferredURL(DVServiceProtocol::settingText(DVSettings::ServerURL),
                                                                  DVServiceProtocol::settingText(DVSettings::Ticket));
    const QString body = DVServiceProtocol::documentRequestBody(*idText);
    // The two lines in one flush: the main thread waits for each flush, once per document step.
    logger.logInfoLines(this, "start",
                        {{QStringLiteral("Request:  "), url}, {QStringLiteral("Request Data:  "), body}});
    sendRequest(URLRequest::post(url.toUtf8(), body.toUtf8()),
                [this](const std::optional<QByteArray>& reply, int, const std::optional<DVError>&) {
                    checkReplyForError(DVServiceProtocol::replyText(reply));
                });
}

void DVDocumentTransferredOperation::sendCompletionMessage() {
    if (auto* receiver = delegateFor<DocumentTransferredFileCompleteDelegate>())
        receiver->documentTransferredFileComplete(self<DVDocumentTransferredOperation>());
}
