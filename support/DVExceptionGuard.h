#pragma once

#include "DVException.h"
#include "WSLogger.h"

#include <exception>

// Logs an escaped exception the way every guarded method does: two Error lines, the description and the
// backtrace text.
void logException(const LogSender& sender, const char* selector, const QString& description, const QString& backtrace);

// Runs a method body so that no exception leaves it. Returns false when the body was ended by one.
template <typename Body> bool dvGuard(const LogSender& sender, const char* selector, Body&& body) {
    try {
        body();
        return true;
    } catch (const DVException& exception) {
        logException(sender, selector, exception.description(), exception.backtrace());
    } catch (const std::exception& exception) {
        logException(sender, selector, QString::fromUtf8(exception.what()), QStringLiteral("No stack trace found"));
    } catch (...) {
        logException(sender, selector, QStringLiteral("unknown exception"), QStringLiteral("No stack trace found"));
    }
    return false;
}
