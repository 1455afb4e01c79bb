#include "DVConcurrentOperation.h"

#include "DVException.h"
#include "DVExceptionGuard.h"
#include "DVServiceProtocol.h"
#include "MainThread.h"
#include "WSLogger.h"
#include "WorkerPool.h"

const QString DVConcurrentOperation::ErrorDomain = QStringLiteral("DocuvaneFetch");

DVConcurrentOperation::DVConcurrentOperation(OperationsDelegate* delegate)
    : _delegate(delegate) {}

void DVConcurrentOperation::start() {
    if (!MainThread::isMainThread()) {
        if (isCancelled()) {
            // Nothing to send and nothing to report: a stopping coordinator must not wait for the main thread.
            baseStart();
            return;
        }
        std::shared_ptr<Operation> keep = shared_from_this();
        MainThread::perform([keep] { keep->start(); });
        return;
    }
    const bool completed = dvGuard(this, "start", [&] {
        baseStart();
        if (isFinished())
            return; // cancelled before it started: nothing is sent
        if (isCancelled()) {
            finish(); // cancelled on its way to the main thread
            return;
        }
        startRequest();
    });
    if (!completed && isExecuting()) {
        recordLocalError(QStringLiteral("The request could not be sent."));
        finish();
    }
}

void DVConcurrentOperation::baseStart() {
    if (isCancelled())
        markFinished();
    else
        markExecuting();
}

void DVConcurrentOperation::finish() {
    if (_finishing.exchange(true))
        return; // one completion message per operation, whoever calls twice
    if (!isCancelled()) {
        // Cancelled while the message was on its way (a coordinator stopping): the receiver may be gone.
        dvGuard(this, "finish", [&] {
            MainThread::performAndWait([this] {
                if (!isCancelled())
                    sendCompletionMessage();
            });
        });
    }
    markFinished();
}

void DVConcurrentOperation::sendRequest(const URLRequest& request, ReplyHandler handler,
                                        const std::optional<RequestLines>& lines) {
    std::shared_ptr<DVConcurrentOperation> keep = self<DVConcurrentOperation>();
    URLRequest bounded = request;
    if (bounded.maxBodySize <= 0)
        bounded.maxBodySize = DVServiceProtocol::MaxTextReplySize; // no reply held in memory is unbounded
    const std::shared_ptr<URLSessionTask> task =
        URLSession::shared().dataTask(bounded, [keep, handler](const std::optional<QByteArray>& body, int status,
                                                               const std::optional<DVError>& error) {
            keep->guardReply("start", [&] { handler(body, status, error); });
            keep->finish();
        });
    launch(task, lines);
}

void DVConcurrentOperation::launch(const std::shared_ptr<URLSessionTask>& task,
                                   const std::optional<RequestLines>& lines) {
    // Tracked at once, so that an abort() while the lines are written stops the task; a stopped task
    // still reports its end when sent, and the operation finishes as usual.
    track(task);
    if (!lines) {
        task->resume();
        return;
    }
    std::shared_ptr<DVConcurrentOperation> keep = self<DVConcurrentOperation>();
    WorkerPool::post([keep, task, lines = *lines] {
        keep->guardReply("start", [&] {
            WSLogger::sharedInstance().logInfoLines(
                keep.get(), "start",
                {{QStringLiteral("Request:  "), lines.url}, {QStringLiteral("Request Data:  "), lines.body}});
        });
        task->resume(); // whatever became of the lines: an unsent task would leave the operation unfinished
    });
}

void DVConcurrentOperation::abort() {
    cancel();
    std::shared_ptr<URLSessionTask> task;
    {
        std::lock_guard lock(_taskMutex);
        _aborted = true;
        task = std::move(_task);
    }
    if (task)
        task->cancel();
}

void DVConcurrentOperation::track(const std::shared_ptr<URLSessionTask>& task) {
    {
        std::lock_guard lock(_taskMutex);
        if (!_aborted) {
            _task = task;
            return;
        }
    }
    task->cancel();
}

void DVConcurrentOperation::guardReply(const char* selector, const std::function<void()>& body,
                                       const char* backtraceLabel) {
    WSLogger& logger = WSLogger::sharedInstance();
    auto log = [&](const QString& description, const QString& backtrace) {
        logger.logError(this, selector, {QStringLiteral("Exception: "), description});
        logger.logError(this, selector, {QString::fromLatin1(backtraceLabel), backtrace});
    };
    try {
        body();
    } catch (const DVException& exception) {
        log(exception.description(), exception.backtrace());
    } catch (const std::exception& exception) {
        log(QString::fromUtf8(exception.what()), QStringLiteral("No stack trace found"));
    } catch (...) {
        log(QStringLiteral("unknown exception"), QStringLiteral("No stack trace found"));
    }
}

void DVConcurrentOperation::checkReplyForError(const QString& replyText) {
    dvGuard(this, "checkReplyForError", [&] {
        if (!replyText.isNull() && !replyText.contains(DVServiceProtocol::exceptionPrefix()))
            return;
        WSLogger::sharedInstance().logError(this, "checkReplyForError", {QStringLiteral("Reply Error: "), replyText});
        const QString reason = formatExceptionMessage(replyText);
        const QString description = formatErrorMessage(replyText);
        setError(DVError(ErrorDomain, ErrorCode, reason.isNull() ? std::nullopt : std::optional<QString>(reason),
                         description.isNull() ? std::nullopt : std::optional<QString>(description)));
    });
}

QString DVConcurrentOperation::formatErrorMessage(const QString& text) {
    return DVServiceProtocol::messagePart(text);
}

QString DVConcurrentOperation::formatExceptionMessage(const QString& text) {
    return DVServiceProtocol::exceptionPart(text);
}

std::optional<DVError> DVConcurrentOperation::error() const {
    std::lock_guard lock(_errorMutex);
    return _error;
}

void DVConcurrentOperation::setError(const DVError& error) {
    std::lock_guard lock(_errorMutex);
    _error = error;
}

void DVConcurrentOperation::recordLocalError(const QString& description) {
    setError(DVError(ErrorDomain, ErrorCode, std::nullopt, description));
}
