#pragma once

#include <QByteArray>
#include <QHash>

#include <chrono>
#include <functional>
#include <mutex>

// The session tickets handed out by logins. A ticket lives for the time-to-live from its login (forever
// when that is zero) or until its logout; an ended ticket is remembered so that it can be told apart
// from one that was never issued.
class DevSessionTable {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    enum class Status { Valid, Expired, Unknown };

    explicit DevSessionTable(std::chrono::milliseconds timeToLive, Clock clock = &std::chrono::steady_clock::now);

    // A fresh ticket: 32 lowercase hexadecimal digits from the system's random source.
    QByteArray open();
    Status check(const QByteArray& ticket) const;
    // True when the ticket was valid.
    bool close(const QByteArray& ticket);
    void expireAll();

private:
    struct Session {
        std::chrono::steady_clock::time_point expiry;
        bool ended = false;
    };

    const std::chrono::milliseconds _timeToLive;
    const Clock _clock;
    mutable std::mutex _mutex;
    QHash<QByteArray, Session> _sessions;
};
