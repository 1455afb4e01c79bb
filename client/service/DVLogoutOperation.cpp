#include "DVLogoutOperation.h"

#include "ClientSettings.h"
#include "DVServiceProtocol.h"
#include "WSLogger.h"

DVLogoutOperation::DVLogoutOperation(OperationsDelegate* delegate)
    : DVConcurrentOperation(delegate) {}

void DVLogoutOperation::startRequest() {
    const QString url = DVServiceProtocol::logoutURL(DVServiceProtocol::settingText(ClientSettings::Key::ServerURL),
                                                     DVServiceProtocol::settingText(ClientSettings::Key::Ticket));
    WSLogger::sharedInstance().logInfo(this, "start", {QStringLiteral("Request:  "), url});
    const QByteArray bytes = url.toUtf8();
    if (!URLSession::isValidURL(bytes)) {
        // Nothing can be sent; the session ends here all the same.
        ClientSettings::shared().removeTicket();
        setError(DVError(DVError::URLDomain, DVError::URLErrorBadURL, std::nullopt, QStringLiteral("bad URL")));
        finish();
        return;
    }
    sendRequest(URLRequest::get(bytes),
                [this](const std::optional<QByteArray>& body, int, const std::optional<DVError>&) {
                    const QString text = DVServiceProtocol::replyText(body);
                    WSLogger::sharedInstance().logInfo(this, "start", {QStringLiteral("Reply:  "), text});
                    checkReplyForError(text);
                    ClientSettings::shared().removeTicket();
                });
}

void DVLogoutOperation::sendCompletionMessage() {
    if (auto* receiver = delegateFor<LogoutCompleteDelegate>())
        receiver->logoutComplete(self<DVLogoutOperation>());
}
