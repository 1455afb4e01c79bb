#include "DevRequestLog.h"

#include "DevConsoleLog.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

DevRequestLog::~DevRequestLog() {
    if (_fd >= 0)
        ::close(_fd);
}

bool DevRequestLog::open(const QString& path, QString* problem) {
    _fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (_fd >= 0)
        return true;
    if (problem)
        *problem =
            QStringLiteral("cannot open the request log %1: %2").arg(path, QString::fromLocal8Bit(strerror(errno)));
    return false;
}

void DevRequestLog::record(const QByteArray& method, const QByteArray& target, const QByteArray& body) {
    if (_fd < 0)
        return;
    const QJsonObject entry{{QStringLiteral("method"), QString::fromUtf8(method)},
                            {QStringLiteral("path"), QString::fromUtf8(target)},
                            {QStringLiteral("body"), QString::fromUtf8(body)}};
    const QByteArray line = QJsonDocument(entry).toJson(QJsonDocument::Compact) + '\n';
    std::lock_guard lock(_mutex);
    DevConsoleLog::writeFully(_fd, line);
}
