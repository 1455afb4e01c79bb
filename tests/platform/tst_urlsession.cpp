#include "ScriptedHttpServer.h"
#include "TestMain.h"
#include "TestRows.h"
#include "URLSession.h"

#include <QtTest>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

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
    std::future<Outcome> future = promise->get_future();
    if (future.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
        qWarning("the request never completed");
        return {};
    }
    return future.get();
}

} // namespace

class TestURLSession : public QObject {
    Q_OBJECT

    ScriptedHttpServer _server;

private slots:
    // A request that arrives does so byte for byte, and its reply delivers status and body as they are (""
    // is not "no body"); one that cannot be sent or answered delivers the transport error and no body.
    // "<base>" is the scripted server, "<tls>" the same spoken to over TLS.
    void exchanges_data() {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QByteArray>("body"); // null for a GET
        QTest::addColumn<ScriptedHttpServer::Reply>("answer");
        QTest::addColumn<qint64>("errorCode");
        const auto on = [](const char* name, const QString& url, const QByteArray& body,
                           const ScriptedHttpServer::Reply& answer,
                           qint64 errorCode = 0) { row(name, url, body, answer, errorCode); };
        const QByteArray get, form = "flexdownloaddata=<request><ids><id>42</id></ids></request>";
        const auto reply = [](const auto&... args) { return ScriptedHttpServer::reply(args...); };
        on("GET, escapes, dot segments, absent ticket", "<base>/a/../b?auth=dTp2Oio/+Q==&x=%25%7e&t=(null)", get,
           reply("ok"));
        on("POST, XML unescaped, slowly", "<base>/p?op=download", form, reply("ticket", 200, false, 1200));
        on("POST, empty body, empty reply", "<base>/p", QByteArray(""), reply(""));
        on("error page", "<base>/r", get, reply("<html>500</html>", 500));
        on("invalid UTF-8, NUL", "<base>/r", get, reply(QByteArray("\xff\0(", 3)));
        on("dropped inside the body", "<base>/r", get, reply("part", 200, true),
           DVError::URLErrorNetworkConnectionLost);
        on("idle past the timeout", "<base>/r", get, reply("late", 200, false, 2500), DVError::URLErrorTimedOut);
        on("nobody listening", "http://127.0.0.1:1/x", get, {}, DVError::URLErrorCannotConnectToHost);
        on("TLS to a plain server", "<tls>/x", get, {}, DVError::URLErrorSecureConnectionFailed);
        on("blank in the URL", "<base>/x?a=b c", get, {}, DVError::URLErrorBadURL);
        on("no host", "http:///p", get, {}, DVError::URLErrorBadURL);
        on("not http", "file:///etc/passwd", get, {}, DVError::URLErrorUnsupportedURL);
        on("absent base", "(null)/dvapi/dvapi?op=userlogout&ticket=(null)", get, {}, DVError::URLErrorUnsupportedURL);
    }

    void exchanges() {
        QFETCH(QString, url);
        QFETCH(QByteArray, body);
        QFETCH(ScriptedHttpServer::Reply, answer);
        QFETCH(qint64, errorCode);
        _server.setScript([answer](const auto&) { return answer; });
        url.replace("<base>", _server.baseURL()).replace("<tls>", QString(_server.baseURL()).replace("http", "https"));
        URLRequest request = body.isNull() ? URLRequest::get(url.toUtf8()) : URLRequest::post(url.toUtf8(), body);
        request.timeoutInterval = 2;
        const Outcome outcome = send(request);
        QCOMPARE(outcome.error ? outcome.error->code() : 0, errorCode);
        if (errorCode != 0) {
            QCOMPARE(outcome.error->domain(), DVError::URLDomain);
            QVERIFY(!outcome.body);
            return;
        }
        QCOMPARE(outcome.status, answer.status);
        QCOMPARE(outcome.body, std::optional<QByteArray>(answer.body));
        const auto requests = _server.requests();
        QCOMPARE(requests.size(), size_t(1));
        QCOMPARE(_server.baseURL() + requests[0].target, url);
        QCOMPARE(requests[0].method, body.isNull() ? QByteArray("GET") : QByteArray("POST"));
        QCOMPARE(requests[0].body, body);
        QCOMPARE(requests[0].contentType,
                 body.isNull() ? QByteArray() : QByteArray("application/x-www-form-urlencoded"));
    }

