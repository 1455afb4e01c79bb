#include "DVAccountInfoOperation.h"
#include "DVDocumentTransferredOperation.h"
#include "DVDocumentsToTransferOperation.h"
#include "DVDownloadFileOperation.h"
#include "DVException.h"
#include "DVLoginOperation.h"
#include "DVLogoutOperation.h"
#include "DVSetErrorOperation.h"
#include "FolderTree.h"
#include "MainThread.h"
#include "OperationQueue.h"
#include "ScriptedHttpServer.h"
#include "TestFiles.h"
#include "TestMain.h"
#include "TestRows.h"
#include "TestTiming.h"
#include "UserDefaults.h"
#include "WSLogger.h"

#include <QtTest>

namespace {

using Reply = ScriptedHttpServer::Reply;
template <typename T> using Ptr = std::shared_ptr<T>;
const auto reply = [](const auto&... args) { return ScriptedHttpServer::reply(args...); };
const QByteArray kFailure = "com.docuvane.common.exception.TicketExpiredException:Ticket expired";
const QString kExpired = "DocuvaneFetch 1 (com.docuvane.common.exception.TicketExpiredException)";
const QByteArray kAuth = QByteArray("ann@example.com:p:ss w\xc3\xb6rd").toBase64();
const QString kLost = "NSURLErrorDomain -1005 (transfer closed with 1000 bytes remaining to read)";

} // namespace

// Answers every completion message and records its name, marked "!" unless it came on the main thread
// while the operation was still executing. onMessage runs inside each message.
class RecordingDelegate : public LoginCompleteDelegate,
                          public AccountInfoCompleteDelegate,
                          public LogoutCompleteDelegate,
                          public DocumentsToTransferCompleteDelegate,
                          public DownloadFileCompleteDelegate,
                          public DocumentTransferredFileCompleteDelegate {
public:
    std::function<void(const QString& name)> onMessage;
    QStringList names; // main thread only

    void loginComplete(const Ptr<DVLoginOperation>& o) override { note("login", *o); }
    void accountInfoComplete(const Ptr<DVAccountInfoOperation>& o) override { note("account", *o); }
    void logoutComplete(const Ptr<DVLogoutOperation>& o) override { note("logout", *o); }
    void documentsToTransferComplete(const Ptr<DVDocumentsToTransferOperation>& o) override { note("list", *o); }
    void downloadFileComplete(const Ptr<DVDownloadFileOperation>& o) override { note("download", *o); }
    void documentTransferredFileComplete(const Ptr<DVDocumentTransferredOperation>& o) override { note("sent", *o); }

private:
    void note(const char* name, const Operation& operation) {
        const bool proper = MainThread::isMainThread() && operation.isExecuting() && !operation.isFinished();
        names.append(QString::fromLatin1(name) + (proper ? "" : "!"));
        if (onMessage)
            onMessage(QString::fromLatin1(name));
    }
};

class TestServiceOperations : public QObject {
    Q_OBJECT

    ScriptedHttpServer _server;
    QTemporaryDir _fetchFolder;
    std::unique_ptr<RecordingDelegate> _delegate;
    QString _logPath;

    static UserDefaults& defaults() { return UserDefaults::standardUserDefaults(); }
    static QString setting(const QString& key) {
        const QVariant value = defaults().valueForKey(key);
        return value.isValid() ? value.toString() : QStringLiteral("-");
    }
    static QVariantMap document(const QString& path = {}) {
        return {{"id", 42}, {"path", path}, {"filename", "a.pdf"}};
    }

