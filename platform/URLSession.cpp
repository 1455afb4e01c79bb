#include "URLSession.h"

#include <QtDebug>

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

namespace {

constexpr long kMaxRedirects = 16;

std::mutex g_limitsMutex;
URLSession::TransferLimits g_limits;

URLSession::TransferLimits currentLimits() {
    std::lock_guard lock(g_limitsMutex);
    return g_limits;
}

QByteArray g_trustedCertificates; // guarded by g_limitsMutex

QByteArray trustedCertificates() {
    std::lock_guard lock(g_limitsMutex);
    return g_trustedCertificates;
}

long shorter(long a, long b) {
    if (a <= 0)
        return b;
    if (b <= 0)
        return a;
    return std::min(a, b);
}

bool isURLCharacter(char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    // unreserved, general delimiters and sub-delimiters; "%" is checked with its digits
    return QByteArrayView("-._~:/?#[]@!$&'()*+,;=").contains(c);
}

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool hasHTTPScheme(const QByteArray& url) {
    const QByteArray lower = url.left(8).toLower();
    return lower.startsWith("http://") || lower.startsWith("https://");
}

} // namespace

class Transfer;

// The HTTP thread and its libcurl multi handle. Requests reach it through a locked list and a wake-up.
class URLSession::Engine {
public:
    Engine();
    void submit(const std::shared_ptr<Transfer>& transfer);
    void cancel(const std::shared_ptr<Transfer>& transfer);

private:
    void loop();
    void begin(const std::shared_ptr<Transfer>& transfer);
    void end(CURL* easy, CURLcode result);

    CURLM* _multi = nullptr;
    std::mutex _mutex;
    std::deque<std::shared_ptr<Transfer>> _incoming;
    std::deque<std::shared_ptr<Transfer>> _cancelled;
    std::map<CURL*, std::shared_ptr<Transfer>> _active; // HTTP thread only
};

class Transfer : public URLSessionTask, public std::enable_shared_from_this<Transfer> {
public:
    Transfer(URLSession::Engine* engine, URLRequest request)
        : _engine(engine)
        , _request(std::move(request)) {}

    ~Transfer() override {
        if (_headers)
            curl_slist_free_all(_headers);
        if (_easy)
            curl_easy_cleanup(_easy);
    }

    void resume() override {
        if (_resumed.exchange(true))
            return;
        _engine->submit(shared_from_this());
    }

    void cancel() override {
        if (_cancelRequested.exchange(true))
            return;
        if (_resumed.load())
            _engine->cancel(shared_from_this());
    }

    bool cancelRequested() const { return _cancelRequested.load(); }

    // HTTP thread from here on.

