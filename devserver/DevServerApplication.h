#pragma once

#include <QStringList>

// docuvane-devserver from its command line to its exit status: sets the service up, announces the port on
// standard output and serves until SIGTERM or SIGINT.
class DevServerApplication {
public:
    enum ExitStatus { Stopped = 0, CannotListen = 1, BadArguments = 2 };

    // The arguments after the program name.
    static int exec(const QStringList& arguments);
};
