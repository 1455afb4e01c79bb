#include "ScriptedHttpServer.h"
#include "TestHome.h"
#include "URLSession.h"

#include <QtTest>

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <future>

namespace {

struct Outcome {
    std::optional<QByteArray> body; // for a streamed request: what the sink received
    int status = -1;
    std::optional<DVError> error;
    int pieces = 0;
};

// Sends the request and waits for its completion; with streamAbove >= 0 the body is streamed, and the
// sink refuses what comes once more than streamAbove bytes have arrived (0: no limit).
Outcome send(const URLRequest& request, qsizetype streamAbove = -1) {
    auto promise = std::make_shared<std::promise<Outcome>>();
    auto outcome = std::make_shared<Outcome>();
    if (streamAbove < 0) {
        URLSession::shared()
            .dataTask(request,
                      [=](const std::optional<QByteArray>& body, int status, const std::optional<DVError>& error) {
                          promise->set_value({body, status, error, 0});
                      })
            ->resume();
    } else {
        outcome->body = QByteArray();
        URLSession::shared()
            .streamTask(
                request,
                [=](int, QByteArrayView piece) {
                    ++outcome->pieces;
                    outcome->body->append(piece.data(), piece.size());
                    return streamAbove == 0 || outcome->body->size() <= streamAbove;
                },
                [=](int status, const std::optional<DVError>& error) {
                    promise->set_value({outcome->body, status, error, outcome->pieces});
                })
            ->resume();
    }
    return promise->get_future().get();
}

QByteArray patterned(qsizetype size) {
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char((i * 131) >> 3);
    return bytes;
}

} // namespace

class TestURLSession : public QObject {
    Q_OBJECT

    ScriptedHttpServer _server;

private slots:
    void requestIsSentByteForByte_data() {
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("GET, absent ticket")
            << QByteArray("/dvapi/dvapi?op=docstotransfer&ticket=(null)") << QByteArray();
        QTest::newRow("GET, escapes and dot segments kept")
            << QByteArray("/a/../b?auth=dTp2Oio/+Q==&x=%25%7E") << QByteArray();
        QTest::newRow("POST, XML unescaped")
            << QByteArray("/p?op=download") << QByteArray("flexdownloaddata=<request><ids><id>42</id></ids></request>");
        QTest::newRow("POST, empty body") << QByteArray("/p") << QByteArray("");
    }

    void requestIsSentByteForByte() {
        QFETCH(QByteArray, target);
        QFETCH(QByteArray, body);
        _server.setScript([](const auto&) { return ScriptedHttpServer::reply("ok"); });
        const QByteArray url = _server.baseURL().toLatin1() + target;
        QVERIFY(!send(body.isNull() ? URLRequest::get(url) : URLRequest::post(url, body)).error);
        const auto requests = _server.requests();
        QCOMPARE(requests.size(), size_t(1));
        QCOMPARE(requests[0].method, body.isNull() ? QByteArray("GET") : QByteArray("POST"));
        QCOMPARE(requests[0].target, target);
        QCOMPARE(requests[0].body, body);
        QCOMPARE(requests[0].contentType,
                 body.isNull() ? QByteArray() : QByteArray("application/x-www-form-urlencoded"));
    }

    // Every reply that arrived delivers its status and body as they are ("" is not "no body"); a reply
    // that did not arrive delivers the transport error and no body.
    void replies_data() {
        QTest::addColumn<ScriptedHttpServer::Reply>("answer");
        QTest::addColumn<QString>("url");
        QTest::addColumn<qint64>("errorCode");
        QTest::newRow("ok, slowly") << ScriptedHttpServer::reply("ticket", 200, false, 1200) << "" << qint64(0);
        QTest::newRow("empty") << ScriptedHttpServer::reply("") << "" << qint64(0);
        QTest::newRow("error page") << ScriptedHttpServer::reply("<html>500</html>", 500) << "" << qint64(0);
        QTest::newRow("invalid UTF-8, NUL") << ScriptedHttpServer::reply(QByteArray("\xff\0(", 3)) << "" << qint64(0);
        QTest::newRow("dropped inside the body")
            << ScriptedHttpServer::reply("part", 200, true) << "" << qint64(DVError::URLErrorNetworkConnectionLost);
        QTest::newRow("idle past the timeout")
            << ScriptedHttpServer::reply("late", 200, false, 2500) << "" << qint64(DVError::URLErrorTimedOut);
        QTest::newRow("nobody listening")
            << ScriptedHttpServer::Reply() << "http://127.0.0.1:1/x" << qint64(DVError::URLErrorCannotConnectToHost);
        QTest::newRow("blank in the URL")
            << ScriptedHttpServer::Reply() << "<base>/x?a=b c" << qint64(DVError::URLErrorBadURL);
        QTest::newRow("not http") << ScriptedHttpServer::Reply() << "file:///etc/passwd"
                                  << qint64(DVError::URLErrorUnsupportedURL);
        QTest::newRow("TLS to a plain server")
            << ScriptedHttpServer::Reply() << "<tls>/x" << qint64(DVError::URLErrorSecureConnectionFailed);
    }

