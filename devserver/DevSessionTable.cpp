#include "DevSessionTable.h"

#include <QRandomGenerator>

DevSessionTable::DevSessionTable(std::chrono::milliseconds timeToLive, Clock clock)
    : _timeToLive(timeToLive)
    , _clock(std::move(clock)) {}

QByteArray DevSessionTable::open() {
    quint32 words[4];
    QRandomGenerator::system()->fillRange(words);
    const QByteArray ticket = QByteArray(reinterpret_cast<const char*>(words), sizeof words).toHex();
    Session session;
    session.expiry = _timeToLive.count() > 0 ? _clock() + _timeToLive : std::chrono::steady_clock::time_point::max();
    std::lock_guard lock(_mutex);
    _sessions.insert(ticket, session);
    return ticket;
}

DevSessionTable::Status DevSessionTable::check(const QByteArray& ticket) const {
    std::lock_guard lock(_mutex);
    const auto found = _sessions.constFind(ticket);
    if (found == _sessions.constEnd())
        return Status::Unknown;
    if (found->ended || _clock() >= found->expiry)
        return Status::Expired;
    return Status::Valid;
}

bool DevSessionTable::close(const QByteArray& ticket) {
    const Status status = check(ticket);
    std::lock_guard lock(_mutex);
    const auto found = _sessions.find(ticket);
    if (found != _sessions.end())
        found->ended = true;
    return status == Status::Valid;
}

void DevSessionTable::expireAll() {
    std::lock_guard lock(_mutex);
    for (Session& session : _sessions)
        session.ended = true;
}
