#include "DevServerApplication.h"

#include "DevConsoleLog.h"
#include "DevDocumentStore.h"
#include "DevServerInstance.h"
#include "DevServerOptions.h"

#include <csignal>
#include <cstdio>
#include <ctime>

#include <pthread.h>

namespace {

int refuse(const QString& problem) {
    std::fprintf(stderr, "docuvane-devserver: %s\n\n%s", qPrintable(problem), qPrintable(DevServerOptions::usage()));
    return DevServerApplication::BadArguments;
}

} // namespace

int DevServerApplication::exec(const QStringList& arguments) {
    QString problem;
    const std::optional<DevServerOptions> options = DevServerOptions::parse(arguments, &problem);
    if (!options)
        return refuse(problem);
    if (options->helpRequested) {
        std::fputs(qPrintable(DevServerOptions::usage()), stdout);
        return Stopped;
    }

    // The stop signals are taken by sigtimedwait below; every thread made from here on inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    DevServerInstance server(*options);
    switch (server.start(&problem)) {
    case DevServerInstance::Failure::None:
        break;
    case DevServerInstance::Failure::BadSetup:
        return refuse(problem);
    case DevServerInstance::Failure::CannotListen:
        std::fprintf(stderr, "docuvane-devserver: %s\n", qPrintable(problem));
        return CannotListen;
    }

    std::printf("listening on http://127.0.0.1:%d\n", server.port());
    std::fflush(stdout);
    QList<DevDocument> waiting;
    server.store().scan(&waiting, nullptr, nullptr);
    // One substitution pass: a "%" in the folder or user name is not taken for a placeholder.
    const QString expiry = options->ticketTtlSeconds > 0
                               ? QStringLiteral("expire after %1 s").arg(options->ticketTtlSeconds)
                               : QStringLiteral("never expire");
    DevConsoleLog::write(QStringLiteral("serving %1 waiting documents from %2 for %3, destinationId %4, tickets %5")
                             .arg(QString::number(waiting.size()), options->documentsFolder, options->user,
                                  QString::number(options->destinationId), expiry));

    int status = Stopped;
    for (;;) {
        const timespec interval{0, 200 * 1000 * 1000};
        const int signal = sigtimedwait(&stopSignals, nullptr, &interval);
        if (signal == SIGTERM || signal == SIGINT) {
            DevConsoleLog::write(QStringLiteral("stopping on %1").arg(signal == SIGTERM ? "SIGTERM" : "SIGINT"));
            break;
        }
        if (server.hasFailed()) {
            DevConsoleLog::write(QStringLiteral("the listening socket failed"));
            status = CannotListen;
            break;
        }
    }
    server.stop();
    DevConsoleLog::write(QStringLiteral("stopped"));
    return status;
}
