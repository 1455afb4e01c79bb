#include "DVAccountInfoOperation.h"

#include "ClientSettings.h"
#include "DVServiceProtocol.h"
#include "WSLogger.h"

#include <QJsonDocument>
#include <QJsonObject>

DVAccountInfoOperation::DVAccountInfoOperation(OperationsDelegate* delegate)
    : DVConcurrentOperation(delegate) {}

std::optional<QVariantMap> DVAccountInfoOperation::accountInfo() const {
    std::lock_guard lock(_mutex);
    return _accountInfo;
}

void DVAccountInfoOperation::setAccountInfo(const QVariantMap& accountInfo) {
    std::lock_guard lock(_mutex);
    _accountInfo = accountInfo;
}

void DVAccountInfoOperation::startRequest() {
    WSLogger& logger = WSLogger::sharedInstance();
    logger.logInfo(this, "start", {QStringLiteral("Account Info: Starting.")});
    const QString url =
        DVServiceProtocol::accountInfoURL(DVServiceProtocol::settingText(ClientSettings::Key::ServerURL),
                                          DVServiceProtocol::settingText(ClientSettings::Key::Ticket));
    logger.logInfo(this, "start", {QStringLiteral("Account Info Url = "), url});
    URLRequest request = URLRequest::get(url.toUtf8());
    request.maxBodySize = DVServiceProtocol::MaxAccountReplySize;
    sendRequest(request, [this](const std::optional<QByteArray>& body, int status,
                                const std::optional<DVError>& error) { handleReply(body, status, error); });
}

void DVAccountInfoOperation::handleReply(const std::optional<QByteArray>& body, int httpStatus,
                                         const std::optional<DVError>& transportError) {
    WSLogger& logger = WSLogger::sharedInstance();
    logger.logInfo(this, "start", {QStringLiteral("Account Info: Ended.")});
    if (!body) {
        // No reply at all is a failure of its own, not an account without a destination.
        logger.logInfo(this, "start", {QStringLiteral("Reply:  "), QStringLiteral("")});
        if (transportError)
            setError(*transportError);
        return;
    }
    QJsonParseError parseError{};
    const QJsonDocument json = QJsonDocument::fromJson(*body, &parseError);
    const bool parsed = parseError.error == QJsonParseError::NoError;
    const QString text = DVServiceProtocol::replyText(body);
    logger.logInfo(this, "start", {QStringLiteral("Reply:  "), text});
    checkReplyForError(text);
    if (error())
        return;
    if (!parsed) {
        setError(DVError(ErrorDomain, ErrorCode, text, text));
        return;
    }
    const QJsonValue account = json.object().value(QStringLiteral("account"));
    if (!DVServiceProtocol::isSuccessStatus(httpStatus)) {
        setError(DVError(ErrorDomain, ErrorCode, std::nullopt,
                         QStringLiteral("The service answered with HTTP status %1").arg(httpStatus)));
    } else if (!json.isObject() || !account.isObject()) {
        // Read as an account, anything else would look like one without a destination.
        setError(DVError(ErrorDomain, ErrorCode, std::nullopt,
                         QStringLiteral("The service's answer holds no account information")));
    } else {
        setAccountInfo(account.toObject().toVariantMap());
    }
}

void DVAccountInfoOperation::sendCompletionMessage() {
    if (auto* receiver = delegateFor<AccountInfoCompleteDelegate>())
        receiver->accountInfoComplete(self<DVAccountInfoOperation>());
}
