#pragma once

#include <QByteArray>
#include <QString>

#include <mutex>

// One JSON object per line and request, {"method":…,"path":…,"body":…} with the path as sent (query
// included) and the body as text, each line written whole and at once so that a test may read the file
// while the server runs. The file holds credentials (the login's auth value), so only its owner may read it.
class DevRequestLog {
public:
    DevRequestLog() = default;
    ~DevRequestLog();
    DevRequestLog(const DevRequestLog&) = delete;
    DevRequestLog& operator=(const DevRequestLog&) = delete;

    // Appends to the file, creating it when needed.
    bool open(const QString& path, QString* problem);
    bool isOpen() const { return _fd >= 0; }

    void record(const QByteArray& method, const QByteArray& target, const QByteArray& body);

private:
    std::mutex _mutex;
    int _fd = -1;
};