    // One of the seven operations by its service name, with a document record where it takes one.
    Ptr<DVConcurrentOperation> make(const QString& kind, const QVariantMap& record = {}) {
        RecordingDelegate* delegate = _delegate.get();
        auto withRecord = [&](auto operation) -> Ptr<DVConcurrentOperation> {
            operation->setFileInfo(record);
            return operation;
        };
        if (kind == "userlogin") {
            auto login = std::make_shared<DVLoginOperation>(delegate);
            login->setUser("ann@example.com");
            login->setPassword("p:ss w\u00f6rd");
            return login;
        }
        if (kind == "download")
            return withRecord(std::make_shared<DVDownloadFileOperation>(delegate));
        if (kind == "docstransferred")
            return withRecord(std::make_shared<DVDocumentTransferredOperation>(delegate));
        if (kind == "accountinfo")
            return std::make_shared<DVAccountInfoOperation>(delegate);
        if (kind == "userlogout")
            return std::make_shared<DVLogoutOperation>(delegate);
        if (kind == "dstseterror")
            return std::make_shared<DVSetErrorOperation>(delegate);
        return std::make_shared<DVDocumentsToTransferOperation>(delegate);
    }

    // Runs the operations on a queue of their own, turning the main loop until it is empty.
    static bool runAll(const std::vector<Ptr<DVConcurrentOperation>>& operations, int limit = 1) {
        OperationQueue queue;
        queue.setMaxConcurrentOperationCount(limit);
        for (const auto& operation : operations)
            queue.addOperation(operation);
        QDeadlineTimer deadline(60000);
        while (queue.operationCount() > 0 && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        return queue.operationCount() == 0;
    }

    // What the logger wrote since init().
    QString log() const { return QString::fromUtf8(readFile(_logPath)); }

    // What an operation left behind, in one line: its error (with the failure reason), its results, the
    // settings and files it touches, and "unsent" when no request arrived.
    QString summary(const QString& kind, const Ptr<DVConcurrentOperation>& operation) const {
        const auto error = operation->error();
        QString text = error ? QStringLiteral("%1 %2").arg(error->domain()).arg(error->code()) : "ok";
        if (error && error->failureReason())
            text += " (" + *error->failureReason() + ")";
        if (kind == "userlogin" || kind == "userlogout")
            text += " ticket=" + setting(QStringLiteral("ticket"));
        if (auto account = std::dynamic_pointer_cast<DVAccountInfoOperation>(operation))
            text += " account=" + (account->accountInfo() ? account->accountInfo()->value("destinationId").toString()
                                                          : QStringLiteral("-"));
        if (auto list = std::dynamic_pointer_cast<DVDocumentsToTransferOperation>(operation))
            text += " documents=" + (list->fileList()
                                         ? QString::number(list->fileList()->value("documents").toList().size())
                                         : QStringLiteral("-"));
        if (kind == "download")
            text += " [" + tree(_fetchFolder.path()) + "]";
        // What the login, account and list steps tell the user.
        if (error && (kind == "userlogin" || kind == "accountinfo" || kind == "docstotransfer") &&
            !error->failureReason())
            text += " " + error->description().value_or("(null)");
        return _server.requests().empty() ? text + " unsent" : text;
    }

private slots:
    void init() {
        static int logs = 0;
        _logPath = QDir::homePath() + QStringLiteral("/Library/Logs/capture-%1.log").arg(++logs);
        WSLogger::sharedInstance().setFileName(_logPath);
        WSLogger::sharedInstance().setLevel(WSLogger::Info | WSLogger::Error);
        _delegate = std::make_unique<RecordingDelegate>();
        defaults().setValue(_server.baseURL(), QStringLiteral("DocuvaneServerURL"));
        defaults().setValue("T1", QStringLiteral("ticket"));
        defaults().setValue(_fetchFolder.path(), QStringLiteral("dropboxFolderPath"));
        QDir(_fetchFolder.path()).removeRecursively();
        QDir().mkpath(_fetchFolder.path());
        _server.setScript([](const auto&) { return reply("TICKET9xyz"); });
    }

    // The request as it arrives after "/dvapi/dvapi?op=" (a null body for a GET); the log shows it, less the
    // auth value.
    void requestForms_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QVariant>("ticket");
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<QByteArray>("body");
        const QByteArray form = "flexdownloaddata=<request><ids><id>42</id></ids></request>", none;
        row("login", "userlogin", QVariant("T1"), "userlogin&auth=" + kAuth, none);
        row("account info", "accountinfo", QVariant("T1"), QByteArray("accountinfo&json=true&ticket=T1"), none);
        row("documents, absent ticket", "docstotransfer", QVariant(),
            QByteArray("docstotransfer&json=true&ticket=(null)"), none);
        row("download, ticket escaped", "download", QVariant("T+/=%"), QByteArray("download&ticket=T%2B/%3D%25"), form);
        row("logout", "userlogout", QVariant("T1"), QByteArray("userlogout&ticket=T1"), none);
        row("transferred", "docstransferred", QVariant("T1"), QByteArray("docstransferred&json=true&ticket=T1"), form);
        row("set error", "dstseterror", QVariant("T1"), QByteArray("dstseterror&error=unkn"), none);
    }

