#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class QueueCore;

// A unit of work run once by an OperationQueue.
//
// States: ready (made, waiting for its dependencies), executing (started and not done), finished.
// An operation is ready to start when every operation it depends on is finished (cancelled ones finish
// too) or when it is cancelled itself; a cancelled operation is still started, and its start only marks
// it finished. Operations are shared objects: make them with std::make_shared; the queue, the operations
// that depend on them and running work hold them.
//
// Synchronous operations override main(); the default start() runs it between the executing and the
// finished state. Asynchronous (concurrent) operations override start() and isConcurrent(); they stay
// executing after start() returns and call markFinished() themselves, from any thread, when their work is
// done. All members are safe to call from any thread.
class Operation : public std::enable_shared_from_this<Operation> {
public:
    Operation() = default;
    virtual ~Operation();
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;

    // Called by the queue on one of its worker threads once the operation is ready.
    virtual void start();
    // The work of a synchronous operation; does nothing here.
    virtual void main() {}
    // True for operations that manage their executing and finished state themselves.
    virtual bool isConcurrent() const { return false; }

    // Marks the operation cancelled. A waiting operation becomes ready at once (its start then finishes
    // it); a running one sees the flag through isCancelled(). Finished operations ignore it.
    virtual void cancel();

    bool isCancelled() const;
    bool isExecuting() const;
    bool isFinished() const;
    // Cancelled, or every dependency finished; false once started.
    bool isReady() const;

    // Dependencies are set before the operation starts; a dependency on itself or on an operation that
    // (through others) depends on this one is ignored.
    void addDependency(const std::shared_ptr<Operation>& operation);
    void removeDependency(const std::shared_ptr<Operation>& operation);
    std::vector<std::shared_ptr<Operation>> dependencies() const;
    // The operations that depend on this one, while it has not finished (none afterwards).
    std::vector<std::shared_ptr<Operation>> dependents() const;

    // Blocks until the operation is finished. Never call it on a thread the operation's work needs.
    void waitUntilFinished() const;

protected:
    // ready -> executing. Ignored unless the operation is ready or cancelled and not started.
    void markExecuting();
    // -> finished (from ready or executing). Wakes its queue and the operations that depend on it; only
    // the first call counts.
    void markFinished();

private:
    friend class QueueCore;

    bool dependsOn(const Operation* operation) const;
    void notifyQueue();

    mutable std::mutex _mutex;
    mutable std::condition_variable _finishedCondition;
    bool _cancelled = false;
    bool _started = false;
    bool _executing = false;
    bool _finished = false;
    std::vector<std::shared_ptr<Operation>> _dependencies;
    std::vector<std::weak_ptr<Operation>> _dependents;
    std::weak_ptr<QueueCore> _queue;
};

// Runs its functions one after another on a worker thread: the queue's way of running a plain step
// (the coordinator's download and website steps, for instance).
class BlockOperation : public Operation {
public:
    BlockOperation() = default;
    explicit BlockOperation(std::function<void()> block);

    // Adds a function; ignored once the operation has started.
    void addExecutionBlock(std::function<void()> block);

    void main() override;

private:
    std::mutex _blocksMutex;
    std::vector<std::function<void()>> _blocks;
    bool _blocksTaken = false;
};
