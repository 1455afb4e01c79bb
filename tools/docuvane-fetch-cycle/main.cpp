// docuvane-fetch-cycle: runs one fetch cycle of the client without a window, for development and support.

#include "Bundle.h"
#include "ClientSettings.h"
#include "DVDocumentWriter.h"
#include "DocuvaneFetchIdentity.h"
#include "FetchCycleRunner.h"
#include "LogStartup.h"
#include "QuitSignals.h"
#include "UserDefaults.h"
#include "UserNotificationCenter.h"
#include "WSLogger.h"

#include <QCoreApplication>
#include <QDir>

#include <cstdio>

namespace {

const char kHelp[] =
    "usage: docuvane-fetch-cycle [--help]\n"
    "\n"
    "Runs one fetch cycle of Docuvane Fetch without a window, with the user's settings\n"
    "($XDG_CONFIG_HOME/docuvane/com.docuvane.DocuvaneFetch.plist; see docuvane-defaults) and the\n"
    "client's log file (~/Library/Logs/DocuvaneFetch.log):\n"
    "  1. without a stored ticket, logs in with the stored e-mail and password and checks the account;\n"
    "  2. asks the service which documents wait, downloads each into the fetch folder and reports it\n"
    "     transferred.\n"
    "Prints \"documents=<n> downloaded=<d> failed=<f> seconds=<s>\" and exits 0. Exits 1 with one line\n"
    "on standard error when no account is configured, the login, the account check or the document\n"
    "list fails, or the account's delivery destination is not this desktop client; 2 on bad usage.\n"
    "On SIGINT, SIGTERM or SIGHUP it stops within two seconds, removes its temporary files, prints\n"
    "\"stopped by <signal>\" on standard error and exits 128 + the signal's number (130, 143, 129).\n";

} // namespace

int main(int argc, char** argv) {
    DocuvaneFetchIdentity::install();
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments().mid(1);
    if (arguments == QStringList{QStringLiteral("--help")}) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (!arguments.isEmpty()) {
        std::fprintf(stderr, "docuvane-fetch-cycle: unexpected argument %s\n", qPrintable(arguments.first()));
        std::fputs(kHelp, stderr);
        return 2;
    }

    // A quit request ends the cycle cleanly: no partial document, no temporary file left behind.
    QuitSignals::install();
    LogStartup::start(QDir::homePath() + QStringLiteral("/Library/Logs/DocuvaneFetch.log"));
    // Without a notification service, what the client would have shown goes to the log.
    UserNotificationCenter::defaultUserNotificationCenter().setFallback([](const UserNotification& notification) {
        WSLogger::sharedInstance().logInfo("UserNotificationCenter", "deliverNotification",
                                           {notification.title + QLatin1Char(':'), notification.informativeText});
    });

    // The client fills in its missing settings at every launch; the cycle depends on them.
    ClientSettings::shared().setUserDefaults();
    // Temporary files of a killed process, once per launch and never in the way of the cycle.
    DVDocumentWriter::removeStaleTemporaryFilesInBackground(ClientSettings::shared().fetchFolderPath());

    FetchCycleRunner runner;
    const int status = runner.run();
    // The last notifications are still on their way to the service; leaving now would drop them. A quit
    // request does not wait.
    if (QuitSignals::lastSignal() == 0)
        UserNotificationCenter::defaultUserNotificationCenter().waitForDeliveries(2000);
    return status;
}
