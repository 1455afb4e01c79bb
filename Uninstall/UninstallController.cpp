#include "UninstallController.h"

#include <QFile>
#include <QProcess>

#include <fcntl.h>
#include <unistd.h>

UninstallController::UninstallController(QString bundlePath, std::unique_ptr<PrivilegedRunner> runner, QObject* parent)
    : QObject(parent)
    , _bundlePath(std::move(bundlePath))
    , _runner(std::move(runner)) {}

UninstallController::~UninstallController() {
    if (_toolFile >= 0)
        ::close(_toolFile);
}

void UninstallController::okButton() {
    runUninstallUtility();
}

void UninstallController::cancelButton() {
    if (!_running)
        emit finished(0);
}

void UninstallController::runUninstallUtility() {
    if (_running)
        return; // one run per click of OK, however often it is clicked
    _running = true;
    _toolFile = ::open(QFile::encodeName(toolPath()).constData(), O_RDONLY | O_CLOEXEC);
    // An installation that is not the administrator's alone (a copy in the user's home, say) is the
    // user's to remove: no administrator rights are asked for it.
    if (!_runner->mayRun(toolPath())) {
        startAsUser();
        emit finished(0);
        return;
    }
    _runner->run(toolPath(), [this](int status) { privilegedRunFinished(status); });
}

void UninstallController::privilegedRunFinished(int status) {
    // A dismissed or refused password request: nothing more is started.
    if (PrivilegedRunner::ran(status))
        startAsUser();
    emit finished(0);
}

void UninstallController::startAsUser() {
    QProcess process;
    int inherited = -1;
    if (_toolFile >= 0 && (inherited = ::dup(_toolFile)) >= 0) // a duplicate is inherited by the child
        process.setProgram(QStringLiteral("/proc/self/fd/%1").arg(inherited));
    else
        process.setProgram(toolPath());
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.startDetached();
    if (inherited >= 0)
        ::close(inherited);
}
