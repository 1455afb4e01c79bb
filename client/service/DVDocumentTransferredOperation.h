#pragma once

#include "DVConcurrentOperation.h"

#include <QVariantMap>

// Tells the service that one document has arrived ("op=docstransferred", form body with the document's
// id). The coordinator cancels it when its download failed. The completion message is
// documentTransferredFileComplete.
class DVDocumentTransferredOperation : public DVConcurrentOperation {
    Q_OBJECT

public:
    explicit DVDocumentTransferredOperation(OperationsDelegate* delegate);

    // The document record from the documents-to-transfer reply.
    QVariantMap fileInfo() const;
    void setFileInfo(const QVariantMap& fileInfo);

protected:
    void startRequest() override;
    void sendCompletionMessage() override;

private:
    mutable std::mutex _mutex;
    QVariantMap _fileInfo;
};
