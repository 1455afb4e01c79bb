#include "PkexecRunner.h"

#include <QStandardPaths>

PkexecRunner::PkexecRunner(QObject* parent)
    : QObject(parent) {
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
    const QString pkexec = QStandardPaths::findExecutable(QStringLiteral("pkexec"));
    if (pkexec.isEmpty()) {
        finish(kNotStarted);
        return;
    }
    _process.setProgram(pkexec);
    _process.setArguments({program});
    _process.setStandardInputFile(QProcess::nullDevice());
    _process.setProcessChannelMode(QProcess::ForwardedChannels);
    _process.start();
}

void PkexecRunner::finish(int status) {
    if (auto done = std::exchange(_done, nullptr))
        done(status);
}
