#pragma once

#include "DVError.h"
#include "Operation.h"
#include "OperationsDelegate.h"
#include "URLSession.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>

// One request to the document service, run as an asynchronous operation on the coordinator's queue.
//
// Life of every service operation:
//  1. The queue calls start() on a worker thread; start() hands itself to the main thread and returns.
//  2. On the main thread: a cancelled operation is finished at once and sends nothing; otherwise it is
//     executing, reads the settings it needs, logs and sends its one request (startRequest()); a
//     document's request is logged and sent from a worker thread instead (launch()).
//  3. The reply is handled on the HTTP thread (examined for the service's failure text, results stored)
//     inside an exception guard, and finish() is called whatever happened.
//  4. finish() delivers the completion message on the main thread and waits until the delegate has
//     handled it (not for a cancelled operation: cancellation is checked again on the main thread, right
//     before the message), then marks the operation finished, which lets the operations that depend on
//     it start.
// A cancelled operation that has not started finishes on the worker thread, without the main thread.
// An exception or a request that cannot be built after the operation became executing records an error
// and finishes it, so that its dependents are never left waiting.
//
// Operations are made with std::make_shared and hold their delegate without owning it.
class DVConcurrentOperation : public QObject, public Operation {
    Q_OBJECT

public:
    // Domain and code of the records this layer makes.
    static const QString ErrorDomain; // "DocuvaneFetch"
    static constexpr qint64 ErrorCode = 1;

    explicit DVConcurrentOperation(OperationsDelegate* delegate);

    bool isConcurrent() const override { return true; }
    void start() final;

    // Cancels the operation and stops its request if one is on its way: the reply handler then sees a
    // cancelled transfer, whatever it had written is removed, and no completion message is sent.
    virtual void abort();

    // Records a failure when the reply text holds the service's failure prefix, or when there is no
    // text at all (a null text: the reply was not valid UTF-8). Logs "Reply Error: " with the text.
    void checkReplyForError(const QString& replyText);
    // The message (second ":"-part) and the exception class (first part) of a failure text.
    static QString formatErrorMessage(const QString& text);
    static QString formatExceptionMessage(const QString& text);

    OperationsDelegate* delegate() const { return _delegate.load(); }
    void setDelegate(OperationsDelegate* delegate) { _delegate.store(delegate); }

    // Empty until a failure is recorded.
    std::optional<DVError> error() const;
    void setError(const DVError& error);

protected:
    // On the main thread, the operation executing and not cancelled: build, log and send the request
    // (through sendRequest), or record an error and call finish().
    virtual void startRequest() = 0;
    // On the main thread, from finish(): send this operation's completion message, if it has one.
    virtual void sendCompletionMessage() = 0;

    // Delivers the completion message (unless cancelled) and marks the operation finished.
    void finish();

    // What a document's request is logged with: a "Request:  " line with the URL and a "Request Data:  "
    // line with the body.
    struct RequestLines {
        QString url;
        QString body;
    };

    using ReplyHandler =
        std::function<void(const std::optional<QByteArray>& body, int httpStatus, const std::optional<DVError>& error)>;
    // Sends the request (see launch()); the handler runs on the HTTP thread inside the reply guard, then
    // finish(). A request without a body limit gets DVServiceProtocol::MaxTextReplySize.
    void sendRequest(const URLRequest& request, ReplyHandler handler,
                     const std::optional<RequestLines>& lines = std::nullopt);

    // Remembers the task so that abort() can stop it (one launched after abort() is stopped at once) and
    // sends it. With lines, they are logged first and the task is sent after their flush, both on a
    // worker thread: a document's steps come ten at a time, and the main thread, which starts every one,
    // would otherwise wait for each flush in turn; on workers, steps starting together share one flush.
    void launch(const std::shared_ptr<URLSessionTask>& task, const std::optional<RequestLines>& lines = std::nullopt);

    // Runs a reply-handling body: an exception is logged as "Exception: " and "Backtrace<separator>"
    // lines under the method name, and ends the body.
    void guardReply(const char* selector, const std::function<void()>& body,
                    const char* backtraceLabel = "Backtrace: ");

    // Records a failure of this layer (domain "DocuvaneFetch", code 1) with a description only.
    void recordLocalError(const QString& description);

    // The delegate when it adopts the protocol of a message, otherwise null.
    template <typename Protocol> Protocol* delegateFor() const { return dynamic_cast<Protocol*>(delegate()); }

    template <typename Self> std::shared_ptr<Self> self() { return std::static_pointer_cast<Self>(shared_from_this()); }

private:
    void baseStart();
    // Remembers the request in flight; one made after abort() is stopped at once.
    void track(const std::shared_ptr<URLSessionTask>& task);

    std::atomic<OperationsDelegate*> _delegate;
    std::atomic<bool> _finishing{false};
    std::mutex _taskMutex;
    std::shared_ptr<URLSessionTask> _task;
    bool _aborted = false;
    mutable std::mutex _errorMutex;
    std::optional<DVError> _error;
};