    // Prepares the libcurl handle; an error when the request cannot be sent at all.
    std::optional<DVError> prepare() {
        if (!hasHTTPScheme(_request.url))
            return DVError(DVError::URLDomain, DVError::URLErrorUnsupportedURL, std::nullopt,
                           QStringLiteral("unsupported URL"));
        if (!URLSession::isValidURL(_request.url))
            return DVError(DVError::URLDomain, DVError::URLErrorBadURL, std::nullopt, QStringLiteral("bad URL"));
        _easy = curl_easy_init();
        if (!_easy)
            return DVError(DVError::URLDomain, DVError::URLErrorUnknown, std::nullopt,
                           QStringLiteral("The HTTP client could not be set up."));
        const URLSession::TransferLimits limits = currentLimits();
        const long idle = _request.timeoutInterval > 0 ? _request.timeoutInterval : 60;
        curl_easy_setopt(_easy, CURLOPT_URL, _request.url.constData());
        curl_easy_setopt(_easy, CURLOPT_PATH_AS_IS, 1L);
        curl_easy_setopt(_easy, CURLOPT_PROTOCOLS_STR, "http,https");
        // Once on TLS, a redirect may not leave it: the request (a ticket, the update feed) would go out
        // readable and come back alterable by anyone on the way.
        const bool secure = _request.url.left(6).toLower() == "https:";
        curl_easy_setopt(_easy, CURLOPT_REDIR_PROTOCOLS_STR, secure ? "https" : "http,https");
        curl_easy_setopt(_easy, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(_easy, CURLOPT_MAXREDIRS, kMaxRedirects);
        curl_easy_setopt(_easy, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(_easy, CURLOPT_SSL_VERIFYHOST, 2L);
        if (const QByteArray trusted = trustedCertificates(); !trusted.isEmpty()) {
            curl_blob blob{const_cast<char*>(trusted.constData()), size_t(trusted.size()), CURL_BLOB_COPY};
            curl_easy_setopt(_easy, CURLOPT_CAINFO_BLOB, &blob);
        }
        curl_easy_setopt(_easy, CURLOPT_NOSIGNAL, 1L);
        // No connection in time, too few bytes for too long, or (in memory) too long in all: given up.
        curl_easy_setopt(_easy, CURLOPT_CONNECTTIMEOUT, shorter(idle, limits.connectSeconds));
        curl_easy_setopt(_easy, CURLOPT_LOW_SPEED_LIMIT, std::max(1L, long(limits.lowSpeedBytesPerSecond)));
        curl_easy_setopt(_easy, CURLOPT_LOW_SPEED_TIME, shorter(idle, limits.lowSpeedSeconds));
        if (!_sink && limits.dataTaskDeadlineSeconds > 0)
            curl_easy_setopt(_easy, CURLOPT_TIMEOUT, long(limits.dataTaskDeadlineSeconds));
        if (!_sink && _request.maxBodySize > 0)
            curl_easy_setopt(_easy, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(_request.maxBodySize));
        curl_easy_setopt(_easy, CURLOPT_ERRORBUFFER, _errorText);
        curl_easy_setopt(_easy, CURLOPT_WRITEFUNCTION, &Transfer::write);
        curl_easy_setopt(_easy, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(_easy, CURLOPT_PRIVATE, this);
        // libcurl would add "Expect: 100-continue" to larger bodies; this only suppresses it.
        _headers = curl_slist_append(nullptr, "Expect:");
        curl_easy_setopt(_easy, CURLOPT_HTTPHEADER, _headers);
        if (_request.httpMethod == "POST") {
            curl_easy_setopt(_easy, CURLOPT_POST, 1L);
            curl_easy_setopt(_easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(_request.httpBody.size()));
            curl_easy_setopt(_easy, CURLOPT_COPYPOSTFIELDS, _request.httpBody.constData());
        } else if (_request.httpMethod != "GET") {
            curl_easy_setopt(_easy, CURLOPT_CUSTOMREQUEST, _request.httpMethod.constData());
        }
        return std::nullopt;
    }

    CURL* easy() const { return _easy; }

    void complete(CURLcode result) {
        long status = 0;
        if (_easy)
            curl_easy_getinfo(_easy, CURLINFO_RESPONSE_CODE, &status);
        std::optional<DVError> error;
        if (result == CURLE_WRITE_ERROR && _sinkRefused)
            error = DVError(DVError::URLDomain, DVError::URLErrorCannotWriteToFile, std::nullopt,
                            QStringLiteral("cannot write file"));
        else if ((result == CURLE_WRITE_ERROR && _tooLarge) || result == CURLE_FILESIZE_EXCEEDED)
            error = tooLargeError();
        else if (result != CURLE_OK)
            error = URLSession::errorForCurlCode(result, QString::fromUtf8(_errorText));
        deliver(static_cast<int>(status), error);
    }

    void deliver(int status, const std::optional<DVError>& error) {
        try {
            if (_sink) {
                if (_streamCompletion)
                    _streamCompletion(status, error);
            } else if (_dataCompletion) {
                _dataCompletion(error ? std::nullopt : std::optional<QByteArray>(_body), status, error);
            }
        } catch (...) {
            qWarning("URLSession: an exception left a completion handler");
        }
        // What the handlers hold is let go on the HTTP thread, now.
        _dataCompletion = nullptr;
        _streamCompletion = nullptr;
        _sink = nullptr;
        _body.clear();
    }

    URLSession::DataCompletion _dataCompletion;
    URLSession::BodySink _sink;
    URLSession::StreamCompletion _streamCompletion;

private:
    DVError tooLargeError() const {
        return DVError(DVError::URLDomain, DVError::URLErrorDataLengthExceedsMaximum,
                       QStringLiteral("The reply is longer than %1 bytes.").arg(_request.maxBodySize),
                       QStringLiteral("The service's answer is too long."));
    }

    static size_t write(char* data, size_t size, size_t count, void* self) {
        auto* transfer = static_cast<Transfer*>(self);
        const size_t length = size * count;
        if (transfer->_sink) {
            long status = 0;
            curl_easy_getinfo(transfer->_easy, CURLINFO_RESPONSE_CODE, &status);
            bool accepted = false;
            try {
                accepted =
                    transfer->_sink(static_cast<int>(status), QByteArrayView(data, static_cast<qsizetype>(length)));
            } catch (...) {
                qWarning("URLSession: an exception left a body sink");
            }
            if (!accepted) {
                transfer->_sinkRefused = true;
                return CURL_WRITEFUNC_ERROR;
            }
            return length;
        }
        const qint64 limit = transfer->_request.maxBodySize;
        if (limit > 0 && transfer->_body.size() + qint64(length) > limit) {
            // A length not announced up front is caught here, before memory grows past the limit.
            transfer->_tooLarge = true;
            return CURL_WRITEFUNC_ERROR;
        }
        transfer->_body.append(data, static_cast<qsizetype>(length));
        return length;
    }

    URLSession::Engine* _engine;
    URLRequest _request;
    CURL* _easy = nullptr;
    curl_slist* _headers = nullptr;
    char _errorText[CURL_ERROR_SIZE] = {};
    QByteArray _body;
    bool _sinkRefused = false;
    bool _tooLarge = false;
    std::atomic<bool> _resumed{false};
    std::atomic<bool> _cancelRequested{false};
};

URLSession::Engine::Engine() {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    _multi = curl_multi_init();
    std::thread([this] { loop(); }).detach();
}

void URLSession::Engine::submit(const std::shared_ptr<Transfer>& transfer) {
    {
        std::lock_guard lock(_mutex);
        _incoming.push_back(transfer);
    }
    curl_multi_wakeup(_multi);
}

void URLSession::Engine::cancel(const std::shared_ptr<Transfer>& transfer) {
    {
        std::lock_guard lock(_mutex);
        _cancelled.push_back(transfer);
    }
    curl_multi_wakeup(_multi);
}

void URLSession::Engine::begin(const std::shared_ptr<Transfer>& transfer) {
    if (transfer->cancelRequested()) {
        transfer->deliver(0, URLSession::errorForCurlCode(CURLE_ABORTED_BY_CALLBACK, QString()));
        return;
    }
    if (const std::optional<DVError> error = transfer->prepare()) {
        transfer->deliver(0, error);
        return;
    }
    if (curl_multi_add_handle(_multi, transfer->easy()) != CURLM_OK) {
        transfer->deliver(0, URLSession::errorForCurlCode(CURLE_FAILED_INIT, QString()));
        return;
    }
    _active.emplace(transfer->easy(), transfer);
}

void URLSession::Engine::end(CURL* easy, CURLcode result) {
    const auto found = _active.find(easy);
    if (found == _active.end())
        return;
    const std::shared_ptr<Transfer> transfer = found->second;
    _active.erase(found);
    curl_multi_remove_handle(_multi, easy);
    transfer->complete(result);
}

void URLSession::Engine::loop() {
    for (;;) {
        std::deque<std::shared_ptr<Transfer>> incoming;
        std::deque<std::shared_ptr<Transfer>> cancelled;
        {
            std::lock_guard lock(_mutex);
            incoming.swap(_incoming);
            cancelled.swap(_cancelled);
        }
        for (const auto& transfer : incoming)
            begin(transfer);
        for (const auto& transfer : cancelled) {
            // One not begun yet was answered by begin(); one done already is no longer active.
            if (transfer->easy())
                end(transfer->easy(), CURLE_ABORTED_BY_CALLBACK);
        }

        int running = 0;
        curl_multi_perform(_multi, &running);
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(_multi, &left)) {
            if (message->msg == CURLMSG_DONE)
                end(message->easy_handle, message->data.result);
        }
        curl_multi_poll(_multi, nullptr, 0, 1000, nullptr);
    }
}

URLSession::URLSession()
    : _engine(new Engine()) {}

URLSession::TransferLimits URLSession::transferLimits() {
    return currentLimits();
}

void URLSession::setTransferLimits(const TransferLimits& limits) {
    std::lock_guard lock(g_limitsMutex);
    g_limits = limits;
}

void URLSession::setTrustedCertificates(const QByteArray& pem) {
    std::lock_guard lock(g_limitsMutex);
    g_trustedCertificates = pem;
}

URLSession& URLSession::shared() {
    // Made once, under the language's initialisation lock; lives until the process ends, as its thread.
    static URLSession* session = new URLSession();
    return *session;
}

std::shared_ptr<URLSessionTask> URLSession::dataTask(const URLRequest& request, DataCompletion completion) {
    auto transfer = std::make_shared<Transfer>(_engine, request);
    transfer->_dataCompletion = std::move(completion);
    return transfer;
}

std::shared_ptr<URLSessionTask> URLSession::streamTask(const URLRequest& request, BodySink sink,
                                                       StreamCompletion completion) {
    auto transfer = std::make_shared<Transfer>(_engine, request);
    transfer->_sink = sink ? std::move(sink) : [](int, QByteArrayView) { return true; };
    transfer->_streamCompletion = std::move(completion);
    return transfer;
}

bool URLSession::isValidURL(const QByteArray& url) {
    if (!hasHTTPScheme(url))
        return false;
    // libcurl would take "http:///p" for host "p"; an empty authority is no URL of ours.
    const qsizetype authority = url.indexOf("://") + 3;
    if (authority >= url.size() || QByteArrayView("/?#").contains(url.at(authority)))
        return false;
    for (qsizetype i = 0; i < url.size(); ++i) {
        const char c = url.at(i);
        if (c == '%') {
            if (i + 2 >= url.size() || !isHexDigit(url.at(i + 1)) || !isHexDigit(url.at(i + 2)))
                return false;
            i += 2;
        } else if (!isURLCharacter(c)) {
            return false;
        }
    }
    CURLU* parsed = curl_url();
    bool valid = curl_url_set(parsed, CURLUPART_URL, url.constData(), 0) == CURLUE_OK;
    char* host = nullptr;
    if (valid && curl_url_get(parsed, CURLUPART_HOST, &host, 0) == CURLUE_OK) {
        valid = host && *host;
        curl_free(host);
    } else {
        valid = false;
    }
    curl_url_cleanup(parsed);
    return valid;
}

DVError URLSession::errorForCurlCode(int curlCode, const QString& detail) {
    qint64 code = DVError::URLErrorUnknown;
    QString description = QStringLiteral("An unknown error occurred.");
    switch (curlCode) {
    case CURLE_OPERATION_TIMEDOUT:
        code = DVError::URLErrorTimedOut;
        description = QStringLiteral("The request timed out.");
        break;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        code = DVError::URLErrorCannotFindHost;
        description = QStringLiteral("A server with the specified hostname could not be found.");
        break;
    case CURLE_COULDNT_CONNECT:
        code = DVError::URLErrorCannotConnectToHost;
        description = QStringLiteral("Could not connect to the server.");
        break;
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
        code = DVError::URLErrorNetworkConnectionLost;
        description = QStringLiteral("The network connection was lost.");
        break;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
        code = DVError::URLErrorBadServerResponse;
        description = QStringLiteral("bad server response");
        break;
    case CURLE_TOO_MANY_REDIRECTS:
        code = DVError::URLErrorHTTPTooManyRedirects;
        description = QStringLiteral("too many HTTP redirects");
        break;
    case CURLE_UNSUPPORTED_PROTOCOL:
        code = DVError::URLErrorUnsupportedURL;
        description = QStringLiteral("unsupported URL");
        break;
    case CURLE_URL_MALFORMAT:
        code = DVError::URLErrorBadURL;
        description = QStringLiteral("bad URL");
        break;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
        code = DVError::URLErrorSecureConnectionFailed;
        description = QStringLiteral("An SSL error has occurred and a secure connection to the server cannot be made.");
        break;
    case CURLE_ABORTED_BY_CALLBACK:
        code = DVError::URLErrorCancelled;
        description = QStringLiteral("cancelled");
        break;
    default:
        break;
    }
    const QString reason =
        detail.isEmpty() ? QString::fromUtf8(curl_easy_strerror(static_cast<CURLcode>(curlCode))) : detail;
    return DVError(DVError::URLDomain, code, reason, description);
}
