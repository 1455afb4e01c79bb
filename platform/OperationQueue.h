#pragma once

#include "Operation.h"

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

class QueueCore;

// Runs operations on background worker threads (never on the main thread), respecting their
// dependencies and a limit on how many run at once. Operations start in the order they were added,
// among those that are ready.
//
// An operation leaves the queue when it has finished; that happens on a worker thread (the one that ran
// a synchronous operation, or one taken for the purpose when an asynchronous operation finished on
// another thread), so the operation count falls to zero on a worker thread, never on the main thread.
//
// The queue's state is shared with its operations: destroying the queue object cancels what it holds and
// drops the count handler; operations that are running still finish on their own.
class OperationQueue {
public:
    // Unlimited concurrency.
    static constexpr int DefaultMaxConcurrentOperationCount = -1;

    OperationQueue();
    ~OperationQueue();
    OperationQueue(const OperationQueue&) = delete;
    OperationQueue& operator=(const OperationQueue&) = delete;

    // Adds an operation that is in no queue, has not started and is not finished; others are ignored.
    void addOperation(const std::shared_ptr<Operation>& operation);
    // Adds a BlockOperation running fn and returns it.
    std::shared_ptr<Operation> addOperationWithBlock(std::function<void()> fn);

    // The operations not yet finished and removed, in the order they were added.
    std::vector<std::shared_ptr<Operation>> operations() const;
    int operationCount() const;

    // Cancels every operation in the queue.
    void cancelAllOperations();

    // How many operations may be started and not finished at once; -1 for no limit. A lower limit
    // leaves running operations alone.
    void setMaxConcurrentOperationCount(int count);
    int maxConcurrentOperationCount() const;

    // Called with the new operation count after every change: on the thread that added an operation, or
    // on the worker thread on which one left the queue. Calls for different changes may run at the same
    // time on different threads. Set it before adding operations; setting an empty handler, and
    // destroying the queue, wait for calls in progress on other threads.
    using CountHandler = std::function<void(int operationCount)>;
    void setOperationCountChangedHandler(CountHandler handler);

    // Blocks until the queue holds no operation. Never call it on a thread the operations need (the main
    // thread, for operations that hand their work to it).
    void waitUntilAllOperationsAreFinished() const;
    // The same, for at most the given time; true when the queue is empty.
    bool waitUntilAllOperationsAreFinished(std::chrono::milliseconds limit) const;

private:
    std::shared_ptr<QueueCore> _core;
};