    void requestForms() {
        QFETCH(QString, kind);
        QFETCH(QVariant, ticket);
        QFETCH(QByteArray, target);
        QFETCH(QByteArray, body);
        defaults().setValue(ticket, QStringLiteral("ticket"));
        QVERIFY(runAll({make(kind, document())}));
        const auto requests = _server.requests();
        QCOMPARE(requests.size(), size_t(1));
        QCOMPARE(requests[0].target, "/dvapi/dvapi?op=" + target);
        QCOMPARE(requests[0].method, body.isNull() ? QByteArray("GET") : QByteArray("POST"));
        QCOMPARE(requests[0].body, body);
        QCOMPARE(requests[0].contentType,
                 body.isNull() ? QByteArray() : QByteArray("application/x-www-form-urlencoded"));
        target.replace(kAuth, "********");
        QVERIFY2(log().contains(_server.baseURL() + "/dvapi/dvapi?op=" + target + " ") && log().contains(body) &&
                     !log().contains(kAuth),
                 qPrintable(log()));
    }

    // The summary of each operation after one reply. Changes apply to its document record (an invalid value
    // removes the entry) or the settings ("base", "folder"), put a file "existing" in the fetch folder, or
    // "cancel" the operation before it starts.
    void outcomes_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QVariantMap>("changes");
        QTest::addColumn<Reply>("answer");
        QTest::addColumn<QString>("expected");
        const auto on = [](const char* name, const char* kind, const Reply& answer, const QString& expected,
                           const QVariantMap& changes = {}) { row(name, kind, changes, answer, expected); };
        on("login: ticket and three bytes", "userlogin", reply("T-123\r\n\n"), "ok ticket=T-123");
        // Only a short plain token from a successful answer is a ticket; the message says what came instead.
        const QString notTicket = "DocuvaneFetch 1 ticket=- The service's answer is not a session ticket";
        on("login: redirect status kept", "userlogin", reply("T-9xyz", 302),
           "DocuvaneFetch 1 ticket=- The service answered with HTTP status 302");
        on("login: a web page", "userlogin", reply("<html>\n<body>Welcome</body>\n</html>\n"), notTicket);
        on("login: larger than any login reply", "userlogin", reply(QByteArray(70000, 'k')),
           "NSURLErrorDomain -1103 (The reply is longer than 65536 bytes.) ticket=-");
        on("login: failure", "userlogin", reply(kFailure), kExpired + " ticket=-");
        on("login: invalid UTF-8", "userlogin", reply("\xff\xfe\xfd\xfc"), "DocuvaneFetch 1 ticket=- (null)");
        on("login: lost", "userlogin", reply("T-1", 200, true), kLost + " ticket=-");
        on("account: destination", "accountinfo", reply("{\"account\":{\"destinationId\":2}}"), "ok account=2");
        const QString noAccount = "DocuvaneFetch 1 account=- The service's answer holds no account information";
        on("account: not an object", "accountinfo", reply("{\"account\":\"x\"}"), noAccount);
        on("account: JSON with an error status", "accountinfo", reply("{\"account\":{\"destinationId\":2}}", 500),
           "DocuvaneFetch 1 account=- The service answered with HTTP status 500");
        on("account: larger than any account", "accountinfo", reply(QByteArray(1024 * 1024 + 1, ' ')),
           "NSURLErrorDomain -1103 (The reply is longer than 1048576 bytes.) account=-");
        on("account: error page", "accountinfo", reply("<p>Error</p>", 500),
           "DocuvaneFetch 1 (<p>Error</p>) account=-");
        on("account: empty", "accountinfo", reply(""), "DocuvaneFetch 1 () account=-");
        on("account: failure", "accountinfo", reply(kFailure), kExpired + " account=-");
        on("account: JSON holding the prefix", "accountinfo",
           reply("{\"account\":{\"destinationId\":3,\"n\":\"" + kFailure + "\"}}"),
           "DocuvaneFetch 1 ({\"account\") account=-");
        on("account: invalid UTF-8", "accountinfo", reply("{\"\xff\"}"), "DocuvaneFetch 1 account=- (null)");
        on("account: lost", "accountinfo", reply("{}", 200, true), kLost + " account=-");
        on("list: two", "docstotransfer", reply("{\"documents\":[{\"id\":1},{\"id\":2}]}"), "ok documents=2");
        const QString noList = "DocuvaneFetch 1 documents=- The service's answer holds no document list";
        on("list: none", "docstotransfer", reply("{\"documents\":[]}"), "ok documents=0");
        on("list: not JSON", "docstotransfer", reply("<p>busy</p>"), noList);
        on("list: error status", "docstotransfer", reply("<p>busy</p>", 503),
           "DocuvaneFetch 1 documents=- The service answered with HTTP status 503");
        on("list: documents an object", "docstotransfer", reply("{\"documents\":{\"id\":1}}"), noList);
        QByteArray many = "{\"documents\":[";
        for (int id = 1; id <= 100000; ++id)
            many += "{\"id\":" + QByteArray::number(100000 + id) + ",\"filename\":\"Invoice 2024-" +
                    QByteArray::number(id) +
                    " for the customer.pdf\",\"path\":\"Customers/Acme Corporation/2024/Invoices\"},";
        many.back() = ']';
        many += "}";
        on("list: 100,000 documents fit", "docstotransfer", reply(many), "ok documents=100000");
        on("list: failure", "docstotransfer", reply(kFailure), kExpired + " documents=-");
        on("list: invalid UTF-8", "docstotransfer", reply("{\"documents\":[],\"\xff\":1}"),
           "DocuvaneFetch 1 documents=- (null)");
        on("list: lost", "docstotransfer", reply("{}", 200, true), kLost + " documents=-");
        on("logout", "userlogout", reply("ok"), "ok ticket=-");
        on("logout: failure", "userlogout", reply(kFailure), kExpired + " ticket=-");
        on("logout: no URL", "userlogout", reply("ok"), "NSURLErrorDomain -1000 ticket=- unsent",
           {{"base", "http://bad host"}});
        on("set error: failure", "dstseterror", reply(kFailure), kExpired);
        on("transferred: failure", "docstransferred", reply(kFailure), kExpired);
        on("transferred: lost", "docstransferred", reply("ok", 200, true), "ok");
        on("transferred: no id", "docstransferred", reply("ok"), "DocuvaneFetch 1 unsent", {{"id", QVariant()}});
        // Downloads list what stands in the fetch folder afterwards: no temporary file may be left anywhere.
        const QByteArray late = QByteArray(1000, 'x') + kFailure, binary = "\xff" + kFailure;
        const QByteArray cut = kFailure.leftJustified(999, ' ') + "\xc3\xa9 rest";
        const QByteArray big = QByteArray(5 * 1024 * 1024, 'b') + "end";
        const Reply pdf = reply("%PDF-1");
        const auto placed = [](const QByteArray& content) { return "ok [a.pdf=" + QString::fromUtf8(content) + "]"; };
        const QString invalid = "DocuvaneFetch 1 [] unsent";
        on("download: folders made", "download", pdf, "ok [In/, In/2024/, In/2024/a.pdf=%PDF-1]",
           {{"path", "In/2024"}});
        on("download: empty document", "download", reply(""), "ok [a.pdf=]");
        on("download: large document", "download", reply(big), placed(big));
        on("download: failure text", "download", reply(kFailure), kExpired + " []");
        on("download: failure after the window", "download", reply(late), placed(late));
        on("download: window ends in a character", "download", reply(cut), placed(cut));
        on("download: binary holding the prefix", "download", reply(binary), placed(binary));
        on("download: failure text, error status", "download", reply(kFailure, 500), kExpired + " []");
        on("download: lost after the window", "download", reply(big.left(1500), 200, true), kLost + " []");
        on("download: same document again", "download", pdf, "ok [a.pdf=%PDF-1]", {{"existing", "%PDF-1"}});
        on("download: another of that name", "download", reply("%PDF-2"), "ok [a (2).pdf=%PDF-2, a.pdf=%PDF-1]",
           {{"existing", "%PDF-1"}});
        on("download: error page, nothing written", "download", reply("<p>500</p>", 500), "HTTP 500 [a.pdf=%PDF-1]",
           {{"existing", "%PDF-1"}});
        on("download: folder blocked by a file", "download", pdf, "NSPOSIXErrorDomain 20 [a.pdf=x]",
           {{"path", "a.pdf/sub"}, {"existing", "x"}});
        on("download: no id", "download", pdf, invalid, {{"id", QVariant()}});
        on("download: no filename", "download", pdf, invalid, {{"filename", QVariant()}});
        on("download: number as path", "download", pdf, invalid, {{"path", 3}});
        on("download: climbing path", "download", pdf, invalid, {{"path", "a/../../x"}});
        on("download: relative fetch folder", "download", pdf, invalid, {{"folder", "Desktop"}});
        // Cancelled before they start (one start() serves all seven): nothing is sent, logged or changed, no message.
        const QVariantMap cancel{{"cancel", true}};
        on("login: cancelled", "userlogin", pdf, "ok ticket=T1 unsent", cancel);
        on("download: cancelled", "download", pdf, "ok [] unsent", cancel);
    }

    void outcomes() {
        QFETCH(QString, kind);
        QFETCH(QVariantMap, changes);
        QFETCH(Reply, answer);
        QFETCH(QString, expected);
        if (changes.contains("base"))
            defaults().setValue(changes.take("base"), QStringLiteral("DocuvaneServerURL"));
        if (changes.contains("folder"))
            defaults().setValue(changes.take("folder"), QStringLiteral("dropboxFolderPath"));
        if (changes.contains("existing"))
            QVERIFY(plant(_fetchFolder.path(), "a.pdf=" + changes.take("existing").toString()));
        const bool cancelled = changes.take("cancel").toBool();
        QVariantMap record = document();
        record.insert(changes);
        record.removeIf([](QVariantMap::iterator entry) { return !entry->isValid(); });
        _server.setScript([answer](const auto&) { return answer; });
        auto operation = make(kind, record);
        if (cancelled)
            operation->cancel();
        QVERIFY(runAll({operation}));
        QCOMPARE(summary(kind, operation), expected);
        // One message each, on the main thread while executing; the set-error operation has none.
        QCOMPARE(_delegate->names.size(), kind == "dstseterror" || cancelled ? 0 : 1);
        QVERIFY(_delegate->names.filter("!").isEmpty());
        QVERIFY(!cancelled || log().trimmed().isEmpty());
        if (expected.startsWith("NSPOSIX"))
            QVERIFY(log().contains(
                "(DVDownloadFileOperation:start) Error Download Error: Code=20 Description=Not a directory \n"));
    }

    // What a download leaves when the fetch folder holds links, FIFOs, sockets or folders where the document
    // goes. Entries are planted inside the fetch folder, or outside it ("out:"); "$out" in a link target is
    // the outside folder, "$in" the fetch folder. A link never carries the document elsewhere nor passes for
    // it; what is no regular file is never opened (a FIFO would block) and the document takes the next name.
    void fetchFolderHazards_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("plants"); // entries, separated by ", "
        QTest::addColumn<QString>("expected");
        const QString link = "NSPOSIXErrorDomain 40 ", fine = "ok [a (2).pdf=%PDF-1, ";
        row("link: folder on the path, to a folder outside", "In", "out:docs/, In@$out/docs",
            link + "[In@] out=[docs/]");
        row("link: deeper folder on the path", "In/2024", "out:docs/, In/, In/2024@$out/docs",
            link + "[In/, In/2024@] out=[docs/]");
        row("link: folder on the path, to a folder inside", "In", "Other/, In@$in/Other",
            link + "[In@, Other/] out=[]");
        row("link: dangling folder on the path", "In", "In@$out/missing", link + "[In@] out=[]");
        row("link: name to the same document outside", "", "out:a.pdf=%PDF-1, a.pdf@$out/a.pdf",
            link + "[a.pdf@] out=[a.pdf=%PDF-1]");
        row("link: name to another file outside", "", "out:a.pdf=old, a.pdf@$out/a.pdf",
            link + "[a.pdf@] out=[a.pdf=old]");
        row("link: dangling name", "", "a.pdf@$out/a.pdf", link + "[a.pdf@] out=[]");
        row("link: name to a folder outside", "In", "out:docs/, In/, In/a.pdf@$out/docs",
            link + "[In/, In/a.pdf@] out=[docs/]");
        row("link: numbered name", "", "a.pdf=other, a (2).pdf@$out/x", link + "[a (2).pdf@, a.pdf=other] out=[]");
        row("FIFO at the name", "", "a.pdf|", fine + "a.pdf|] out=[]");
        row("socket at the name", "", "a.pdf#", fine + "a.pdf#] out=[]");
        row("folder at the name", "", "a.pdf/", fine + "a.pdf/] out=[]");
        row("FIFO and file before a free number", "In", "In/, In/a.pdf=x, In/a (2).pdf|",
            "ok [In/, In/a (2).pdf|, In/a (3).pdf=%PDF-1, In/a.pdf=x] out=[]");
        row("FIFO on the path", "In", "In|", "NSPOSIXErrorDomain 20 [In|] out=[]");
    }

    void fetchFolderHazards() {
        QFETCH(QString, path);
        QFETCH(QString, plants);
        QFETCH(QString, expected);
        QTemporaryDir outside;
        for (QString plant : plants.split(", ")) {
            plant.replace("$out", outside.path()).replace("$in", _fetchFolder.path());
            const bool out = plant.startsWith("out:");
            QVERIFY2(::plant(out ? outside.path() : _fetchFolder.path(), out ? plant.mid(4) : plant),
                     qPrintable(plant));
        }
        _server.setScript([](const auto&) { return reply("%PDF-1"); });
        auto operation = make("download", document(path));
        QVERIFY(runAll({operation}));
        const QString outcome = summary("download", operation);
        QCOMPARE(outcome + " out=[" + tree(outside.path()) + "]", expected);
        if (outcome.contains(" 40 ["))
            QVERIFY2(log().contains("in the fetch folder is a symbolic link"), qPrintable(log()));
    }

    // Aborted at any moment from the start on: while its request line is written, while the request is on
    // its way, while the body arrives. Every download still finishes, with an error, and places nothing.
    void abortedAtAnyMomentFinishesAndPlacesNothing() {
        Reply held = reply(QByteArray(2000, 'x'));
        held.hold = true;
        _server.setScript([held](const auto&) { return held; });
        OperationQueue queue;
        queue.setMaxConcurrentOperationCount(30);
        std::vector<Ptr<DVConcurrentOperation>> operations;
        for (int moment = 0; moment < 30; ++moment) {
            auto operation = make("download", {{"id", moment}, {"path", "In"}, {"filename", "a.pdf"}});
            operations.push_back(operation);
            queue.addOperation(operation);
            QDeadlineTimer deadline(10000);
            while (!operation->isExecuting() && !deadline.hasExpired())
                QCoreApplication::processEvents();
            QVERIFY(operation->isExecuting());
            // Later and later after the request was handed on, from at once to a few flushes of the log.
            for (int turn = 0; turn < moment * moment; ++turn)
                QCoreApplication::processEvents();
            operation->abort();
        }
        for (const auto& operation : operations) {
            QTRY_VERIFY_WITH_TIMEOUT(operation->isFinished(), 10000);
            QVERIFY(operation->error());
        }
        QCOMPARE(tree(_fetchFolder.path()), QString());
    }

    // Documents of one name arriving together each keep their content; repeats of one are written once.
    void documentsOfOneNameArriveTogether() {
        _server.setScript([](const ScriptedHttpServer::Request& request) {
            const int id = request.body.split('>').at(3).split('<').at(0).toInt();
            return reply("content " + QByteArray::number(id % 3), 200, false, 200);
        });
        std::vector<Ptr<DVConcurrentOperation>> operations;
        for (int id = 1; id <= 7; ++id)
            operations.push_back(make("download", {{"id", id}, {"path", ""}, {"filename", "a.pdf"}}));
        QVERIFY(runAll(operations, 10));
        QStringList contents;
        for (const QString& file : tree(_fetchFolder.path()).split(", "))
            contents.append(file.section('=', 1));
        contents.sort();
        QCOMPARE(contents, (QStringList{"content 0", "content 1", "content 2"}));
    }

    // The login's message is handled before the dependent account step starts and reads the new ticket; a
    // handler that fails does not keep the login from finishing.
    void messageIsHandledBeforeTheDependentStarts() {
        _server.setScript([](const ScriptedHttpServer::Request& request) {
            return reply(request.target.contains("userlogin") ? "NEW-TICKETxyz" : "{\"account\":{}}");
        });
        auto login = make("userlogin");
        auto account = make("accountinfo");
        account->addDependency(login);
        size_t requestsDuringMessage = 0;
        _delegate->onMessage = [&](const QString& name) {
            if (name == "login") {
                QTest::qWait(kSettleMs); // every chance for the dependent to start too early
                requestsDuringMessage = _server.requests().size();
                throw DVException("NSInternalInconsistencyException", "boom");
            }
        };
        QVERIFY(runAll({login, account}, 10));
        QCOMPARE(_delegate->names, (QStringList{"login", "account"}));
        QCOMPARE(requestsDuringMessage, size_t(1));
        QVERIFY(_server.requests().at(1).target.endsWith("ticket=NEW-TICKET"));
        QVERIFY(log().contains("(DVLoginOperation:finish) Error Exception:  boom \n"));
    }

    // Cancelled while its request is out: the reply is still handled, but no message is sent.
    void cancelledInFlightKeepsItsReply() {
        _server.setScript([](const auto&) { return reply("LATE-TICKETxyz", 200, false, 300); });
        auto login = make("userlogin");
        OperationQueue queue;
        queue.addOperation(login);
        QTRY_COMPARE(_server.requests().size(), size_t(1));
        login->cancel();
        QTRY_VERIFY(login->isFinished());
        QCOMPARE(setting(QStringLiteral("ticket")), "LATE-TICKET");
        QCOMPARE(_delegate->names, QStringList());
    }
};

DV_TEST_GUILESS_MAIN(TestServiceOperations)
#include "tst_serviceoperations.moc"
