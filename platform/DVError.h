#pragma once

#include <QString>

#include <optional>

// An error record: a domain, an integer code and two optional texts, the failure reason (a short
// classification such as the service's exception name) and the description (the message shown to
// people). Absent and empty texts are kept apart: a reply "X:" gives an empty description, a reply "X"
// none at all.
class DVError {
public:
    // Domains of the records made below the service layer.
    static const QString POSIXDomain; // file-system failures: code = errno
    static const QString URLDomain;   // transport failures of the HTTP session: code = the URL error code

    // URL error codes (the values every HTTP client of the platform family reports).
    enum URLErrorCode : qint64 {
        URLErrorUnknown = -1,
        URLErrorCancelled = -999,
        URLErrorBadURL = -1000,
        URLErrorTimedOut = -1001,
        URLErrorUnsupportedURL = -1002,
        URLErrorCannotFindHost = -1003,
        URLErrorCannotConnectToHost = -1004,
        URLErrorNetworkConnectionLost = -1005,
        URLErrorHTTPTooManyRedirects = -1007,
        URLErrorBadServerResponse = -1011,
        URLErrorDataLengthExceedsMaximum = -1103,
        URLErrorSecureConnectionFailed = -1200,
        URLErrorCannotWriteToFile = -3003,
    };

    DVError(QString domain, qint64 code, std::optional<QString> failureReason = std::nullopt,
            std::optional<QString> description = std::nullopt);

    // A file-system record for an errno value, with the system's text as description.
    static DVError posixError(int errorNumber);

    const QString& domain() const { return _domain; }
    qint64 code() const { return _code; }
    const std::optional<QString>& failureReason() const { return _failureReason; }
    const std::optional<QString>& description() const { return _description; }

    // The failure reason, or a null QString when there is none.
    QString localizedFailureReason() const { return _failureReason.value_or(QString()); }
    // The description, or the generic text "The operation couldn’t be completed. (<domain> error <code>.)".
    QString localizedDescription() const;

    // Error Domain=<domain> Code=<code> "<description or (null)>" UserInfo={NSLocalizedFailureReason=…,
    // NSLocalizedDescription=…}; the UserInfo part is left out when both texts are absent.
    QString fullDescription() const;

    bool operator==(const DVError& other) const = default;

private:
    QString _domain;
    qint64 _code;
    std::optional<QString> _failureReason;
    std::optional<QString> _description;
};
