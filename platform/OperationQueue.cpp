#include "OperationQueue.h"

#include "QueueCore.h"
#include "WorkerPool.h"

#include <QtDebug>

#include <algorithm>
#include <exception>

bool QueueCore::add(const std::shared_ptr<Operation>& operation) {
    if (!operation)
        return false;
    {
        std::lock_guard operationLock(operation->_mutex);
        if (!operation->_queue.expired() || operation->_started || operation->_finished)
            return false;
        operation->_queue = weak_from_this();
    }
    int count = 0;
    {
        std::lock_guard lock(_mutex);
        const std::uint64_t sequence = _nextSequence++;
        _entries.emplace(operation.get(), Entry{sequence, false});
        _order.emplace(sequence, operation);
        _candidates.emplace(sequence, operation);
        count = static_cast<int>(_entries.size());
    }
    reportCount(count);
    schedule();
    return true;
}

std::vector<std::shared_ptr<Operation>> QueueCore::operations() const {
    std::lock_guard lock(_mutex);
    std::vector<std::shared_ptr<Operation>> result;
    result.reserve(_order.size());
    for (const auto& [sequence, operation] : _order)
        result.push_back(operation);
    return result;
}

int QueueCore::count() const {
    std::lock_guard lock(_mutex);
    return static_cast<int>(_entries.size());
}

void QueueCore::setMaxConcurrent(int count) {
    {
        std::lock_guard lock(_mutex);
        _maxConcurrent = count < 0 ? OperationQueue::DefaultMaxConcurrentOperationCount : count;
    }
    schedule();
}

int QueueCore::maxConcurrent() const {
    std::lock_guard lock(_mutex);
    return _maxConcurrent;
}

void QueueCore::setHandler(OperationQueue::CountHandler handler) {
    if (!handler) {
        dropHandler();
        return;
    }
    std::lock_guard lock(_mutex);
    _handler = std::make_shared<OperationQueue::CountHandler>(std::move(handler));
}

void QueueCore::dropHandler() {
    std::unique_lock lock(_mutex);
    _handler.reset();
    // A call on this very thread (the handler destroying its own queue) cannot be waited for.
    const std::thread::id self = std::this_thread::get_id();
    _handlerIdle.wait(lock, [&] {
        return std::all_of(_handlerCalls.begin(), _handlerCalls.end(),
                           [&](const std::thread::id& id) { return id == self; });
    });
}

void QueueCore::reportCount(int count) {
    std::shared_ptr<OperationQueue::CountHandler> handler;
    const std::thread::id self = std::this_thread::get_id();
    {
        std::lock_guard lock(_mutex);
        handler = _handler;
        if (!handler)
            return;
        _handlerCalls.push_back(self);
    }
    try {
        (*handler)(count);
    } catch (...) {
        qWarning("OperationQueue: an exception left the operation count handler");
    }
    std::lock_guard lock(_mutex);
    _handlerCalls.erase(std::find(_handlerCalls.begin(), _handlerCalls.end(), self));
    _handlerIdle.notify_all();
}

void QueueCore::waitUntilEmpty() const {
    std::unique_lock lock(_mutex);
    _emptied.wait(lock, [this] { return _entries.empty(); });
}

bool QueueCore::waitUntilEmpty(std::chrono::milliseconds limit) const {
    std::unique_lock lock(_mutex);
    return _emptied.wait_for(lock, limit, [this] { return _entries.empty(); });
}

void QueueCore::schedule() {
    std::vector<std::shared_ptr<Operation>> toStart;
    {
        std::lock_guard lock(_mutex);
        for (auto candidate = _candidates.begin(); candidate != _candidates.end();) {
            if (_maxConcurrent >= 0 && _running >= _maxConcurrent)
                break;
            const std::shared_ptr<Operation>& operation = candidate->second;
            const auto entry = _entries.find(operation.get());
            if (entry != _entries.end() && !entry->second.dispatched && operation->isReady()) {
                entry->second.dispatched = true;
                ++_running;
                toStart.push_back(operation);
            }
            candidate = _candidates.erase(candidate);
        }
    }
    const std::shared_ptr<QueueCore> self = shared_from_this();
    for (const std::shared_ptr<Operation>& operation : toStart)
        WorkerPool::post([self, operation] { run(self, operation); });
}

void QueueCore::operationMayBeReady(const std::shared_ptr<Operation>& operation) {
    {
        std::lock_guard lock(_mutex);
        const auto entry = _entries.find(operation.get());
        if (entry == _entries.end() || entry->second.dispatched)
            return;
        _candidates.emplace(entry->second.sequence, operation);
    }
    schedule();
}

void QueueCore::run(const std::shared_ptr<QueueCore>& core, const std::shared_ptr<Operation>& operation) {
    (void)core; // kept alive while the operation starts
    try {
        operation->start();
    } catch (...) {
        // The platform layer cannot log; an operation that lets an exception out still has to end.
        qWarning("OperationQueue: an exception left an operation's start");
        operation->markFinished();
    }
}

void QueueCore::operationFinished(const std::shared_ptr<Operation>& operation) {
    if (WorkerPool::isWorkerThread()) {
        retire(operation);
        return;
    }
    const std::shared_ptr<QueueCore> self = shared_from_this();
    WorkerPool::post([self, operation] { self->retire(operation); });
}

void QueueCore::retire(const std::shared_ptr<Operation>& operation) {
    int count = 0;
    {
        std::lock_guard lock(_mutex);
        const auto found = _entries.find(operation.get());
        if (found == _entries.end())
            return;
        if (found->second.dispatched)
            --_running;
        _order.erase(found->second.sequence);
        _candidates.erase(found->second.sequence);
        _entries.erase(found);
        count = static_cast<int>(_entries.size());
    }
    // Reported before successors start, so that reports of one thread's changes come in order.
    reportCount(count);
    schedule();
    if (count == 0) {
        std::lock_guard lock(_mutex);
        _emptied.notify_all();
    }
}

OperationQueue::OperationQueue()
    : _core(std::make_shared<QueueCore>()) {}

OperationQueue::~OperationQueue() {
    _core->dropHandler();
    cancelAllOperations();
}

void OperationQueue::addOperation(const std::shared_ptr<Operation>& operation) {
    _core->add(operation);
}

std::shared_ptr<Operation> OperationQueue::addOperationWithBlock(std::function<void()> fn) {
    auto operation = std::make_shared<BlockOperation>(std::move(fn));
    addOperation(operation);
    return operation;
}

std::vector<std::shared_ptr<Operation>> OperationQueue::operations() const {
    return _core->operations();
}

int OperationQueue::operationCount() const {
    return _core->count();
}

void OperationQueue::cancelAllOperations() {
    for (const std::shared_ptr<Operation>& operation : _core->operations())
        operation->cancel();
}

void OperationQueue::setMaxConcurrentOperationCount(int count) {
    _core->setMaxConcurrent(count);
}

int OperationQueue::maxConcurrentOperationCount() const {
    return _core->maxConcurrent();
}

void OperationQueue::setOperationCountChangedHandler(CountHandler handler) {
    _core->setHandler(std::move(handler));
}

void OperationQueue::waitUntilAllOperationsAreFinished() const {
    _core->waitUntilEmpty();
}

bool OperationQueue::waitUntilAllOperationsAreFinished(std::chrono::milliseconds limit) const {
    return _core->waitUntilEmpty(limit);
}
