#include "MainThread.h"
#include "ScriptedHttpServer.h"
#include "TestHome.h"
#include "URLSession.h"

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <QtTest>

#include <condition_variable>
#include <mutex>
#include <thread>

using namespace std::chrono_literals;

namespace {

// What a completion delivered, and on which thread.
struct Outcome {
    std::optional<QByteArray> body;
    int status = -1;
    std::optional<DVError> error;
    std::thread::id thread;
    QByteArray streamed;
    int sinkCalls = 0;
};

class Waiter {
public:
    void deliver(Outcome outcome) {
        std::lock_guard lock(_mutex); // notified under the lock: the waiter may go as soon as it wakes
        _outcome = std::move(outcome);
        _done = true;
        _condition.notify_all();
    }
    Outcome wait() {
        std::unique_lock lock(_mutex);
        if (!_condition.wait_for(lock, 30s, [this] { return _done; }))
            qFatal("no completion");
        return _outcome;
    }

private:
    std::mutex _mutex;
    std::condition_variable _condition;
    bool _done = false;
    Outcome _outcome;
};

Outcome fetch(const URLRequest& request) {
    Waiter waiter;
    URLSession::shared()
        .dataTask(request,
                  [&](const std::optional<QByteArray>& body, int status, const std::optional<DVError>& error) {
                      waiter.deliver({body, status, error, std::this_thread::get_id(), {}, 0});
                  })
        ->resume();
    return waiter.wait();
}

// Streams the body; the sink refuses once refuseAfter bytes have arrived (never with -1).
Outcome stream(const URLRequest& request, qsizetype refuseAfter = -1) {
    Waiter waiter;
    auto streamed = std::make_shared<QByteArray>();
    auto calls = std::make_shared<int>(0);
    URLSession::shared()
        .streamTask(
            request,
            [=](int, QByteArrayView chunk) {
                ++*calls;
                streamed->append(chunk.data(), chunk.size());
                return refuseAfter < 0 || streamed->size() < refuseAfter;
            },
            [=, &waiter](int status, const std::optional<DVError>& error) {
                waiter.deliver({std::nullopt, status, error, std::this_thread::get_id(), *streamed, *calls});
            })
        ->resume();
    return waiter.wait();
}

QByteArray bigBody(qsizetype size) {
    QByteArray body(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        body[i] = char((i * 7 + i / 251) & 0xff);
    return body;
}

} // namespace

class TestURLSession : public QObject {
    Q_OBJECT

private slots:
    void requestIsSentByteForByte_data() {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("contentType");
        QTest::newRow("GET with an absent ticket")
            << QByteArray("GET") << QByteArray("/dvapi/dvapi?op=docstotransfer&json=true&ticket=(null)") << QByteArray()
            << QByteArray();
        QTest::newRow("GET with escapes and Base64 kept")
            << QByteArray("GET") << QByteArray("/dvapi/dvapi?op=userlogin&auth=dTp2Oio/+Q==&x=%25%7E%2f")
            << QByteArray() << QByteArray();
        QTest::newRow("GET with dot segments kept")
            << QByteArray("GET") << QByteArray("/a/../dvapi/./dvapi?op=x") << QByteArray() << QByteArray();
        QTest::newRow("POST XML body unescaped")
            << QByteArray("POST") << QByteArray("/dvapi/dvapi?op=download&ticket=T")
            << QByteArray("flexdownloaddata=<request><ids><id>42</id></ids></request>")
            << QByteArray("application/x-www-form-urlencoded");
        QTest::newRow("POST large body") << QByteArray("POST") << QByteArray("/p") << QByteArray(8000, 'b')
                                         << QByteArray("application/x-www-form-urlencoded");
    }

    void requestIsSentByteForByte() {
        QFETCH(QByteArray, method);
        QFETCH(QByteArray, target);
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, contentType);
        ScriptedHttpServer server([](const auto&) { return ScriptedHttpServer::reply("ok"); });
        const QByteArray url = server.baseURL().toLatin1() + target;
        const Outcome outcome = fetch(method == "POST" ? URLRequest::post(url, body) : URLRequest::get(url));
        QVERIFY(!outcome.error);
        const auto requests = server.requests();
        QCOMPARE(requests.size(), size_t(1));
        QCOMPARE(requests[0].method, method);
        QCOMPARE(requests[0].target, target);
        QCOMPARE(requests[0].body, body);
        QCOMPARE(requests[0].contentType, contentType);
    }

