#pragma once

#include "DVConcurrentOperation.h"

// Exchanges the user's name and password for a session ticket ("op=userlogin"). The ticket setting is
// removed as the request starts, stored from a good reply, and left absent after any failure. A reply
// that is not a failure text is a good one only with a 2xx status and a ticket that passes
// DVServiceProtocol::ticketFromLoginReply; anything else is a failed login that says what came back.
// The completion message is loginComplete.
class DVLoginOperation : public DVConcurrentOperation {
    Q_OBJECT

public:
    explicit DVLoginOperation(OperationsDelegate* delegate);

    QString user() const;
    void setUser(const QString& user);
    QString password() const;
    void setPassword(const QString& password);

protected:
    void startRequest() override;
    void sendCompletionMessage() override;

private:
    void handleReply(const std::optional<QByteArray>& body, int httpStatus,
                     const std::optional<DVError>& transportError);

    mutable std::mutex _mutex;
    QString _user;
    QString _password;
};
