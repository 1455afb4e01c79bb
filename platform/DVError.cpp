#include "DVError.h"

#include <QStringList>

#include <cstring>

const QString DVError::POSIXDomain = QStringLiteral("NSPOSIXErrorDomain");
const QString DVError::URLDomain = QStringLiteral("NSURLErrorDomain");

DVError::DVError(QString domain, qint64 code, std::optional<QString> failureReason, std::optional<QString> description)
    : _domain(std::move(domain))
    , _code(code)
    , _failureReason(std::move(failureReason))
    , _description(std::move(description)) {}

DVError DVError::posixError(int errorNumber) {
    char buffer[256] = {};
    // The GNU strerror_r returns the text, which need not be the buffer.
    const char* text = ::strerror_r(errorNumber, buffer, sizeof buffer);
    return DVError(POSIXDomain, errorNumber, std::nullopt, QString::fromLocal8Bit(text));
}

QString DVError::localizedDescription() const {
    if (_description)
        return *_description;
    return QStringLiteral("The operation couldn\u2019t be completed. (%1 error %2.)")
        .arg(_domain, QString::number(_code));
}

QString DVError::fullDescription() const {
    // One pass, so that a "%1" inside a text is never taken for a place holder.
    QString text = QStringLiteral("Error Domain=%1 Code=%2 \"%3\"")
                       .arg(_domain, QString::number(_code), _description ? *_description : QStringLiteral("(null)"));
    QStringList entries;
    if (_failureReason)
        entries.append(QStringLiteral("NSLocalizedFailureReason=") + *_failureReason);
    if (_description)
        entries.append(QStringLiteral("NSLocalizedDescription=") + *_description);
    if (!entries.isEmpty())
        text += QStringLiteral(" UserInfo={%1}").arg(entries.join(QStringLiteral(", ")));
    return text;
}
