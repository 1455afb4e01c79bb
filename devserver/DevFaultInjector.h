#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QList>
#include <QString>

#include <mutex>
#include <optional>

struct DevFault {
    enum class Kind { Drop, Http500, Stall, InvalidUtf8, NonJson, Exception, Truncate };

    QString operation; // an operation name, or "*" for every operation
    Kind kind = Kind::Drop;
    int count = 1;      // requests still to be hit
    double seconds = 0; // stall
    QByteArray text;    // exception
};

// Faults scripted through the control endpoint. Each one hits the next `count` requests of its operation,
// in the order the faults were added; a request is hit by one fault at most.
class DevFaultInjector {
public:
    static QString kindName(DevFault::Kind kind);

    // One fault object or an array of them, e.g. {"op":"download","fault":"stall","seconds":3,"count":2}.
    // On a bad description nothing is added and the reason is in problem.
    bool add(const QByteArray& json, QString* problem);

    // The fault that hits this request of the operation, if any; it is counted at once.
    std::optional<DevFault> take(const QString& operation);

    QJsonArray pending() const;
    void clear();

private:
    static std::optional<DevFault> parseFault(const QJsonValue& value, QString* problem);

    mutable std::mutex _mutex;
    QList<DevFault> _faults;
};