    // A reply that trickles, takes too long in all or is longer than wanted ends the request with an
    // error; a streamed one (a document) has no deadline, only the low-speed limit. Short limits stand in
    // for the real ones (30 s to connect, 100 bytes/s over 60 s, 110 s in all).
    void stalledOrOversizedRepliesAreGivenUp_data() {
        QTest::addColumn<ScriptedHttpServer::Reply>("answer");
        QTest::addColumn<bool>("streamed");
        QTest::addColumn<qint64>("maxBodySize");
        QTest::addColumn<qint64>("errorCode");
        // The limits below are 5 bytes a second over 1 s and 1 s in all; each reply is far from the low-speed
        // limit on its side, so that a loaded machine does not move it across.
        ScriptedHttpServer::Reply trickle = ScriptedHttpServer::reply(QByteArray(12, 't'));
        trickle.trickleMs = 400; // 2.5 bytes a second
        ScriptedHttpServer::Reply steady = ScriptedHttpServer::reply(QByteArray(200, 's'));
        steady.trickleMs = 10; // 100 bytes a second for 2 s: fast enough, but longer than the deadline
        const auto timedOut = qint64(DVError::URLErrorTimedOut),
                   tooLong = qint64(DVError::URLErrorDataLengthExceedsMaximum);
        row("trickling reply", trickle, false, qint64(0), timedOut);
        row("trickling document", trickle, true, qint64(0), timedOut);
        row("steady reply past the deadline", steady, false, qint64(0), timedOut);
        row("steady document: no deadline", steady, true, qint64(0), qint64(0));
        row("reply at its limit", ScriptedHttpServer::reply("0123456789"), false, qint64(10), qint64(0));
        row("reply past its limit", ScriptedHttpServer::reply("0123456789A"), false, qint64(10), tooLong);
        row("limit ignored for a document", ScriptedHttpServer::reply("0123456789A"), true, qint64(10), qint64(0));
    }

    void stalledOrOversizedRepliesAreGivenUp() {
        QFETCH(ScriptedHttpServer::Reply, answer);
        QFETCH(bool, streamed);
        QFETCH(qint64, maxBodySize);
        QFETCH(qint64, errorCode);
        const URLSession::TransferLimits normal = URLSession::transferLimits();
        URLSession::setTransferLimits({2, 5, 1, 1});
        _server.setScript([answer](const auto&) { return answer; });
        URLRequest request = URLRequest::get(_server.baseURL().toLatin1() + "/slow");
        request.maxBodySize = maxBodySize;
        const Outcome outcome = send(request, streamed ? 0 : -1);
        URLSession::setTransferLimits(normal);
        QCOMPARE(outcome.error ? outcome.error->code() : 0, errorCode);
        if (errorCode == 0)
            QCOMPARE(outcome.body, std::optional<QByteArray>(answer.body));
        else if (!streamed)
            QVERIFY(!outcome.body);
    }

    void streamedBodyArrivesWholeOrIsStopped() {
        QByteArray body(3 * 1024 * 1024 + 17, Qt::Uninitialized);
        for (qsizetype i = 0; i < body.size(); ++i)
            body[i] = char((i * 131) >> 3);
        _server.setScript([body](const auto&) { return ScriptedHttpServer::reply(body); });
        const QByteArray url = _server.baseURL().toLatin1() + "/big";
        const Outcome whole = send(URLRequest::get(url), 0);
        QVERIFY(!whole.error);
        QVERIFY(whole.pieces > 1 && whole.body == body);
        const Outcome stopped = send(URLRequest::get(url), 1);
        QCOMPARE(stopped.error ? stopped.error->code() : 0, qint64(DVError::URLErrorCannotWriteToFile));
        QCOMPARE(stopped.pieces, 1);
    }

