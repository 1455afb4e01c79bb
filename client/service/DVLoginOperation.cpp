#include "DVLoginOperation.h"

#include "ClientSettings.h"
#include "DVServiceProtocol.h"
#include "WSLogger.h"

DVLoginOperation::DVLoginOperation(OperationsDelegate* delegate)
    : DVConcurrentOperation(delegate) {}

QString DVLoginOperation::user() const {
    std::lock_guard lock(_mutex);
    return _user;
}

void DVLoginOperation::setUser(const QString& user) {
    std::lock_guard lock(_mutex);
    _user = user;
}

QString DVLoginOperation::password() const {
    std::lock_guard lock(_mutex);
    return _password;
}

void DVLoginOperation::setPassword(const QString& password) {
    std::lock_guard lock(_mutex);
    _password = password;
}

void DVLoginOperation::startRequest() {
    ClientSettings::shared().removeTicket();
    const QString base = DVServiceProtocol::settingText(ClientSettings::Key::ServerURL);
    const QString url = DVServiceProtocol::loginURL(base, DVServiceProtocol::authValue(user(), password()));
    // The auth value is the password, merely Base64-encoded: the log shows a mask in its place.
    WSLogger::sharedInstance().logInfo(
        this, "start", {QStringLiteral("Request:  "), DVServiceProtocol::loginURL(base, QStringLiteral("********"))});
    URLRequest request = URLRequest::get(url.toUtf8());
    request.maxBodySize = DVServiceProtocol::MaxLoginReplySize;
    sendRequest(request, [this](const std::optional<QByteArray>& body, int status,
                                const std::optional<DVError>& error) { handleReply(body, status, error); });
}

void DVLoginOperation::handleReply(const std::optional<QByteArray>& body, int httpStatus,
                                   const std::optional<DVError>& transportError) {
    ClientSettings& settings = ClientSettings::shared();
    const QString text = DVServiceProtocol::replyText(body);
    WSLogger::sharedInstance().logInfo(this, "start", {QStringLiteral("Reply:  "), text});
    checkReplyForError(text);
    if (error()) {
        settings.removeTicket();
        return;
    }
    // Only a short, plain token from a successful answer is a ticket: an error page, a proxy's notice or
    // a reply cut short would otherwise be stored and sent with every request.
    std::optional<QString> ticket;
    if (!body) {
        setError(transportError ? *transportError
                                : DVError(ErrorDomain, ErrorCode, std::nullopt,
                                          QStringLiteral("The login reply holds no ticket.")));
    } else if (!DVServiceProtocol::isSuccessStatus(httpStatus)) {
        setError(DVError(ErrorDomain, ErrorCode, std::nullopt,
                         QStringLiteral("The service answered with HTTP status %1").arg(httpStatus)));
    } else if (!(ticket = DVServiceProtocol::ticketFromLoginReply(*body))) {
        setError(DVError(ErrorDomain, ErrorCode, std::nullopt,
                         QStringLiteral("The service's answer is not a session ticket")));
    }
    if (ticket)
        settings.setTicket(*ticket);
    else
        settings.removeTicket();
}

void DVLoginOperation::sendCompletionMessage() {
    if (auto* receiver = delegateFor<LoginCompleteDelegate>())
        receiver->loginComplete(self<DVLoginOperation>());
}
