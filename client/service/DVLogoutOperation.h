#pragma once

#include "DVConcurrentOperation.h"

// Ends the session ("op=userlogout"). The ticket setting is removed whatever the service answers. The
// completion message is logoutComplete.
class DVLogoutOperation : public DVConcurrentOperation {
    Q_OBJECT

public:
    explicit DVLogoutOperation(OperationsDelegate* delegate);

protected:
    void startRequest() override;
    void sendCompletionMessage() override;
};
