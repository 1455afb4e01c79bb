#pragma once

#include <QByteArray>
#include <QList>

#include <sys/types.h>

// The running processes as /proc lists them.
class ProcessManager {
public:
    // The processes, in ascending process-id order, whose name (/proc/PID/comm, the first 15 bytes of the
    // program's file name) equals name exactly and whose real user is uid. Processes that end while they
    // are read are passed over.
    static QList<pid_t> processesNamed(const QByteArray& name, uid_t uid);

    // The standard request to quit, sent only while the process still has that name and real user: it is
    // held through a process descriptor from the check to the signal, so a process id taken over by
    // another process in between is never signalled. False when the process could not be signalled.
    static bool requestQuit(pid_t pid, const QByteArray& name, uid_t uid);

    // The real user of a process, read from /proc/PID/status; -1 when it cannot be read.
    static qint64 realUserOf(pid_t pid);
};
