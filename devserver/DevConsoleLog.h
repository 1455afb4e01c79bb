#pragma once

#include <QByteArray>
#include <QString>

// The server's account of its work on standard error: one line per call, "HH:mm:ss.zzz message", written
// whole so that lines from concurrent requests never interleave.
class DevConsoleLog {
public:
    static void write(const QString& message);

    // Writes all of the bytes, going on after interruptions; gives up silently when the file refuses them.
    static void writeFully(int fd, const QByteArray& bytes);
};
