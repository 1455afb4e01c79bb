#pragma once

#include <QString>

// Turns SIGTERM, SIGINT and SIGHUP into an ordinary end of the event loop, so that a process asked to
// quit stops its work, removes its temporary files and exits as it would after its last window closed.
//
// The signal handler only writes the signal's number into a socket pair; the main event loop reads it,
// remembers the signal and calls QCoreApplication::exit(0), which ends every event loop running on the
// main thread (and keeps any from starting). What the signal means for the exit status is the caller's
// choice: exitStatus() gives the shell's convention.
class QuitSignals {
public:
    // Installs the handlers; needs the application object. Later calls do nothing. False when the
    // socket pair cannot be made (the signals then keep their default effect).
    static bool install();

    // The first signal that arrived since install(), or 0.
    static int lastSignal();
    // 128 + lastSignal(), or 0 when none arrived: 130 after SIGINT, 143 after SIGTERM, 129 after SIGHUP.
    static int exitStatus();
    // "SIGTERM", "SIGINT", "SIGHUP" for lastSignal(); empty when none arrived.
    static QString signalName();
};
