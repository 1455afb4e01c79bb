#include "DVSetErrorOperation.h"

#include "ClientSettings.h"
#include "DVServiceProtocol.h"
#include "WSLogger.h"

DVSetErrorOperation::DVSetErrorOperation(OperationsDelegate* delegate)
    : DVConcurrentOperation(delegate) {}

void DVSetErrorOperation::startRequest() {
    const QString url = DVServiceProtocol::setErrorURL(DVServiceProtocol::settingText(ClientSettings::Key::ServerURL));
    WSLogger::sharedInstance().logInfo(this, "start", {QStringLiteral("Request:  "), url});
    sendRequest(URLRequest::get(url.toUtf8()),
                [this](const std::optional<QByteArray>& body, int, const std::optional<DVError>&) {
                    checkReplyForError(DVServiceProtocol::replyText(body));
                });
}
