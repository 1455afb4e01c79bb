#pragma once

#include "DVError.h"

#include <QByteArray>
#include <QByteArrayView>

#include <functional>
#include <memory>
#include <optional>

// One HTTP request.
struct URLRequest {
    // The URL as text, sent byte for byte (ASCII). Only http and https are accepted.
    QByteArray url;
    // "GET" or "POST".
    QByteArray httpMethod = QByteArrayLiteral("GET");
    // The body of a POST, sent as given with the client's default content type for a body,
    // "application/x-www-form-urlencoded".
    QByteArray httpBody;
    // The longest time the request may stay idle (no connection made, nothing received) before it fails
    // with a timed-out error; the session's own limits (URLSession::TransferLimits) apply as well, and
    // the shorter one counts.
    int timeoutInterval = 60;
    // For a data task: the largest reply body accepted; a longer one fails with
    // URLErrorDataLengthExceedsMaximum as soon as it is known to be longer. 0: no limit.
    qint64 maxBodySize = 0;

    static URLRequest get(const QByteArray& url) { return {url, QByteArrayLiteral("GET"), {}, 60, 0}; }
    static URLRequest post(const QByteArray& url, const QByteArray& body) {
        return {url, QByteArrayLiteral("POST"), body, 60, 0};
    }
};

// A request handed to the session. It is sent once resume() has been called.
class URLSessionTask {
public:
    virtual ~URLSessionTask() = default;
    // Sends the request. Later calls do nothing.
    virtual void resume() = 0;
    // Stops the request; its completion then reports the cancelled error (URLErrorCancelled).
    virtual void cancel() = 0;
};

// The process's HTTP client: one background thread (the HTTP thread) drives every request over libcurl.
// Every request has a connect timeout and a low-speed limit, a data task also a deadline, so that a
// service that stops or trickles is given up (see TransferLimits); the error is URLErrorTimedOut.
// Redirects are followed (http and https only); TLS certificates and host names are always verified;
// a failed request is never sent again; nothing is cached and no header of our own is added.
// Completions run on the HTTP thread, one at a time: a completion that blocks holds up the other
// requests' completions (not their transfers' start).
class URLSession {
public:
    // What keeps a request from hanging, for every request of the process. A data task (a reply kept in
    // memory) must also end within its deadline; a streamed one (a document of any size) has none, and
    // ends when it stalls.
    struct TransferLimits {
        int connectSeconds = 30;           // to make the connection
        int lowSpeedBytesPerSecond = 100;  // a transfer slower than this ...
        int lowSpeedSeconds = 60;          // ... for this long is abandoned
        int dataTaskDeadlineSeconds = 110; // the whole of a data task, redirects included
    };
    static TransferLimits transferLimits();
    // For tests and tools: the limits for requests sent from now on.
    static void setTransferLimits(const TransferLimits& limits);
    // For tests: the PEM certificates that TLS peers are verified against from now on, instead of the
    // system's (a test server's own); empty restores the system's. Verification itself is always on.
    static void setTrustedCertificates(const QByteArray& pem);

    // The reply body (none after a transport failure, possibly empty otherwise), the HTTP status of the
    // final response (0 when none arrived) and the transport error (none when a response arrived,
    // whatever its status).
    using DataCompletion =
        std::function<void(const std::optional<QByteArray>& body, int httpStatus, const std::optional<DVError>& error)>;
    // Receives the reply body piece by piece on the HTTP thread, with the final response's status.
    // Returning false stops the transfer; its completion then reports URLErrorCannotWriteToFile.
    using BodySink = std::function<bool(int httpStatus, QByteArrayView chunk)>;
    // The end of a streamed request: status and transport error as for DataCompletion.
    using StreamCompletion = std::function<void(int httpStatus, const std::optional<DVError>& error)>;

    static URLSession& shared();

    // A request whose whole body is collected in memory and handed to the completion.
    std::shared_ptr<URLSessionTask> dataTask(const URLRequest& request, DataCompletion completion);
    // A request whose body goes to the sink as it arrives, so that memory stays flat for any size.
    std::shared_ptr<URLSessionTask> streamTask(const URLRequest& request, BodySink sink, StreamCompletion completion);

    // Whether the text is a well-formed absolute http or https URL that the session would send: ASCII
    // only, no blanks or other characters URLs cannot carry, "%" only before two hex digits, a host.
    static bool isValidURL(const QByteArray& url);

    // The transport error for a libcurl result (exposed for tests).
    static DVError errorForCurlCode(int curlCode, const QString& detail);

    URLSession(const URLSession&) = delete;
    URLSession& operator=(const URLSession&) = delete;

    class Engine;

private:
    URLSession();
    ~URLSession() = default;

    Engine* _engine;
};
