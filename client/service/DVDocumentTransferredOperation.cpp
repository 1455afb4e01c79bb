#include "DVDocumentTransferredOperation.h"

#include "ClientSettings.h"
#include "DVServiceProtocol.h"

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
    const QString url =
        DVServiceProtocol::documentTransferredURL(DVServiceProtocol::settingText(ClientSettings::Key::ServerURL),
                                                  DVServiceProtocol::settingText(ClientSettings::Key::Ticket));
    const QString body = DVServiceProtocol::documentRequestBody(*idText);
    sendRequest(
        URLRequest::post(url.toUtf8(), body.toUtf8()),
        [this](const std::optional<QByteArray>& reply, int, const std::optional<DVError>&) {
            checkReplyForError(DVServiceProtocol::replyText(reply));
        },
        RequestLines{url, body});
}

void DVDocumentTransferredOperation::sendCompletionMessage() {
    if (auto* receiver = delegateFor<DocumentTransferredFileCompleteDelegate>())
        receiver->documentTransferredFileComplete(self<DVDocumentTransferredOperation>());
}
