#pragma once

#include "DVConcurrentOperation.h"

#include <QVariantMap>

// Asks which documents wait for this destination ("op=docstotransfer"). The parsed reply becomes
// fileList; its "documents" member lists the document records. A reply that is not a JSON object with a
// "documents" array, or comes with a status outside 2xx, is a failed step: it never reads as an empty
// list. The completion message is documentsToTransferComplete.
class DVDocumentsToTransferOperation : public DVConcurrentOperation {
    Q_OBJECT

public:
    explicit DVDocumentsToTransferOperation(OperationsDelegate* delegate);

    // The whole reply object; none until a reply parsed as one.
    std::optional<QVariantMap> fileList() const;
    void setFileList(const QVariantMap& fileList);

protected:
    void startRequest() override;
    void sendCompletionMessage() override;

private:
    void handleReply(const std::optional<QByteArray>& body, int httpStatus,
                     const std::optional<DVError>& transportError);

    mutable std::mutex _mutex;
    std::optional<QVariantMap> _fileList;
};
