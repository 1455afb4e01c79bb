#include "DevConsoleLog.h"

#include <QTime>

#include <unistd.h>

#include <cerrno>
#include <mutex>

void DevConsoleLog::write(const QString& message) {
    static std::mutex lineLock;
    // The local time passes through the C library's time-zone state, whose own lock the thread sanitizer
    // cannot see: it is read under ours.
    std::lock_guard lock(lineLock);
    const QString time = QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz"));
    writeFully(STDERR_FILENO, (time + QLatin1Char(' ') + message + QLatin1Char('\n')).toUtf8());
}

void DevConsoleLog::writeFully(int fd, const QByteArray& bytes) {
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, static_cast<size_t>(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        data += written;
        left -= written;
    }
}