    // Every status delivers its body as it is; only a missing response is a transport error.
    void repliesArriveAsTheyAre_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("ok") << 200 << QByteArray("ticket123abc");
        QTest::newRow("empty body is not no body") << 200 << QByteArray("");
        QTest::newRow("server error page") << 500 << QByteArray("<html><body>Internal Server Error</body></html>");
        QTest::newRow("not found") << 404 << QByteArray("missing");
        QTest::newRow("invalid UTF-8 and NUL bytes") << 200 << QByteArray("\xff\xfe\x00\xc3(", 5);
    }

    void repliesArriveAsTheyAre() {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        ScriptedHttpServer server([&](const auto&) { return ScriptedHttpServer::reply(body, status); });
        const Outcome outcome = fetch(URLRequest::get(server.baseURL().toLatin1() + "/r"));
        QVERIFY(!outcome.error);
        QCOMPARE(outcome.status, status);
        QVERIFY(outcome.body.has_value());
        QCOMPARE(*outcome.body, body);
    }

    void transportFailuresHaveNoBody_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<qint64>("code");
        QTest::newRow("connection refused") << "refused" << qint64(DVError::URLErrorCannotConnectToHost);
        QTest::newRow("closed without a reply") << "silent" << qint64(DVError::URLErrorNetworkConnectionLost);
        QTest::newRow("closed inside the body") << "partial" << qint64(DVError::URLErrorNetworkConnectionLost);
        QTest::newRow("idle past the timeout") << "slow" << qint64(DVError::URLErrorTimedOut);
        QTest::newRow("blank in the URL") << "blank" << qint64(DVError::URLErrorBadURL);
        QTest::newRow("not http") << "file" << qint64(DVError::URLErrorUnsupportedURL);
        QTest::newRow("TLS to a plain server") << "tls" << qint64(DVError::URLErrorSecureConnectionFailed);
    }

    void transportFailuresHaveNoBody() {
        QFETCH(QString, kind);
        QFETCH(qint64, code);
        ScriptedHttpServer server([&](const auto&) {
            ScriptedHttpServer::Reply reply = ScriptedHttpServer::reply("partial body");
            reply.dropAfterHeaders = kind == "partial";
            reply.delayMs = kind == "slow" ? 3000 : 0;
            return reply;
        });
        SilentDropServer silent;
        QByteArray url = server.baseURL().toLatin1() + "/x";
        if (kind == "refused") {
            // A port that was free a moment ago and is closed now.
            {
                ScriptedHttpServer gone;
                url = QStringLiteral("http://127.0.0.1:%1/x").arg(gone.port()).toLatin1();
            }
        } else if (kind == "silent") {
            url = silent.baseURL().toLatin1() + "/x";
        } else if (kind == "blank") {
            url += "?a=b c";
        } else if (kind == "file") {
            url = "file:///etc/passwd";
        } else if (kind == "tls") {
            url.replace("http://", "https://");
        }
        URLRequest request = URLRequest::get(url);
        request.timeoutInterval = 1;
        const Outcome outcome = fetch(request);
        QVERIFY(outcome.error.has_value());
        QCOMPARE(outcome.error->domain(), DVError::URLDomain);
        QCOMPARE(outcome.error->code(), code);
        QVERIFY(outcome.error->description().has_value());
        QVERIFY(!outcome.body.has_value());
    }

    // A reply slower than a moment but within the timeout is simply waited for.
    void slowReplyWithinTheTimeoutArrives() {
        ScriptedHttpServer server([](const auto&) {
            ScriptedHttpServer::Reply reply = ScriptedHttpServer::reply("late");
            reply.delayMs = 1500;
            return reply;
        });
        const Outcome outcome = fetch(URLRequest::get(server.baseURL().toLatin1() + "/slow"));
        QVERIFY(!outcome.error);
        QCOMPARE(*outcome.body, QByteArray("late"));
    }

    void redirectsAreFollowed() {
        ScriptedHttpServer server([](const ScriptedHttpServer::Request& request) {
            if (request.target == "/moved") {
                ScriptedHttpServer::Reply reply = ScriptedHttpServer::reply("", 303);
                reply.location = "/here";
                return reply;
            }
            return ScriptedHttpServer::reply("arrived " + request.method);
        });
        const Outcome outcome = fetch(URLRequest::post(server.baseURL().toLatin1() + "/moved", "a=b"));
        QVERIFY(!outcome.error);
        QCOMPARE(outcome.status, 200);
        QCOMPARE(*outcome.body, QByteArray("arrived GET"));
    }

    // Completions run on one thread of the session's own, neither the caller's nor the main thread.
    void completionsRunOnTheHTTPThread() {
        ScriptedHttpServer server([](const auto&) { return ScriptedHttpServer::reply("x"); });
        const Outcome first = fetch(URLRequest::get(server.baseURL().toLatin1() + "/1"));
        const Outcome second = fetch(URLRequest::get(server.baseURL().toLatin1() + "/2"));
        QVERIFY(first.thread != std::this_thread::get_id());
        QCOMPARE(first.thread, second.thread);
        Waiter waiter;
        URLSession::shared()
            .dataTask(URLRequest::get(server.baseURL().toLatin1() + "/3"),
                      [&](const auto&, int, const auto&) {
                          waiter.deliver({std::nullopt,
                                          MainThread::isMainThread() ? 1 : 0,
                                          std::nullopt,
                                          std::this_thread::get_id(),
                                          {},
                                          0});
                      })
            ->resume();
        QCOMPARE(waiter.wait().status, 0);
    }

    void streamedBodyArrivesWholeAndInPieces() {
        const QByteArray body = bigBody(3 * 1024 * 1024 + 17);
        ScriptedHttpServer server([&](const auto&) { return ScriptedHttpServer::reply(body); });
        const Outcome outcome = stream(URLRequest::get(server.baseURL().toLatin1() + "/big"));
        QVERIFY(!outcome.error);
        QCOMPARE(outcome.status, 200);
        QVERIFY(outcome.sinkCalls > 1);
        QVERIFY(outcome.streamed == body);
    }

    void sinkCanStopTheTransfer() {
        const QByteArray body = bigBody(4 * 1024 * 1024);
        ScriptedHttpServer server([&](const auto&) { return ScriptedHttpServer::reply(body); });
        const Outcome outcome = stream(URLRequest::get(server.baseURL().toLatin1() + "/big"), 1);
        QVERIFY(outcome.error.has_value());
        QCOMPARE(outcome.error->code(), qint64(DVError::URLErrorCannotWriteToFile));
        QCOMPARE(outcome.sinkCalls, 1);
        QVERIFY(outcome.streamed.size() < body.size());
    }

    void cancelledTaskReportsCancellation() {
        ScriptedHttpServer server([](const auto&) {
            ScriptedHttpServer::Reply reply = ScriptedHttpServer::reply("late");
            reply.delayMs = 2000;
            return reply;
        });
        Waiter waiter;
        auto task = URLSession::shared().dataTask(
            URLRequest::get(server.baseURL().toLatin1() + "/slow"),
            [&](const std::optional<QByteArray>& body, int status, const std::optional<DVError>& error) {
                waiter.deliver({body, status, error, std::this_thread::get_id(), {}, 0});
            });
        task->resume();
        QTRY_COMPARE(server.requests().size(), size_t(1));
        task->cancel();
        const Outcome outcome = waiter.wait();
        QVERIFY(outcome.error.has_value());
        QCOMPARE(outcome.error->code(), qint64(DVError::URLErrorCancelled));
    }

    // Certificates are checked: a self-signed server is refused.
    void untrustedCertificateIsRefused() {
        EVP_PKEY* key = EVP_RSA_gen(2048);
        X509* cert = X509_new();
        ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
        X509_gmtime_adj(X509_getm_notBefore(cert), 0);
        X509_gmtime_adj(X509_getm_notAfter(cert), 3600);
        X509_set_pubkey(cert, key);
        X509_NAME* name = X509_get_subject_name(cert);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("127.0.0.1"), -1,
                                   -1, 0);
        X509_set_issuer_name(cert, name);
        X509_sign(cert, key, EVP_sha256());
        httplib::SSLServer server(cert, key);
        X509_free(cert);
        EVP_PKEY_free(key);
        QVERIFY(server.is_valid());
        server.Get(".*", [](const httplib::Request&, httplib::Response& response) {
            response.set_content("secret", "text/plain");
        });
        const int port = server.bind_to_any_port("127.0.0.1");
        std::thread thread([&] { server.listen_after_bind(); });
        while (!server.is_running())
            std::this_thread::sleep_for(1ms);
        const Outcome outcome = fetch(URLRequest::get(QStringLiteral("https://127.0.0.1:%1/x").arg(port).toLatin1()));
        server.stop();
        thread.join();
        QVERIFY(outcome.error.has_value());
        QCOMPARE(outcome.error->code(), qint64(DVError::URLErrorSecureConnectionFailed));
        QVERIFY(!outcome.body.has_value());
    }

    void validURLs_data() {
        QTest::addColumn<QByteArray>("url");
        QTest::addColumn<bool>("valid");
        QTest::newRow("plain") << QByteArray("http://127.0.0.1:8080/dvapi/dvapi?op=x&ticket=(null)") << true;
        QTest::newRow("https") << QByteArray("https://docs.example.com/dvapi/dvapi") << true;
        QTest::newRow("percent escapes") << QByteArray("http://h/p?t=%41%7e") << true;
        QTest::newRow("blank") << QByteArray("http://h/p?t=a b") << false;
        QTest::newRow("stray percent") << QByteArray("http://h/p?t=100%") << false;
        QTest::newRow("angle bracket") << QByteArray("http://h/p?t=<x>") << false;
        QTest::newRow("non-ASCII") << QByteArray("http://h/p?t=\xc3\xa9") << false;
        QTest::newRow("no host") << QByteArray("http:///p") << false;
        QTest::newRow("absent base") << QByteArray("(null)/dvapi/dvapi?op=userlogout&ticket=(null)") << false;
        QTest::newRow("other scheme") << QByteArray("ftp://h/p") << false;
    }

    void validURLs() {
        QFETCH(QByteArray, url);
        QFETCH(bool, valid);
        QCOMPARE(URLSession::isValidURL(url), valid);
    }
};

DV_TEST_GUILESS_MAIN(TestURLSession)
#include "tst_urlsession.moc"
