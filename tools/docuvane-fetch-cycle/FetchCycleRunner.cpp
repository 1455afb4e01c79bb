#include "FetchCycleRunner.h"

#include "ClientSettings.h"
#include "DVAccountInfoOperation.h"
#include "DVDocumentWriter.h"
#include "DVLoginOperation.h"
#include "MainThread.h"
#include "QuitSignals.h"
#include "UserNotificationCenter.h"

#include <cstdio>

namespace {

QString failureText(const DVError& error) {
    const QString reason = error.localizedFailureReason();
    const QString description = error.localizedDescription();
    return reason.isEmpty() ? description : QStringLiteral("%1: %2").arg(reason, description);
}

void printLine(const QString& line, FILE* stream) {
    std::fprintf(stream, "%s\n", line.toUtf8().constData());
    std::fflush(stream);
}

} // namespace

FetchCycleRunner::FetchCycleRunner()
    : _services(this, true) {
    connect(&_services, &DVFetchWebServices::documentDownloaded, this,
            [this](const QVariantMap&, bool succeeded) { ++(succeeded ? _downloaded : _failed); });
    // The user hears of a run as of the client's own cycles, but without a document to show: the runner
    // is gone before anyone could click. Handed over at once, so that the wait before the exit sees each.
    connect(
        &_services, &DVFetchWebServices::notificationReported, this,
        [](const QString& title, const QString& informativeText) {
            UserNotificationCenter::defaultUserNotificationCenter().deliverNotification({title, informativeText});
        },
        Qt::DirectConnection);
}

int FetchCycleRunner::run() {
    _clock.start();
    const ClientSettings& settings = ClientSettings::shared();
    const QString email = settings.email();
    const QString password = _services.password();
    if (email.isEmpty() || password.isEmpty()) {
        printLine(QStringLiteral("no account configured"), stderr);
        return 1;
    }

    if (!settings.contains(ClientSettings::Key::Ticket)) {
        _services.accountInfo(email, password);
        waitForQueue();
        if (QuitSignals::lastSignal() != 0)
            return stopped();
        if (const QString problem = chainProblem(); !problem.isNull()) {
            printLine(problem, stderr);
            return 1;
        }
    }

    _accountChecked = false;
    _services.fire(true);
    waitForQueue();
    if (QuitSignals::lastSignal() != 0)
        return stopped();
    if (const QString problem = chainProblem(); !problem.isNull()) {
        printLine(problem, stderr);
        return 1;
    }

    // Only a list that arrived may be counted: a failed list step is no "documents=0".
    const std::optional<QVariantMap> list = _services.fileList();
    if (!list) {
        const std::optional<DVError> error = _services.listError();
        printLine(QStringLiteral("document list failed: %1")
                      .arg(error ? failureText(*error) : QStringLiteral("no list from the service")),
                  stderr);
        return 1;
    }
    const qsizetype documents = list->value(QStringLiteral("documents")).toList().size();
    printLine(QStringLiteral("documents=%1 downloaded=%2 failed=%3 seconds=%4")
                  .arg(documents)
                  .arg(_downloaded)
                  .arg(_failed)
                  .arg(double(_clock.nsecsElapsed()) / 1e9, 0, 'f', 3),
              stdout);
    return 0;
}

void FetchCycleRunner::waitForQueue() {
    // A quit signal ends every event loop of the main thread, this one included.
    if (_services.queue().operationCount() != 0 && QuitSignals::lastSignal() == 0)
        _loop.exec();
}

int FetchCycleRunner::stopped() {
    _services.stop();
    // Whatever a step still running had begun to write goes too: the process is about to end.
    DVDocumentWriter::abandonAll();
    printLine(QStringLiteral("stopped by %1").arg(QuitSignals::signalName()), stderr);
    return QuitSignals::exitStatus();
}

void FetchCycleRunner::checkForDocumentsFinished() {
    // Arrives on the thread where the queue emptied.
    MainThread::perform([this] { _loop.quit(); });
}

void FetchCycleRunner::loginComplete(const std::shared_ptr<DVLoginOperation>& operation) {
    const std::optional<DVError> error = operation->error();
    _loginFailure = error ? failureText(*error) : QString();
}

void FetchCycleRunner::accountInfoComplete(const std::shared_ptr<DVAccountInfoOperation>& operation) {
    // The last answer counts: an expired ticket is answered again after the coordinator's new login.
    _accountChecked = true;
    if (const std::optional<DVError> error = operation->error()) {
        _accountFailure = QStringLiteral("account check failed: %1").arg(failureText(*error));
        return;
    }
    const QVariant destination =
        operation->accountInfo().value_or(QVariantMap()).value(QStringLiteral("destinationId"));
    if (destination.toLongLong() != 2) {
        _accountFailure = QStringLiteral("the account's delivery destination is not this desktop client "
                                         "(destinationId=%1)")
                              .arg(destination.isValid() ? destination.toString() : QStringLiteral("missing"));
        return;
    }
    _accountFailure.clear();
}

QString FetchCycleRunner::chainProblem() const {
    if (!_loginFailure.isEmpty())
        return QStringLiteral("login failed: %1").arg(_loginFailure);
    if (!_accountChecked)
        return QStringLiteral("account check failed: no reply from the service");
    return _accountFailure.isEmpty() ? QString() : _accountFailure;
}
