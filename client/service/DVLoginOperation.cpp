#include "DVLoginOperation.h"

#include "DVServiceProtocol.h"
#include "DVSettingsKeys.h"
#include "UserDefaults.h"
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
    UserDefaults& defaults = UserDefaults::standardUserDefaults();
    defaults.removeObjectForKey(DVKey(DVSettings::Ticket));
    const QString base = DVServiceProtocol::settingText(DVSettings::ServerURL);
    const QString url = DVServiceProtocol::loginURL(base, DVServiceProtocol::authValue(user(), password()));
    // The auth value is the password, merely Base64-encoded: the log shows a mask in its place.
    WSLogger::sharedInstance().logInfo(
        this, "start", {QStringLiteral("Request:  "), DVServiceProtocol::loginURL(base, QStringLiteral("********"))});
    sendRequest(URLRequest::get(url.toUtf8()),
                [this](const std::optional<QByteArray>& body, int, const std::optional<DVError>& error) {
                    handleReply(body, error);
                });
}

void DVLoginOperation::handleReply(const std::optional<QByteArray>& body,
                                   const std::optional<DVError>& transportError) {
    UserDefaults& defaults = UserDefaults::standardUserDefaults();
    const QString ticketKey = DVKey(DVSettings::Ticket);
    const QString text = DVServiceProtocol::replyText(body);
    WSLogger::sharedInstance().logInfo(this, "start", {QStringLiteral("Reply:  "), text});
    checkReplyForError(text);
    if (error()) {
        defaults.removeObjectForKey(ticketKey);
        return;
    }
    if (!body || body->size() < 3) {
        // Nothing to take a ticket from: the login failed, whether the reply was lost or cut short.
        defaults.removeObjectForKey(ticketKey);
        setError(transportError ? *transportError
                                : DVError(ErrorDomain, ErrorCode, std::nullopt,
                                          QStringLiteral("The login reply holds no ticket.")));
        return;
    }
    const std::optional<QString> ticket = DVServiceProtocol::ticketFromLoginReply(*body);
    if (ticket)
        defaults.setValue(*ticket, ticketKey);
    else
        defaults.removeObjectForKey(ticketKey);
}

void DVLoginOperation::sendCompletionMessage() {
    if (auto* receiver = delegateFor<LoginCompleteDelegate>())
        receiver->loginComplete(self<DVLoginOperation>());
}
