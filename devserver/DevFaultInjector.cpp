#include "DevFaultInjector.h"

#include "DevProtocol.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace {

struct KindName {
    DevFault::Kind kind;
    const char* name;
};

constexpr KindName kKindNames[] = {
    {DevFault::Kind::Drop, "drop"},         {DevFault::Kind::Http500, "http500"},
    {DevFault::Kind::Stall, "stall"},       {DevFault::Kind::InvalidUtf8, "invalid-utf8"},
    {DevFault::Kind::NonJson, "non-json"},  {DevFault::Kind::Exception, "exception"},
    {DevFault::Kind::Truncate, "truncate"},
};

// Longer stalls than this are a typing error, not a test of a 60-second client timeout.
constexpr double kLongestStall = 3600;

} // namespace

QString DevFaultInjector::kindName(DevFault::Kind kind) {
    for (const KindName& entry : kKindNames) {
        if (entry.kind == kind)
            return QLatin1String(entry.name);
    }
    return QString();
}

std::optional<DevFault> DevFaultInjector::parseFault(const QJsonValue& value, QString* problem) {
    const auto fail = [&](const QString& reason) -> std::optional<DevFault> {
        *problem = reason;
        return std::nullopt;
    };
    if (!value.isObject())
        return fail(QStringLiteral("a fault must be a JSON object"));
    const QJsonObject object = value.toObject();
    static const QStringList known{QStringLiteral("op"), QStringLiteral("fault"), QStringLiteral("count"),
                                   QStringLiteral("seconds"), QStringLiteral("text")};
    for (const QString& key : object.keys()) {
        if (!known.contains(key))
            return fail(QStringLiteral("unknown member \"%1\"").arg(key));
    }

    DevFault fault;
    fault.operation = object.value(QStringLiteral("op")).toString();
    if (fault.operation != QLatin1String("*") && !DevProtocol::operations().contains(fault.operation))
        return fail(QStringLiteral("\"op\" must be one of %1 or \"*\"")
                        .arg(DevProtocol::operations().join(QStringLiteral(", "))));

    const QString kind = object.value(QStringLiteral("fault")).toString();
    bool knownKind = false;
    for (const KindName& entry : kKindNames) {
        if (kind == QLatin1String(entry.name)) {
            fault.kind = entry.kind;
            knownKind = true;
        }
    }
    if (!knownKind)
        return fail(QStringLiteral("\"fault\" must be one of drop, http500, stall, invalid-utf8, non-json, "
                                   "exception, truncate"));

    const QJsonValue count = object.value(QStringLiteral("count"));
    if (!count.isUndefined()) {
        const qint64 number = count.toInteger(-1);
        if (number < 1 || number > 1000000)
            return fail(QStringLiteral("\"count\" must be a whole number from 1 to 1000000"));
        fault.count = static_cast<int>(number);
    }

    const QJsonValue seconds = object.value(QStringLiteral("seconds"));
    if (fault.kind == DevFault::Kind::Stall) {
        fault.seconds = seconds.toDouble(-1);
        if (!seconds.isDouble() || !std::isfinite(fault.seconds) || fault.seconds <= 0 || fault.seconds > kLongestStall)
            return fail(QStringLiteral("a stall needs \"seconds\", more than 0 and at most 3600"));
    } else if (!seconds.isUndefined()) {
        return fail(QStringLiteral("\"seconds\" belongs to a stall only"));
    }

    const QJsonValue text = object.value(QStringLiteral("text"));
    if (fault.kind == DevFault::Kind::Exception) {
        fault.text = text.isUndefined() ? DevProtocol::exceptionReply(DevProtocol::unexpectedException(),
                                                                      QStringLiteral("Injected failure"))
                                        : text.toString().toUtf8();
        if (!text.isUndefined() && !text.isString())
            return fail(QStringLiteral("\"text\" must be a string"));
    } else if (!text.isUndefined()) {
        return fail(QStringLiteral("\"text\" belongs to an exception only"));
    }
    return fault;
}

bool DevFaultInjector::add(const QByteArray& json, QString* problem) {
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        *problem = QStringLiteral("not JSON: %1").arg(parseError.errorString());
        return false;
    }
    const QJsonArray descriptions = document.isArray() ? document.array() : QJsonArray{document.object()};
    QList<DevFault> faults;
    for (const QJsonValue& description : descriptions) {
        const std::optional<DevFault> fault = parseFault(description, problem);
        if (!fault)
            return false;
        faults.append(*fault);
    }
    std::lock_guard lock(_mutex);
    _faults.append(faults);
    return true;
}

std::optional<DevFault> DevFaultInjector::take(const QString& operation) {
    std::lock_guard lock(_mutex);
    for (qsizetype i = 0; i < _faults.size(); ++i) {
        DevFault& fault = _faults[i];
        if (fault.operation != operation && fault.operation != QLatin1String("*"))
            continue;
        DevFault hit = fault;
        if (--fault.count == 0)
            _faults.removeAt(i);
        hit.count = 1;
        return hit;
    }
    return std::nullopt;
}

QJsonArray DevFaultInjector::pending() const {
    std::lock_guard lock(_mutex);
    QJsonArray list;
    for (const DevFault& fault : _faults) {
        QJsonObject object{{QStringLiteral("op"), fault.operation},
                           {QStringLiteral("fault"), kindName(fault.kind)},
                           {QStringLiteral("count"), fault.count}};
        if (fault.kind == DevFault::Kind::Stall)
            object.insert(QStringLiteral("seconds"), fault.seconds);
        if (fault.kind == DevFault::Kind::Exception)
            object.insert(QStringLiteral("text"), QString::fromUtf8(fault.text));
        list.append(object);
    }
    return list;
}

void DevFaultInjector::clear() {
    std::lock_guard lock(_mutex);
    _faults.clear();
}