    void replies() {
        QFETCH(ScriptedHttpServer::Reply, answer);
        QFETCH(QString, url);
        QFETCH(qint64, errorCode);
        _server.setScript([answer](const auto&) { return answer; });
        url = url.isEmpty() ? _server.baseURL() + "/r" : url;
        url.replace("<base>", _server.baseURL()).replace("<tls>", QString(_server.baseURL()).replace("http", "https"));
        URLRequest request = URLRequest::get(url.toLatin1());
        request.timeoutInterval = 2;
        const Outcome outcome = send(request);
        if (errorCode == 0) {
            QVERIFY(!outcome.error);
            QCOMPARE(outcome.status, answer.status);
            QCOMPARE(outcome.body, std::optional<QByteArray>(answer.body));
        } else {
            QCOMPARE(outcome.error ? outcome.error->code() : 0, errorCode);
            QCOMPARE(outcome.error->domain(), DVError::URLDomain);
            QVERIFY(!outcome.body);
        }
    }

    void streamedBodyArrivesWholeOrIsStopped() {
        const QByteArray body = patterned(3 * 1024 * 1024 + 17);
        _server.setScript([body](const auto&) { return ScriptedHttpServer::reply(body); });
        const QByteArray url = _server.baseURL().toLatin1() + "/big";
        const Outcome whole = send(URLRequest::get(url), 0);
        QVERIFY(!whole.error);
        QVERIFY(whole.pieces > 1 && whole.body == body);
        const Outcome stopped = send(URLRequest::get(url), 1);
        QCOMPARE(stopped.error ? stopped.error->code() : 0, qint64(DVError::URLErrorCannotWriteToFile));
        QCOMPARE(stopped.pieces, 1);
    }

    void untrustedCertificateIsRefused() {
        EVP_PKEY* key = EVP_RSA_gen(2048);
        X509* cert = X509_new();
        X509_gmtime_adj(X509_getm_notBefore(cert), 0);
        X509_gmtime_adj(X509_getm_notAfter(cert), 3600);
        X509_set_pubkey(cert, key);
        X509_NAME_add_entry_by_txt(X509_get_subject_name(cert), "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
        X509_set_issuer_name(cert, X509_get_subject_name(cert));
        X509_sign(cert, key, EVP_sha256());
        httplib::SSLServer server(cert, key);
        X509_free(cert);
        EVP_PKEY_free(key);
        server.Get(".*",
                   [](const auto&, httplib::Response& response) { response.set_content("secret", "text/plain"); });
        const int port = server.bind_to_any_port("127.0.0.1");
        std::thread thread([&] { server.listen_after_bind(); });
        while (!server.is_running())
            QTest::qWait(1);
        const Outcome outcome = send(URLRequest::get(QStringLiteral("https://127.0.0.1:%1/").arg(port).toLatin1()));
        server.stop();
        thread.join();
        QCOMPARE(outcome.error ? outcome.error->code() : 0, qint64(DVError::URLErrorSecureConnectionFailed));
    }

    void validURLs_data() {
        QTest::addColumn<QByteArray>("url");
        QTest::addColumn<bool>("valid");
        QTest::newRow("plain") << QByteArray("http://127.0.0.1:8080/dvapi/dvapi?op=x&ticket=(null)") << true;
        QTest::newRow("https, escapes") << QByteArray("https://h.example/p?t=%41%7e") << true;
        QTest::newRow("stray percent") << QByteArray("http://h/p?t=100%") << false;
        QTest::newRow("angle bracket") << QByteArray("http://h/p?t=<x>") << false;
        QTest::newRow("non-ASCII") << QByteArray("http://h/p?t=\xc3\xa9") << false;
        QTest::newRow("no host") << QByteArray("http:///p") << false;
        QTest::newRow("absent base") << QByteArray("(null)/dvapi/dvapi?op=userlogout&ticket=(null)") << false;
    }

    void validURLs() {
        QFETCH(QByteArray, url);
        QFETCH(bool, valid);
        QCOMPARE(URLSession::isValidURL(url), valid);
    }
};

DV_TEST_GUILESS_MAIN(TestURLSession)
#include "tst_urlsession.moc"
