#include "DVExceptionGuard.h"

void logException(const LogSender& sender, const char* selector, const QString& description, const QString& backtrace) {
    WSLogger& logger = WSLogger::sharedInstance();
    logger.logError(sender, selector, {QStringLiteral("Exception: "), description});
    logger.logError(sender, selector, {QStringLiteral("Backtrace: "), backtrace});
}
