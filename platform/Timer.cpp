#include "Timer.h"

#include <QTimer>

#include <algorithm>
#include <climits>
#include <cmath>
#include <mutex>
#include <utility>
#include <vector>

namespace {

constexpr double kShortestInterval = 0.0001;

// Depth of QTimer timeout handling on this thread: a QTimer must not be deleted while it delivers its own
// timeout, so one released then is deleted later by the event loop.
thread_local int t_deliveringTimeout = 0;

struct ClockEntry {
    std::weak_ptr<Timer> timer;
    double due = 0;
    quint64 order = 0;
};

struct TestClock {
    std::mutex mutex;
    bool enabled = false;
    double now = 0;
    quint64 nextOrder = 0;
    std::vector<ClockEntry> entries;
};

TestClock& testClock() {
    static TestClock clock;
    return clock;
}

} // namespace

Timer::Timer(double seconds, bool repeats, Action action)
    : _interval(seconds > 0 ? seconds : kShortestInterval)
    , _repeats(repeats)
    , _action(std::move(action)) {}

std::shared_ptr<Timer> Timer::scheduledTimer(double seconds, bool repeats, Action action) {
    std::shared_ptr<Timer> timer(new Timer(seconds, repeats, std::move(action)));
    if (TimerTestClock::isEnabled()) {
        timer->_onTestClock = true;
        TimerTestClock::add(timer);
    } else {
        timer->scheduleOnEventLoop();
    }
    return timer;
}

Timer::~Timer() {
    _valid.store(false);
    releaseQTimer();
}

void Timer::scheduleOnEventLoop() {
    // QTimer counts whole milliseconds in an int: at least one, at most about 24 days.
    const double ms = std::clamp(std::round(_interval * 1000.0), 1.0, static_cast<double>(INT_MAX));
    _qtimer = new QTimer;
    _qtimer->setSingleShot(!_repeats);
    _qtimer->setInterval(static_cast<int>(ms));
    std::weak_ptr<Timer> weak = weak_from_this();
    QObject::connect(_qtimer, &QTimer::timeout, _qtimer, [weak] {
        ++t_deliveringTimeout;
        if (std::shared_ptr<Timer> timer = weak.lock())
            timer->scheduledFire();
        --t_deliveringTimeout;
    });
    _qtimer->start();
}

void Timer::fire() {
    scheduledFire();
}

void Timer::scheduledFire() {
    if (!_valid.load())
        return;
    // The action may drop the last reference to this timer, or replace the action by invalidating.
    const std::shared_ptr<Timer> self = shared_from_this();
    const Action action = _action;
    ++_running;
    if (action)
        action();
    --_running;
    if (!_repeats)
        invalidate();
}

void Timer::invalidate() {
    if (!_valid.exchange(false))
        return;
    releaseQTimer();
    // Whatever the action holds is let go now, not when the last reference to the timer goes.
    _action = nullptr;
}

void Timer::releaseQTimer() {
    QTimer* qtimer = std::exchange(_qtimer, nullptr);
    if (!qtimer)
        return;
    qtimer->stop();
    if (t_deliveringTimeout > 0 || _running > 0)
        qtimer->deleteLater();
    else
        delete qtimer;
}

void TimerTestClock::enable(bool on) {
    TestClock& clock = testClock();
    std::lock_guard lock(clock.mutex);
    clock.enabled = on;
}

bool TimerTestClock::isEnabled() {
    TestClock& clock = testClock();
    std::lock_guard lock(clock.mutex);
    return clock.enabled;
}

double TimerTestClock::now() {
    TestClock& clock = testClock();
    std::lock_guard lock(clock.mutex);
    return clock.now;
}

int TimerTestClock::validTimerCount() {
    TestClock& clock = testClock();
    std::lock_guard lock(clock.mutex);
    return static_cast<int>(std::count_if(clock.entries.begin(), clock.entries.end(), [](const ClockEntry& entry) {
        const std::shared_ptr<Timer> timer = entry.timer.lock();
        return timer && timer->isValid();
    }));
}

void TimerTestClock::add(const std::shared_ptr<Timer>& timer) {
    TestClock& clock = testClock();
    std::lock_guard lock(clock.mutex);
    clock.entries.push_back(ClockEntry{timer, clock.now + timer->timeInterval(), clock.nextOrder++});
}

void TimerTestClock::advance(double seconds) {
    TestClock& clock = testClock();
    double target = 0;
    {
        std::lock_guard lock(clock.mutex);
        target = clock.now + std::max(0.0, seconds);
    }
    for (;;) {
        std::shared_ptr<Timer> next;
        {
            std::lock_guard lock(clock.mutex);
            std::erase_if(clock.entries, [](const ClockEntry& entry) {
                const std::shared_ptr<Timer> timer = entry.timer.lock();
                return !timer || !timer->isValid();
            });
            auto earliest = clock.entries.end();
            for (auto it = clock.entries.begin(); it != clock.entries.end(); ++it) {
                if (it->due > target)
                    continue;
                if (earliest == clock.entries.end() || it->due < earliest->due ||
                    (it->due == earliest->due && it->order < earliest->order))
                    earliest = it;
            }
            if (earliest == clock.entries.end()) {
                clock.now = target;
                return;
            }
            clock.now = earliest->due;
            next = earliest->timer.lock();
            if (next->repeats())
                earliest->due += next->timeInterval();
            else
                clock.entries.erase(earliest);
        }
        // Outside the lock: the action may schedule, fire or invalidate timers.
        next->scheduledFire();
    }
}
