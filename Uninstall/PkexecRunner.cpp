#include "PkexecRunner.h"

#include "TrustedPath.h"

#include <QFileInfo>

PkexecRunner::PkexecRunner(QString pkexec, QObject* parent)
    : QObject(parent)
    , _pkexec(std::move(pkexec)) {
    connect(&_process, &QProcess::finished, this, [this](int exitCode, QProcess::ExitStatus exitStatus) {
        finish(exitStatus == QProcess::NormalExit ? exitCode : kNotStarted);
    });
    connect(&_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            finish(kNotStarted);
    });
}

void PkexecRunner::run(const QString& program, std::function<void(int status)> done) {
    _done = std::move(done);
    _process.setProgram(_pkexec);
    _process.setArguments({program});
    _process.setStandardInputFile(QProcess::nullDevice());
    _process.setProcessChannelMode(QProcess::ForwardedChannels);
    _process.start();
}

bool PkexecRunner::mayRun(const QString& program) const {
    return TrustedPath::isTrustedFile(program, nullptr);
}

void PkexecRunner::finish(int status) {
    if (auto done = std::exchange(_done, nullptr))
        done(status);
}
