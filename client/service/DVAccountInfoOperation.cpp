#include "DVAccountInfoOperation.h"

#include "DVServiceProtocol.h"
#include "DVSettingsKeys.h"
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
    const QString url = DVServiceProtocol::accountInfoURL(DVServiceProtocol::settingText(DVSettings::ServerURL),
                                                          DVServiceProtocol::settingText(DVSettings::Ticket));
    logger.logInfo(this, "start", {QStringLiteral("Account Info Url = "), url});
    sendRequest(URLRequest::get(url.toUtf8()),
                [this](const std::optional<QByteArray>& body, int, const std::optional<DVError>& error) {
                    handleReply(body, error);
                });
}

void DVAccountInfoOperation::handleReply(const std::optional<QByteArray>& body,
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
    if (parsed) {
        const QJsonValue account = json.object().value(QStringLiteral("account"));
        if (account.isObject())
            setAccountInfo(account.toObject().toVariantMap());
    } else if (!error()) {
        setError(DVError(ErrorDomain, ErrorCode, text, text));
    }
}

void DVAccountInfoOperation::sendCompletionMessage() {
    if (auto* receiver = delegateFor<AccountInfoCompleteDelegate>())
        receiver->accountInfoComplete(self<DVAccountInfoOperation>());
}
