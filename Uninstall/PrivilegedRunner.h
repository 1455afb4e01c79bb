#pragma once

#include <QString>

#include <functional>

// Runs a program once with administrator rights, after asking the user for them.
class PrivilegedRunner {
public:
    // The exit statuses that mean the program never ran.
    static constexpr int kDismissed = 126; // the user dismissed the password request
    static constexpr int kRefused = 127;   // the rights were refused, or the program cannot be run
    static constexpr int kNotStarted = -1; // the means of asking for rights is missing or crashed

    virtual ~PrivilegedRunner() = default;

    // Whether the program may be given administrator rights: only when nobody but the administrator can
    // change it or the folders above it, for anyone else could otherwise run their own program as root.
    virtual bool mayRun(const QString& program) const = 0;

    // Starts the program without arguments; done receives its exit status, or one of the statuses above,
    // on the thread that called run.
    virtual void run(const QString& program, std::function<void(int status)> done) = 0;

    static bool ran(int status) { return status != kDismissed && status != kRefused && status != kNotStarted; }
};
