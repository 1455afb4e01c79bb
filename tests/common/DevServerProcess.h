#pragma once

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>

// Runs build/bin/docuvane-devserver for a test: starts it on a free loopback port, reads the port from its
// first line and stops it with SIGTERM. Its standard error goes to a file, which a failing test can show.
class DevServerProcess {
public:
    ~DevServerProcess() {
        if (_process.state() != QProcess::NotRunning) {
            _process.kill();
            _process.waitForFinished();
        }
    }

    static QString executable() {
        return qEnvironmentVariable("DV_BUILD_DIR") + QStringLiteral("/bin/docuvane-devserver");
    }

    // True once the server has announced its port.
    bool start(const QStringList& arguments) {
        _port = 0;
        _process.setStandardErrorFile(_logDir.filePath(QStringLiteral("stderr-%1.txt").arg(++_starts)));
        _process.start(executable(), arguments);
        if (!_process.waitForStarted())
            return false;
        QByteArray firstLine;
        while (!firstLine.contains('\n') && _process.waitForReadyRead(30000))
            firstLine += _process.readAllStandardOutput();
        static const QRegularExpression announcement(QStringLiteral("^listening on http://127\\.0\\.0\\.1:(\\d+)\\n"));
        const QRegularExpressionMatch match = announcement.match(QString::fromUtf8(firstLine));
        if (match.hasMatch())
            _port = match.captured(1).toInt();
        return _port > 0;
    }

    // Sends SIGTERM; true when the server then ended on its own with status 0.
    bool stop() {
        _process.terminate();
        return _process.waitForFinished(30000) && _process.exitStatus() == QProcess::NormalExit &&
               _process.exitCode() == 0;
    }

    int port() const { return _port; }
    QString baseUrl() const { return QStringLiteral("http://127.0.0.1:%1").arg(_port); }
    QProcess& process() { return _process; }

    // What the server wrote on standard error since its last start.
    QString errorOutput() const {
        QFile file(_logDir.filePath(QStringLiteral("stderr-%1.txt").arg(_starts)));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

private:
    QTemporaryDir _logDir;
    QProcess _process;
    int _port = 0;
    int _starts = 0;
};
