#include "MainThread.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QThread>
#include <QtDebug>

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

namespace {

// One piece of work for the main thread. A waiting caller keeps it alive until it is done.
struct Task {
    std::function<void()> fn;
    bool waited = false;
    bool done = false;
    std::exception_ptr exception;
};

class Dispatcher;

std::mutex g_mutex;
std::condition_variable g_doneCondition;
std::deque<std::shared_ptr<Task>> g_tasks;
Dispatcher* g_dispatcher = nullptr;
int g_eventFd = -1;
std::thread::id g_mainThreadId;
bool g_mainThreadKnown = false;

void wake() {
    const uint64_t one = 1;
    while (::write(g_eventFd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

// Lives on the main thread as a child of the application object; runs the queued tasks when the
// eventfd becomes readable.
class Dispatcher : public QObject {
public:
    explicit Dispatcher(int fd)
        : QObject(QCoreApplication::instance())
        , _notifier(fd, QSocketNotifier::Read, this) {
        connect(&_notifier, &QSocketNotifier::activated, this, [this] { drain(); });
    }

    ~Dispatcher() override {
        std::vector<std::shared_ptr<Task>> abandoned;
        {
            std::lock_guard lock(g_mutex);
            g_dispatcher = nullptr;
            abandoned.assign(g_tasks.begin(), g_tasks.end());
            g_tasks.clear();
            // Waiting callers are let go: their work can no longer run.
            for (const auto& task : abandoned)
                task->done = true;
        }
        g_doneCondition.notify_all();
    }

private:
    void drain() {
        uint64_t count = 0;
        while (::read(g_eventFd, &count, sizeof count) < 0 && errno == EINTR) {
        }
        runQueued();
    }

public:
    static void runQueued() {
        for (;;) {
            std::shared_ptr<Task> task;
            {
                std::lock_guard lock(g_mutex);
                if (g_tasks.empty())
                    return;
                task = std::move(g_tasks.front());
                g_tasks.pop_front();
            }
            run(*task);
        }
    }

private:
    static void run(Task& task) {
        std::exception_ptr exception;
        try {
            task.fn();
        } catch (...) {
            exception = std::current_exception();
        }
        if (!task.waited) {
            if (exception)
                qWarning("MainThread::perform: an exception left the queued function");
            return;
        }
        // The exception passes whole to the waiting thread, which alone releases it.
        std::lock_guard lock(g_mutex);
        task.exception = std::move(exception);
        task.done = true;
        g_doneCondition.notify_all();
    }

    QSocketNotifier _notifier;
};

// Runs inside the application object's constructor, on the main thread.
void setUpDispatcher() {
    std::lock_guard lock(g_mutex);
    g_mainThreadId = std::this_thread::get_id();
    g_mainThreadKnown = true;
    if (g_eventFd < 0)
        g_eventFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (g_eventFd < 0) {
        qWarning("MainThread: no eventfd, work cannot be handed to the main thread");
        return;
    }
    g_dispatcher = new Dispatcher(g_eventFd);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(setUpDispatcher)

bool MainThread::isMainThread() {
    {
        std::lock_guard lock(g_mutex);
        if (g_mainThreadKnown)
            return std::this_thread::get_id() == g_mainThreadId;
    }
    const QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

void MainThread::perform(std::function<void()> fn) {
    auto task = std::make_shared<Task>();
    task->fn = std::move(fn);
    std::lock_guard lock(g_mutex);
    if (!g_dispatcher) {
        qWarning("MainThread::perform: no main event loop to run the function");
        return;
    }
    g_tasks.push_back(std::move(task));
    wake();
}

void MainThread::performAndWait(const std::function<void()>& fn) {
    if (isMainThread()) {
        fn();
        return;
    }
    auto task = std::make_shared<Task>();
    task->fn = fn;
    task->waited = true;
    std::unique_lock lock(g_mutex);
    if (!g_dispatcher) {
        qWarning("MainThread::performAndWait: no main event loop to run the function");
        return;
    }
    g_tasks.push_back(task);
    wake();
    g_doneCondition.wait(lock, [&] { return task->done; });
    std::exception_ptr exception = std::move(task->exception);
    lock.unlock();
    if (exception)
        std::rethrow_exception(exception);
}

void MainThread::runPending() {
    if (isMainThread())
        Dispatcher::runQueued();
}
