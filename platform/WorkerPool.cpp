#include "WorkerPool.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace {

constexpr auto kIdleLifetime = std::chrono::seconds(30);

thread_local bool t_isWorker = false;

class Pool {
public:
    void post(std::function<void()> job) {
        std::lock_guard lock(_mutex);
        _jobs.push_back(std::move(job));
        if (_idle > _jobs.size() - 1) {
            _condition.notify_one();
            return;
        }
        // Every thread is busy (or already promised to a job): one more for this job.
        std::thread([this] { work(); }).detach();
    }

private:
    void work() {
        t_isWorker = true;
        std::unique_lock lock(_mutex);
        for (;;) {
            if (_jobs.empty()) {
                ++_idle;
                const bool woken = _condition.wait_for(lock, kIdleLifetime, [this] { return !_jobs.empty(); });
                --_idle;
                if (!woken)
                    return;
            }
            std::function<void()> job = std::move(_jobs.front());
            _jobs.pop_front();
            lock.unlock();
            job();
            job = nullptr; // what the job holds is released outside the lock
            lock.lock();
        }
    }

    std::mutex _mutex;
    std::condition_variable _condition;
    std::deque<std::function<void()>> _jobs;
    std::size_t _idle = 0;
};

Pool& pool() {
    static Pool* instance = new Pool(); // detached threads use it until the process ends
    return *instance;
}

} // namespace

void WorkerPool::post(std::function<void()> job) {
    pool().post(std::move(job));
}

bool WorkerPool::isWorkerThread() {
    return t_isWorker;
}
