#pragma once

#include <memory>

class DVLoginOperation;
class DVAccountInfoOperation;
class DVLogoutOperation;
class DVDocumentsToTransferOperation;
class DVDownloadFileOperation;
class DVDocumentTransferredOperation;

// The receiver of the service operations' completion messages (the coordinator). Every message is
// optional: a delegate adopts the protocol class of each message it answers, and an operation sends a
// message only when its delegate adopts it (checked with dynamic_cast).
//
// Messages are delivered on the main thread while the operation's reply thread waits, before the
// operation is marked finished: operations that depend on it start only after the handler has returned,
// and the handler reads the results from the operation it is given. A cancelled operation sends no
// message. While a handler runs, the HTTP thread waits for it: a handler must never wait for another
// service request to complete.
class OperationsDelegate {
public:
    virtual ~OperationsDelegate() = default;
};

class LoginCompleteDelegate : public virtual OperationsDelegate {
public:
    virtual void loginComplete(const std::shared_ptr<DVLoginOperation>& operation) = 0;
};

class AccountInfoCompleteDelegate : public virtual OperationsDelegate {
public:
    virtual void accountInfoComplete(const std::shared_ptr<DVAccountInfoOperation>& operation) = 0;
};

class LogoutCompleteDelegate : public virtual OperationsDelegate {
public:
    virtual void logoutComplete(const std::shared_ptr<DVLogoutOperation>& operation) = 0;
};

class DocumentsToTransferCompleteDelegate : public virtual OperationsDelegate {
public:
    virtual void documentsToTransferComplete(const std::shared_ptr<DVDocumentsToTransferOperation>& operation) = 0;
};

class DownloadFileCompleteDelegate : public virtual OperationsDelegate {
public:
    virtual void downloadFileComplete(const std::shared_ptr<DVDownloadFileOperation>& operation) = 0;
};

class DocumentTransferredFileCompleteDelegate : public virtual OperationsDelegate {
public:
    virtual void documentTransferredFileComplete(const std::shared_ptr<DVDocumentTransferredOperation>& operation) = 0;
};
