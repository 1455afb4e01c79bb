#include "ProcessManager.h"

#include "FileDescriptor.h"

#include <QDir>
#include <QFile>

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>

namespace {

// Through the system calls themselves: glibc 2.36's <sys/pidfd.h> declares its wrappers without C linkage
// for C++.
int openProcess(pid_t pid) {
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

bool sendSignal(int process, int signal) {
    return ::syscall(SYS_pidfd_send_signal, process, signal, nullptr, 0) == 0;
}

QByteArray readProcFile(pid_t pid, const char* name) {
    QFile file(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(name)));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return QByteArray();
    return file.readAll();
}

bool isNamed(pid_t pid, const QByteArray& name, uid_t uid) {
    QByteArray comm = readProcFile(pid, "comm");
    if (comm.endsWith('\n'))
        comm.chop(1);
    return comm == name && ProcessManager::realUserOf(pid) == static_cast<qint64>(uid);
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
        if (isNamed(pid, name, uid))
            matches.append(pid);
    }
    return matches;
}

bool ProcessManager::requestQuit(pid_t pid, const QByteArray& name, uid_t uid) {
    if (pid <= 0)
        return false;
    const FileDescriptor process(openProcess(pid));
    // Read after the descriptor was taken and while it still reaches a live process: what /proc said was
    // about that process, not about one that got its id after it ended.
    return process && isNamed(pid, name, uid) && sendSignal(process.get(), 0) && sendSignal(process.get(), SIGTERM);
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
