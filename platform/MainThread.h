#pragma once

#include <functional>

// Runs work on the main thread: the thread of the Qt application object, whose event loop runs the user
// interface, the timers and every completion message of the service requests.
//
// The hand-over uses our own queue and an eventfd watched by the main event loop rather than Qt's
// queued invocations, so that every cross-thread step is made of primitives that thread checkers see.
// Functions handed over run in the order they were handed over. The dispatcher is set up when the
// application object is made; before that, and after it is gone, nothing can reach the main thread.
class MainThread {
public:
    // True on the main thread.
    static bool isMainThread();

    // Queues fn to run on the main thread and returns at once, even when called on the main thread
    // (then fn runs at the next turn of the event loop, never inside the caller).
    static void perform(std::function<void()> fn);

    // Runs fn on the main thread and returns when it has run. On the main thread fn is called directly.
    // From another thread the caller blocks until the main event loop has run fn; an exception that
    // leaves fn is thrown again in the caller. Never call it from a thread the main thread waits for.
    static void performAndWait(const std::function<void()>& fn);

    // On the main thread: runs the functions handed over so far, for a caller that waits for background
    // work that may need the main thread, without returning to the event loop. Elsewhere it does nothing.
    static void runPending();
};