    // TLS peers are verified; a request that starts on TLS may be redirected on TLS only, while a plain
    // one keeps following to either. "<plain>" and "<tls>" are two local servers that redirect on request.
    void tlsAndRedirects_data() {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("trusted"); // the TLS server's certificate
        QTest::addColumn<qint64>("errorCode");
        row("untrusted certificate", QStringLiteral("<tls>/landed"), false,
            qint64(DVError::URLErrorSecureConnectionFailed));
        row("trusted certificate", QStringLiteral("<tls>/landed"), true, qint64(0));
        row("https to https", QStringLiteral("<tls>/to-tls"), true, qint64(0));
        row("https to http refused", QStringLiteral("<tls>/to-plain"), true, qint64(DVError::URLErrorUnsupportedURL));
        row("http to http", QStringLiteral("<plain>/to-plain"), true, qint64(0));
        row("http to https", QStringLiteral("<plain>/to-tls"), true, qint64(0));
    }

    void tlsAndRedirects() {
        QFETCH(QString, url);
        QFETCH(bool, trusted);
        QFETCH(qint64, errorCode);
        EVP_PKEY* key = EVP_RSA_gen(2048);
        X509* cert = X509_new();
        X509_set_version(cert, 2);
        X509_gmtime_adj(X509_getm_notBefore(cert), 0);
        X509_gmtime_adj(X509_getm_notAfter(cert), 3600);
        X509_set_pubkey(cert, key);
        X509_NAME_add_entry_by_txt(X509_get_subject_name(cert), "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
        X509_set_issuer_name(cert, X509_get_subject_name(cert));
        X509_EXTENSION* names = X509V3_EXT_conf_nid(nullptr, nullptr, NID_subject_alt_name, "IP:127.0.0.1");
        X509_add_ext(cert, names, -1);
        X509_EXTENSION_free(names);
        X509_sign(cert, key, EVP_sha256());
        BIO* pem = BIO_new(BIO_s_mem());
        PEM_write_bio_X509(pem, cert);
        char* pemData = nullptr;
        const long pemSize = BIO_get_mem_data(pem, &pemData);
        URLSession::setTrustedCertificates(trusted ? QByteArray(pemData, pemSize) : QByteArray());
        BIO_free(pem);
        httplib::SSLServer tls(cert, key);
        httplib::Server plain;
        X509_free(cert);
        EVP_PKEY_free(key);
        const int tlsPort = tls.bind_to_any_port("127.0.0.1");
        const int plainPort = plain.bind_to_any_port("127.0.0.1");
        const std::string bases[] = {"https://127.0.0.1:" + std::to_string(tlsPort),
                                     "http://127.0.0.1:" + std::to_string(plainPort)};
        for (httplib::Server* server : {static_cast<httplib::Server*>(&tls), &plain}) {
            server->set_keep_alive_max_count(1); // stopping never waits on a kept connection
            server->Get("/to-tls", [&](const auto&, auto& response) { response.set_redirect(bases[0] + "/landed"); });
            server->Get("/to-plain", [&](const auto&, auto& response) { response.set_redirect(bases[1] + "/landed"); });
            server->Get("/landed", [](const auto&, auto& response) { response.set_content("landed", "text/plain"); });
        }
        std::thread tlsThread([&] { tls.listen_after_bind(); });
        std::thread plainThread([&] { plain.listen_after_bind(); });
        QTRY_VERIFY_WITH_TIMEOUT(tls.is_running() && plain.is_running(), 10000);
        url.replace("<tls>", QString::fromStdString(bases[0])).replace("<plain>", QString::fromStdString(bases[1]));
        const Outcome outcome = send(URLRequest::get(url.toLatin1()));
        URLSession::setTrustedCertificates({});
        tls.stop();
        plain.stop();
        tlsThread.join();
        plainThread.join();
        QCOMPARE(outcome.error ? outcome.error->code() : 0, errorCode);
        QCOMPARE(outcome.body, errorCode ? std::optional<QByteArray>() : std::optional<QByteArray>("landed"));
    }
};

DV_TEST_GUILESS_MAIN(TestURLSession)
#include "tst_urlsession.moc"
