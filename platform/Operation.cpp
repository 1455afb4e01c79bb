#include "Operation.h"

#include "QueueCore.h"

#include <algorithm>

Operation::~Operation() = default;

void Operation::start() {
    if (isCancelled()) {
        markFinished();
        return;
    }
    markExecuting();
    main();
    markFinished();
}

void Operation::cancel() {
    {
        std::lock_guard lock(_mutex);
        if (_finished || _cancelled)
            return;
        _cancelled = true;
    }
    notifyQueue(); // a waiting operation is ready now
}

bool Operation::isCancelled() const {
    std::lock_guard lock(_mutex);
    return _cancelled;
}

bool Operation::isExecuting() const {
    std::lock_guard lock(_mutex);
    return _executing;
}

bool Operation::isFinished() const {
    std::lock_guard lock(_mutex);
    return _finished;
}

bool Operation::isReady() const {
    const std::vector<std::shared_ptr<Operation>> dependencies = this->dependencies();
    if (isCancelled())
        return true;
    return std::all_of(dependencies.begin(), dependencies.end(),
                       [](const std::shared_ptr<Operation>& dependency) { return dependency->isFinished(); });
}

bool Operation::dependsOn(const Operation* operation) const {
    for (const std::shared_ptr<Operation>& dependency : dependencies()) {
        if (dependency.get() == operation || dependency->dependsOn(operation))
            return true;
    }
    return false;
}

void Operation::addDependency(const std::shared_ptr<Operation>& operation) {
    if (!operation || operation.get() == this || operation->dependsOn(this))
        return;
    {
        std::lock_guard lock(_mutex);
        if (_started || _finished)
            return;
        if (std::find(_dependencies.begin(), _dependencies.end(), operation) != _dependencies.end())
            return;
        _dependencies.push_back(operation);
    }
    {
        std::lock_guard lock(operation->_mutex);
        operation->_dependents.push_back(weak_from_this());
    }
    notifyQueue(); // a dependency that has finished already changes nothing, one that has not holds us back
}

void Operation::removeDependency(const std::shared_ptr<Operation>& operation) {
    {
        std::lock_guard lock(_mutex);
        const auto found = std::find(_dependencies.begin(), _dependencies.end(), operation);
        if (found == _dependencies.end())
            return;
        _dependencies.erase(found);
    }
    notifyQueue();
}

std::vector<std::shared_ptr<Operation>> Operation::dependencies() const {
    std::lock_guard lock(_mutex);
    return _dependencies;
}

void Operation::waitUntilFinished() const {
    std::unique_lock lock(_mutex);
    _finishedCondition.wait(lock, [this] { return _finished; });
}

void Operation::markExecuting() {
    std::lock_guard lock(_mutex);
    if (_finished || _executing)
        return;
    _started = true;
    _executing = true;
}

void Operation::markFinished() {
    std::vector<std::weak_ptr<Operation>> dependents;
    std::shared_ptr<QueueCore> queue;
    {
        std::lock_guard lock(_mutex);
        if (_finished)
            return;
        _started = true;
        _executing = false;
        _finished = true;
        dependents.swap(_dependents);
        queue = _queue.lock();
        _finishedCondition.notify_all();
    }
    if (queue)
        queue->operationFinished(shared_from_this());
    for (const std::weak_ptr<Operation>& weakDependent : dependents) {
        if (const std::shared_ptr<Operation> dependent = weakDependent.lock())
            dependent->notifyQueue();
    }
}

void Operation::notifyQueue() {
    std::shared_ptr<QueueCore> queue;
    {
        std::lock_guard lock(_mutex);
        queue = _queue.lock();
    }
    if (queue)
        queue->operationMayBeReady(shared_from_this());
}

std::vector<std::shared_ptr<Operation>> Operation::dependents() const {
    std::vector<std::shared_ptr<Operation>> result;
    std::lock_guard lock(_mutex);
    for (const std::weak_ptr<Operation>& weakDependent : _dependents) {
        if (std::shared_ptr<Operation> dependent = weakDependent.lock())
            result.push_back(std::move(dependent));
    }
    return result;
}

BlockOperation::BlockOperation(std::function<void()> block) {
    _blocks.push_back(std::move(block));
}

void BlockOperation::addExecutionBlock(std::function<void()> block) {
    std::lock_guard lock(_blocksMutex);
    if (!_blocksTaken)
        _blocks.push_back(std::move(block));
}

void BlockOperation::main() {
    std::vector<std::function<void()>> blocks;
    {
        std::lock_guard lock(_blocksMutex);
        _blocksTaken = true;
        blocks.swap(_blocks);
    }
    for (const std::function<void()>& block : blocks) {
        if (block)
            block();
    }
}
