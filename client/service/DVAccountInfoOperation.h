#pragma once

#include "DVConcurrentOperation.h"

#include <QVariantMap>

// Asks for the account's description ("op=accountinfo"); the coordinator reads the delivery destination
// from it. A reply that is not a JSON object with an "account" object, or comes with a status outside
// 2xx, is a failed step. The completion message is accountInfoComplete.
class DVAccountInfoOperation : public DVConcurrentOperation {
    Q_OBJECT

public:
    explicit DVAccountInfoOperation(OperationsDelegate* delegate);

    // The reply's "account" object; none until a reply held one.
    std::optional<QVariantMap> accountInfo() const;
    void setAccountInfo(const QVariantMap& accountInfo);

protected:
    void startRequest() override;
    void sendCompletionMessage() override;

private:
    void handleReply(const std::optional<QByteArray>& body, int httpStatus,
                     const std::optional<DVError>& transportError);

    mutable std::mutex _mutex;
    std::optional<QVariantMap> _accountInfo;
};
