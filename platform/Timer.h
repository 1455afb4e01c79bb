#pragma once

#include <QtGlobal>

#include <atomic>
#include <functional>
#include <memory>

class QTimer;

// A timer in the manner of the run-loop timers this client was first written for: repeating or one-shot,
// an interval in seconds, an action, fire() to run the action now, invalidate() to stop it for good.
//
// Ownership. scheduledTimer() returns the only strong reference the timer system hands out; the timer runs
// while it is valid and somebody holds it. Dropping the last reference invalidates the timer (nothing keeps a
// forgotten timer running behind its owner's back). Replacing a stored timer is therefore simply:
//     _timer = Timer::scheduledTimer(14400, true, [this] { tick(); });
// Invalidating a timer, or dropping the last reference to it, from inside its own action is safe: the timer
// keeps itself alive until the action has returned. Destroying an invalidated timer is always safe.
//
// Threads. The timer is scheduled on the event loop of the thread that makes it (the main thread in this
// client) and its action runs there. fire() runs the action on the calling thread. Make, fire and invalidate
// a timer on its own thread; isValid(), timeInterval() and repeats() may be read from any thread. A thread
// that needs to fire or stop a main-thread timer hands the call over with MainThread::perform.
//
// Intervals. An interval of zero or below is taken as 0.1 milliseconds, as the original timers did; the
// event loop's granularity is one millisecond, so a repeating timer never fires more often than that.
class Timer : public std::enable_shared_from_this<Timer> {
public:
    using Action = std::function<void()>;

    // Schedules a timer whose first firing comes `seconds` from now. A repeating timer then fires every
    // `seconds`; a one-shot timer is invalidated after its action has run once.
    static std::shared_ptr<Timer> scheduledTimer(double seconds, bool repeats, Action action);

    ~Timer();
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    // Runs the action now, on the calling thread. A repeating timer keeps its schedule; a one-shot timer is
    // invalidated after the action has run. An invalidated timer does nothing.
    void fire();
    // Stops the timer for good; the action is never run again (not even by fire()). Calling it again does
    // nothing.
    void invalidate();

    bool isValid() const { return _valid.load(); }
    double timeInterval() const { return _interval; }
    bool repeats() const { return _repeats; }

private:
    friend class TimerTestClock;

    Timer(double seconds, bool repeats, Action action);
    void scheduleOnEventLoop();
    // The scheduled firing (event loop or test clock): the action, then, for a one-shot timer, invalidation.
    void scheduledFire();
    void releaseQTimer();

    const double _interval;
    const bool _repeats;
    Action _action;
    std::atomic<bool> _valid{true};
    bool _onTestClock = false;
    int _running = 0; // nesting depth of the action, on the timer's thread
    QTimer* _qtimer = nullptr;
};

// The test seam: with the test clock enabled, timers made from then on are not put on the event loop but on a
// simulated clock that only advance() moves. Timers made before enabling keep running on the event loop.
//
//     TimerTestClock::enable();
//     auto timer = Timer::scheduledTimer(300, false, [&] { ++ticks; });
//     TimerTestClock::advance(299);   // nothing yet
//     TimerTestClock::advance(1);     // the timer fires, and is then invalid
//
// advance() fires every timer that falls due within the step, earliest first (timers due at the same moment
// in the order they were scheduled), each at its own moment: a repeating timer fires as many times as it
// falls due, and a timer scheduled by an action during the step fires within the same step when it falls due
// in it. Actions run on the calling thread, inside advance(). Use it from the thread that makes the timers.
class TimerTestClock {
public:
    // Switches the seam on (or off) for the whole process. Switching it off leaves timers already on the
    // test clock there.
    static void enable(bool on = true);
    static bool isEnabled();

    // Moves the simulated time forward by `seconds`, firing what falls due.
    static void advance(double seconds);
    // The simulated time in seconds since the clock was first used.
    static double now();
    // Valid timers on the test clock.
    static int validTimerCount();

private:
    friend class Timer;
    static void add(const std::shared_ptr<Timer>& timer);
};
