#pragma once

#include "Operation.h"
#include "OperationQueue.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// The shared state of an OperationQueue, kept alive by the queue object and by its operations' work, so
// that an operation finishing after its queue object is gone still finds it. Internal to the platform
// layer.
class QueueCore : public std::enable_shared_from_this<QueueCore> {
public:
    bool add(const std::shared_ptr<Operation>& operation);
    std::vector<std::shared_ptr<Operation>> operations() const;
    int count() const;
    void setMaxConcurrent(int count);
    int maxConcurrent() const;
    void setHandler(OperationQueue::CountHandler handler);
    void dropHandler();
    void waitUntilEmpty() const;
    bool waitUntilEmpty(std::chrono::milliseconds limit) const;

    // Starts what is ready, as far as the limit allows. Any thread.
    void schedule();
    // An operation of this queue has finished: it leaves the queue on a worker thread.
    void operationFinished(const std::shared_ptr<Operation>& operation);

    void reportCount(int count);

private:
    struct Entry {
        std::shared_ptr<Operation> operation;
        bool dispatched = false;
    };

    void retire(const std::shared_ptr<Operation>& operation);
    static void run(const std::shared_ptr<QueueCore>& core, const std::shared_ptr<Operation>& operation);

    mutable std::mutex _mutex;
    mutable std::condition_variable _emptied;
    std::condition_variable _handlerIdle;
    std::vector<Entry> _entries;
    int _maxConcurrent = OperationQueue::DefaultMaxConcurrentOperationCount;
    int _running = 0;
    std::shared_ptr<OperationQueue::CountHandler> _handler;
    // Calls of the handler in progress, with their threads, so that dropping it can wait for them.
    std::vector<std::thread::id> _handlerCalls;
};
