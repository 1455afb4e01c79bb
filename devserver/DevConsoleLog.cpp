#include "DevConsoleLog.h"

#include <QTime>

#include <unistd.h>

#include <cerrno>
#include <mutex>

void DevConsoleLog::write(const QString& message) {
    static std::mutex lineLock;
    const QString time = QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz"));
    const QByteArray line = (time + QLatin1Char(' ') + message + QLatin1Char('\n')).toUtf8();
    std::lock_guard lock(lineLock);
    writeFully(STDERR_FILENO, line);
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
