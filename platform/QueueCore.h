#pragma once

#include "Operation.h"
#include "OperationQueue.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
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
    // An operation of this queue may have become ready (added, cancelled, a dependency finished or
    // removed); it is looked at by the next schedule(), which this calls.
    void operationMayBeReady(const std::shared_ptr<Operation>& operation);
    // An operation of this queue has finished: it leaves the queue on a worker thread.
    void operationFinished(const std::shared_ptr<Operation>& operation);

    void reportCount(int count);

private:
    struct Entry {
        std::uint64_t sequence = 0; // the order of adding
        bool dispatched = false;
    };

    void retire(const std::shared_ptr<Operation>& operation);
    static void run(const std::shared_ptr<QueueCore>& core, const std::shared_ptr<Operation>& operation);

    // Every step costs time in the number of operations concerned, never in the length of the queue, so
    // that a queue of tens of thousands of downloads stays near-linear:
    //  - _order keeps the operations in the order of adding (operations(), cancelling all);
    //  - _entries finds an operation's place by its address (retiring);
    //  - _candidates holds, in the order of adding, the undispatched operations that may be ready. One that
    //    turns out not to be ready leaves it; it comes back when it is told (a dependency finishing or it
    //    being cancelled), so operations waiting for others are never looked at again and again.
    mutable std::mutex _mutex;
    mutable std::condition_variable _emptied;
    std::condition_variable _handlerIdle;
    std::map<std::uint64_t, std::shared_ptr<Operation>> _order;
    std::unordered_map<const Operation*, Entry> _entries;
    std::map<std::uint64_t, std::shared_ptr<Operation>> _candidates;
    std::uint64_t _nextSequence = 0;
    int _maxConcurrent = OperationQueue::DefaultMaxConcurrentOperationCount;
    int _running = 0;
    std::shared_ptr<OperationQueue::CountHandler> _handler;
    // Calls of the handler in progress, with their threads, so that dropping it can wait for them.
    std::vector<std::thread::id> _handlerCalls;
};
