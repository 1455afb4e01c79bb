#pragma once

#include <functional>

// The background threads that operation queues run their work on. A job never waits behind another:
// when no thread is idle a new one is made, and a thread idle for a while ends. The pool lives until the
// process ends.
class WorkerPool {
public:
    static void post(std::function<void()> job);
    // True on a thread of the pool.
    static bool isWorkerThread();
};
