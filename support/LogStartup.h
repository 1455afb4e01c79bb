#pragma once

#include <QString>

// Opens the process's log so that nothing said before it was named is lost: the settings store's reports
// (a damaged settings file set aside, a failed write) are held from the first call on and written into
// the log as soon as it is named; later ones go straight there.
class LogStartup {
public:
    // Starts holding the settings store's reports. start() does it too; call this first only when
    // settings must be read before the log can be named.
    static void holdSettingsDiagnostics();

    // Holds the reports (unless held already), names the log file (WSLogger::setFileName), writes the
    // held reports there as error lines and sends every later one there too. Call it once, early, on
    // the main thread.
    static void start(const QString& logFilePath);
};
