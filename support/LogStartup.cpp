#include "LogStartup.h"

#include "UserDefaults.h"
#include "WSLogger.h"

#include <QStringList>

#include <mutex>

namespace {

std::mutex g_mutex;
QStringList g_held;
bool g_holding = false;
bool g_logNamed = false;

void writeToLog(const QString& message) {
    WSLogger::sharedInstance().logError("UserDefaults", "load", {message});
}

} // namespace

void LogStartup::holdSettingsDiagnostics() {
    {
        std::lock_guard lock(g_mutex);
        if (g_holding)
            return;
        g_holding = true;
    }
    UserDefaults::setDiagnosticHandler([](const QString& message) {
        {
            std::lock_guard lock(g_mutex);
            if (!g_logNamed) {
                g_held.append(message);
                return;
            }
        }
        writeToLog(message);
    });
}

void LogStartup::start(const QString& logFilePath) {
    holdSettingsDiagnostics();
    // Made here, after the hold: the logger reads its level from the settings.
    WSLogger::sharedInstance().setFileName(logFilePath);
    QStringList held;
    {
        std::lock_guard lock(g_mutex);
        g_logNamed = true;
        held.swap(g_held);
    }
    for (const QString& message : held)
        writeToLog(message);
}
