#include "ProcessManager.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <csignal>

namespace {

QByteArray readProcFile(pid_t pid, const char* name) {
    QFile file(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(name)));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return QByteArray();
    return file.readAll();
}

} // namespace

QList<pid_t> ProcessManager::processesNamed(const QByteArray& name, uid_t uid) {
    QList<pid_t> pids;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool numeric = false;
        const uint pid = entry.toUInt(&numeric);
        if (numeric && pid > 0)
            pids.append(static_cast<pid_t>(pid));
    }
    std::sort(pids.begin(), pids.end());

    QList<pid_t> matches;
    for (const pid_t pid : pids) {
        QByteArray comm = readProcFile(pid, "comm");
        if (comm.endsWith('\n'))
            comm.chop(1);
        if (comm == name && realUserOf(pid) == static_cast<qint64>(uid))
            matches.append(pid);
    }
    return matches;
}

bool ProcessManager::requestQuit(pid_t pid) {
    return pid > 0 && ::kill(pid, SIGTERM) == 0;
}

qint64 ProcessManager::realUserOf(pid_t pid) {
    const QByteArray status = readProcFile(pid, "status");
    for (const QByteArray& line : status.split('\n')) {
        if (!line.startsWith("Uid:"))
            continue;
        const QList<QByteArray> fields = line.mid(4).simplified().split(' ');
        bool ok = false;
        const qint64 uid = fields.value(0).toLongLong(&ok);
        return ok ? uid : -1;
    }
    return -1;
}
