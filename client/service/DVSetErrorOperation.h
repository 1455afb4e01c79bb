#pragma once

#include "DVConcurrentOperation.h"

// Reports a destination error to the service ("op=dstseterror&error=unkn", no ticket). It has no
// completion message: the coordinator reads its error, if it wants it, from the finished operation.
class DVSetErrorOperation : public DVConcurrentOperation {
    Q_OBJECT

public:
    explicit DVSetErrorOperation(OperationsDelegate* delegate);

protected:
    void startRequest() override;
    void sendCompletionMessage() override {}
};
