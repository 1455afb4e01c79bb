#include "DVAccountInfoOperation.h"
#include "DVDocumentTransferredOperation.h"
#include "DVDocumentsToTransferOperation.h"
#include "DVDownloadFileOperation.h"
#include "DVException.h"
#include "DVLoginOperation.h"
#include "DVLogoutOperation.h"
#include "DVSetErrorOperation.h"
#include "DVSettingsKeys.h"
#include "MainThread.h"
#include "OperationQueue.h"
#include "ScriptedHttpServer.h"
#include "TestHome.h"
#include "UserDefaults.h"
#include "WSLogger.h"

#include <QDirIterator>
#include <QtTest>

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

    void loginComplete(const std::shared_ptr<DVLoginOperation>& o) override { note("login", o.get()); }
    void accountInfoComplete(const std::shared_ptr<DVAccountInfoOperation>& o) override { note("account", o.get()); }
    void logoutComplete(const std::shared_ptr<DVLogoutOperation>& o) override { note("logout", o.get()); }
    void documentsToTransferComplete(const std::shared_ptr<DVDocumentsToTransferOperation>& o) override {
        note("documents", o.get());
    }
    void downloadFileComplete(const std::shared_ptr<DVDownloadFileOperation>& o) override { note("download", o.get()); }
    void documentTransferredFileComplete(const std::shared_ptr<DVDocumentTransferredOperation>& o) override {
        note("transferred", o.get());
    }

private:
    void note(const char* name, const Operation* operation) {
        const bool proper = MainThread::isMainThread() && operation->isExecuting() && !operation->isFinished();
        names.append(QString::fromLatin1(name) + (proper ? "" : "!"));
        if (onMessage)
            onMessage(QString::fromLatin1(name));
    }
};

UserDefaults& defaults() {
    return UserDefaults::standardUserDefaults();
}

QString setting(const QString& key) {
    const QVariant value = defaults().valueForKey(key);
    return value.isValid() ? value.toString() : QStringLiteral("<absent>");
}

// One of the seven operations by its service name, with a document record where it takes one.
std::shared_ptr<DVConcurrentOperation> makeOperation(const QString& kind, OperationsDelegate* delegate,
                                                     const QVariantMap& record = {}) {
    if (kind == "userlogin") {
        auto login = std::make_shared<DVLoginOperation>(delegate);
        login->setUser("ann@example.com");
        login->setPassword("p:ss w\u00f6rd");
        return login;
    }
    if (kind == "download" || kind == "docstransferred") {
        auto download = std::make_shared<DVDownloadFileOperation>(delegate);
        auto transferred = std::make_shared<DVDocumentTransferredOperation>(delegate);
        download->setFileInfo(record);
        transferred->setFileInfo(record);
        return kind == "download" ? std::shared_ptr<DVConcurrentOperation>(download) : transferred;
    }
    if (kind == "accountinfo")
        return std::make_shared<DVAccountInfoOperation>(delegate);
    if (kind == "userlogout")
        return std::make_shared<DVLogoutOperation>(delegate);
    if (kind == "dstseterror")
        return std::make_shared<DVSetErrorOperation>(delegate);
    return std::make_shared<DVDocumentsToTransferOperation>(delegate);
}

// Runs the operations on a queue of their own, turning the main loop until it is empty.
bool runAll(const std::vector<std::shared_ptr<DVConcurrentOperation>>& operations, int limit = 1) {
    OperationQueue queue;
    queue.setMaxConcurrentOperationCount(limit);
    for (const auto& operation : operations)
        queue.addOperation(operation);
    QDeadlineTimer deadline(60000);
    while (queue.operationCount() > 0 && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return queue.operationCount() == 0;
}

// Points the logger at a fresh file; lines() gives "(Class:method) Level message" of each line written.
class LogCapture {
public:
    LogCapture() {
        static int counter = 0;
        _path = QDir::homePath() + QStringLiteral("/Library/Logs/capture-%1.log").arg(++counter);
        WSLogger::sharedInstance().setFileName(_path);
        WSLogger::sharedInstance().setLevel(WSLogger::Info | WSLogger::Error);
    }
    QStringList lines() const {
        QFile file(_path);
        file.open(QIODevice::ReadOnly);
        QStringList result;
        for (const QString& line : QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts))
            result.append(line.mid(line.indexOf('(')));
        return result;
    }

private:
    QString _path;
};

using Reply = ScriptedHttpServer::Reply;

namespace {

const QByteArray kFailure = "com.docuvane.common.exception.TicketExpiredException:Ticket expired";

Reply reply(const QByteArray& body, int status = 200, bool drop = false, int delayMs = 0) {
    return ScriptedHttpServer::reply(body, status, drop, delayMs);
}

// What an operation left behind, in one line: its error (with the failure reason), its results and the
// settings it touches.
QString summary(const QString& kind, const std::shared_ptr<DVConcurrentOperation>& operation) {
    const auto error = operation->error();
    QString text = error ? QStringLiteral("%1 %2").arg(error->domain()).arg(error->code()) : "ok";
    if (error && error->failureReason())
        text += " (" + *error->failureReason() + ")";
    if (kind == "userlogin" || kind == "userlogout")
        text += " ticket=" + setting(DVSettings::Ticket);
    if (auto account = std::dynamic_pointer_cast<DVAccountInfoOperation>(operation))
        text +=
            " account=" + (account->accountInfo() ? account->accountInfo()->value("destinationId").toString() : "-");
    if (auto list = std::dynamic_pointer_cast<DVDocumentsToTransferOperation>(operation))
        text += " documents=" +
                (list->fileList() ? QString::number(list->fileList()->value("documents").toList().size()) : "-");
    return text;
}

// "relative path=content" for every file under the folder, hidden ones included.
QByteArrayList filesUnder(const QString& folder) {
    QByteArrayList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        file.open(QIODevice::ReadOnly);
        files.append(QDir(folder).relativeFilePath(file.fileName()).toUtf8() + "=" + file.readAll());
    }
    std::sort(files.begin(), files.end());
    return files;
}

} // namespace

class TestServiceOperations : public QObject {
    Q_OBJECT

    ScriptedHttpServer _server;
    QTemporaryDir _fetchFolder;
    std::unique_ptr<RecordingDelegate> _delegate;

    std::shared_ptr<DVConcurrentOperation> run(const QString& kind, const QVariantMap& record = {}) {
        auto operation = makeOperation(kind, _delegate.get(), record);
        if (!runAll({operation}))
            qFatal("the operation never finished");
        return operation;
    }

    static QVariantMap document(const QString& path = {}) {
        return {{"id", 42}, {"path", path}, {"filename", "a.pdf"}};
    }

private slots:
    void init() {
        _delegate = std::make_unique<RecordingDelegate>();
        defaults().setValue(_server.baseURL(), DVSettings::ServerURL);
        defaults().setValue("T1", DVSettings::Ticket);
        defaults().setValue(_fetchFolder.path(), DVSettings::DropboxFolderPath);
        QDir(_fetchFolder.path()).removeRecursively();
        QDir().mkpath(_fetchFolder.path());
        _server.setScript([](const auto&) { return reply("TICKET9xyz"); });
    }

    void requestForms_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QVariant>("ticket");
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QStringList>("log");
        const QByteArray auth = QByteArray("ann@example.com:p:ss w\xc3\xb6rd").toBase64();
        const QByteArray form = "flexdownloaddata=<request><ids><id>42</id></ids></request>";
        const QString data = "Info Request Data:   " + form + " ";
        QTest::newRow("login") << "userlogin" << QVariant("T1") << "/dvapi/dvapi?op=userlogin&auth=" + auth
                               << QByteArray()
                               << QStringList{"(DVLoginOperation:start) Info Request:   "
                                              "<B>/dvapi/dvapi?op=userlogin&auth=******** "};
        QTest::newRow("account info") << "accountinfo" << QVariant("t k#\u00e9")
                                      << QByteArray("/dvapi/dvapi?op=accountinfo&json=true&ticket=t%20k%23%C3%A9")
                                      << QByteArray()
                                      << QStringList{"(DVAccountInfoOperation:start) Info Account Info: Starting. ",
                                                     "(DVAccountInfoOperation:start) Info Account Info Url =  "
                                                     "<B>/dvapi/dvapi?op=accountinfo&json=true&ticket=t%20k%23%C3%A9 "};
        QTest::newRow("documents, absent ticket")
            << "docstotransfer" << QVariant() << QByteArray("/dvapi/dvapi?op=docstotransfer&json=true&ticket=(null)")
            << QByteArray()
            << QStringList{"(DVDocumentsToTransferOperation:start) Info Request:   "
                           "<B>/dvapi/dvapi?op=docstotransfer&json=true&ticket=(null) "};
        QTest::newRow("download") << "download" << QVariant("T+/=")
                                  << QByteArray("/dvapi/dvapi?op=download&ticket=T+/=") << form
                                  << QStringList{"(DVDownloadFileOperation:start) Info Request:   "
                                                 "<B>/dvapi/dvapi?op=download&ticket=T+/= ",
                                                 "(DVDownloadFileOperation:start) " + data};
        QTest::newRow("transferred") << "docstransferred" << QVariant("T1")
                                     << QByteArray("/dvapi/dvapi?op=docstransferred&json=true&ticket=T1") << form
                                     << QStringList{"(DVDocumentTransferredOperation:start) Info Request:   "
                                                    "<B>/dvapi/dvapi?op=docstransferred&json=true&ticket=T1 ",
                                                    "(DVDocumentTransferredOperation:start) " + data};
        QTest::newRow("logout") << "userlogout" << QVariant("T1") << QByteArray("/dvapi/dvapi?op=userlogout&ticket=T1")
                                << QByteArray()
                                << QStringList{"(DVLogoutOperation:start) Info Request:   "
                                               "<B>/dvapi/dvapi?op=userlogout&ticket=T1 "};
        QTest::newRow("set error") << "dstseterror" << QVariant("T1")
                                   << QByteArray("/dvapi/dvapi?op=dstseterror&error=unkn") << QByteArray()
                                   << QStringList{"(DVSetErrorOperation:start) Info Request:   "
                                                  "<B>/dvapi/dvapi?op=dstseterror&error=unkn "};
    }

    void requestForms() {
        QFETCH(QString, kind);
        QFETCH(QVariant, ticket);
        QFETCH(QByteArray, target);
        QFETCH(QByteArray, body);
        QFETCH(QStringList, log);
        defaults().setValue(ticket, DVSettings::Ticket);
        LogCapture capture;
        run(kind, document());
        const auto requests = _server.requests();
        QCOMPARE(requests.size(), size_t(1));
        QCOMPARE(requests[0].target, target);
        QCOMPARE(requests[0].method, body.isNull() ? QByteArray("GET") : QByteArray("POST"));
        QCOMPARE(requests[0].body, body);
        QCOMPARE(requests[0].contentType,
                 body.isNull() ? QByteArray() : QByteArray("application/x-www-form-urlencoded"));
        QCOMPARE(capture.lines().filter(QRegularExpression("Info (Request|Account Info(: Starting| Url))")),
                 log.replaceInStrings("<B>", _server.baseURL()));
    }

    // The summary of each operation after one reply; the old ticket is "T1".
    void replies_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<Reply>("answer");
        QTest::addColumn<QString>("expected");
        const QString expired = "DocuvaneFetch 1 (com.docuvane.common.exception.TicketExpiredException)";
        const QString lost = "NSURLErrorDomain -1005 (transfer closed with 1000 bytes remaining to read)";
        QTest::newRow("login: ticket and three bytes") << "userlogin" << reply("T-123\r\n\n") << "ok ticket=T-123";
        QTest::newRow("login: status not looked at") << "userlogin" << reply("T-9xyz", 500) << "ok ticket=T-9";
        QTest::newRow("login: failure") << "userlogin" << reply(kFailure) << expired + " ticket=<absent>";
        QTest::newRow("login: cut inside a character")
            << "userlogin" << reply("abc\xc3\xa9\n\n") << "ok ticket=<absent>";
        QTest::newRow("login: invalid UTF-8")
            << "userlogin" << reply("\xff\xfe\xfd\xfc") << "DocuvaneFetch 1 ticket=<absent>";
        QTest::newRow("login: too short") << "userlogin" << reply("ab") << "DocuvaneFetch 1 ticket=<absent>";
        QTest::newRow("login: lost") << "userlogin" << reply("T-1", 200, true) << lost + " ticket=<absent>";
        QTest::newRow("account: destination")
            << "accountinfo" << reply("{\"account\":{\"destinationId\":2}}") << "ok account=2";
        QTest::newRow("account: none in JSON") << "accountinfo" << reply("{\"other\":1}") << "ok account=-";
        QTest::newRow("account: not an object") << "accountinfo" << reply("{\"account\":\"x\"}") << "ok account=-";
        QTest::newRow("account: error page")
            << "accountinfo" << reply("<p>Error</p>", 500) << "DocuvaneFetch 1 (<p>Error</p>) account=-";
        QTest::newRow("account: empty") << "accountinfo" << reply("") << "DocuvaneFetch 1 () account=-";
        QTest::newRow("account: failure") << "accountinfo" << reply(kFailure) << expired + " account=-";
        QTest::newRow("account: JSON holding the prefix")
            << "accountinfo" << reply("{\"account\":{\"destinationId\":3,\"n\":\"" + kFailure + "\"}}")
            << "DocuvaneFetch 1 ({\"account\") account=3";
        QTest::newRow("account: invalid UTF-8") << "accountinfo" << reply("{\"\xff\"}") << "DocuvaneFetch 1 account=-";
        QTest::newRow("account: lost") << "accountinfo" << reply("{}", 200, true) << lost + " account=-";
        QTest::newRow("list: empty") << "docstotransfer" << reply("{\"documents\":[]}") << "ok documents=0";
        QTest::newRow("list: two") << "docstotransfer" << reply("{\"documents\":[{\"id\":1},{\"id\":2}]}")
                                   << "ok documents=2";
        QTest::newRow("list: not JSON") << "docstotransfer" << reply("<p>busy</p>", 503) << "ok documents=-";
        QTest::newRow("list: failure") << "docstotransfer" << reply(kFailure) << expired + " documents=-";
        QTest::newRow("list: invalid UTF-8")
            << "docstotransfer" << reply("{\"documents\":[],\"\xff\":1}") << "DocuvaneFetch 1 documents=-";
        QTest::newRow("list: lost") << "docstotransfer" << reply("{}", 200, true) << lost + " documents=-";
        QTest::newRow("logout") << "userlogout" << reply("ok") << "ok ticket=<absent>";
        QTest::newRow("logout: failure") << "userlogout" << reply(kFailure) << expired + " ticket=<absent>";
        QTest::newRow("logout: lost") << "userlogout" << reply("ok", 200, true) << "ok ticket=<absent>";
        QTest::newRow("set error: failure") << "dstseterror" << reply(kFailure) << expired;
        QTest::newRow("transferred: failure") << "docstransferred" << reply(kFailure) << expired;
        QTest::newRow("transferred: invalid UTF-8") << "docstransferred" << reply("\xff") << "DocuvaneFetch 1";
        QTest::newRow("transferred: lost") << "docstransferred" << reply("ok", 200, true) << "ok";
    }

    void replies() {
        QFETCH(QString, kind);
        QFETCH(Reply, answer);
        QFETCH(QString, expected);
        _server.setScript([answer](const auto&) { return answer; });
        QCOMPARE(summary(kind, run(kind, document())), expected);
        // One message each, on the main thread while executing; the set-error operation has none.
        QCOMPARE(_delegate->names.size(), kind == "dstseterror" ? 0 : 1);
        QVERIFY(_delegate->names.filter("!").isEmpty());
    }

    // Requests that cannot be built are not sent; the operation still ends, with an error and its message.
    void unsendableRequests_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QString>("expected");
        QTest::newRow("logout to no URL")
            << "userlogout"
            << "base" << QVariant("http://bad host") << "NSURLErrorDomain -1000 ticket=<absent>";
        QTest::newRow("no id") << "download"
                               << "id" << QVariant() << "DocuvaneFetch 1";
        QTest::newRow("text id") << "download"
                                 << "id" << QVariant("42") << "DocuvaneFetch 1";
        QTest::newRow("no filename") << "download"
                                     << "filename" << QVariant() << "DocuvaneFetch 1";
        QTest::newRow("number as path") << "download"
                                        << "path" << QVariant(3) << "DocuvaneFetch 1";
        QTest::newRow("climbing path") << "download"
                                       << "path" << QVariant("a/../../x") << "DocuvaneFetch 1";
        QTest::newRow("absolute path") << "download"
                                       << "path" << QVariant("/tmp") << "DocuvaneFetch 1";
        QTest::newRow("name dot-dot") << "download"
                                      << "filename" << QVariant("..") << "DocuvaneFetch 1";
        QTest::newRow("no fetch folder") << "download"
                                         << "folder" << QVariant() << "DocuvaneFetch 1";
        QTest::newRow("relative fetch folder") << "download"
                                               << "folder" << QVariant("Desktop") << "DocuvaneFetch 1";
        QTest::newRow("transferred, no id") << "docstransferred"
                                            << "id" << QVariant() << "DocuvaneFetch 1";
    }

    void unsendableRequests() {
        QFETCH(QString, kind);
        QFETCH(QString, key);
        QFETCH(QVariant, value);
        QFETCH(QString, expected);
        QVariantMap record = document("p");
        record.remove(key);
        if (value.isValid())
            record.insert(key, value);
        if (key == "base")
            defaults().setValue(value, DVSettings::ServerURL);
        if (key == "folder")
            defaults().setValue(value, DVSettings::DropboxFolderPath);
        QCOMPARE(summary(kind, run(kind, record)), expected);
        QCOMPARE(_server.requests().size(), size_t(0));
        QCOMPARE(_delegate->names.size(), 1);
    }

    // The error, and what stands in the fetch folder afterwards (no temporary file left anywhere).
    void downloads_data() {
        QTest::addColumn<Reply>("answer");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("existing");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QByteArrayList>("files");
        const QByteArray late = QByteArray(1000, 'x') + kFailure;
        const QByteArray cut = kFailure.leftJustified(999, ' ') + "\xc3\xa9 rest";
        const QByteArray big = QByteArray(5 * 1024 * 1024, 'b') + "end";
        const QString expired = "DocuvaneFetch 1 (com.docuvane.common.exception.TicketExpiredException)";
        QTest::newRow("folders made") << reply("%PDF-1") << "In/2024" << QByteArray() << "ok"
                                      << QByteArrayList{"In/2024/a.pdf=%PDF-1"};
        QTest::newRow("empty document") << reply("") << "" << QByteArray() << "ok" << QByteArrayList{"a.pdf="};
        QTest::newRow("large document") << reply(big) << "" << QByteArray() << "ok" << QByteArrayList{"a.pdf=" + big};
        QTest::newRow("failure text") << reply(kFailure) << "" << QByteArray() << expired << QByteArrayList();
        QTest::newRow("failure text after the window")
            << reply(late) << "" << QByteArray() << "ok" << QByteArrayList{"a.pdf=" + late};
        QTest::newRow("window ends inside a character")
            << reply(cut) << "" << QByteArray() << "ok" << QByteArrayList{"a.pdf=" + cut};
        QTest::newRow("binary holding the prefix")
            << reply("\xff" + kFailure) << "" << QByteArray() << "ok" << QByteArrayList{"a.pdf=\xff" + kFailure};
        QTest::newRow("error page") << reply("<p>500</p>", 500) << "" << QByteArray() << "HTTP 500" << QByteArrayList();
        QTest::newRow("failure text, error status")
            << reply(kFailure, 500) << "" << QByteArray() << expired << QByteArrayList();
        QTest::newRow("lost") << reply("%PDF-part", 200, true) << "" << QByteArray()
                              << "NSURLErrorDomain -1005 (transfer closed with 1000 bytes remaining to read)"
                              << QByteArrayList();
        QTest::newRow("same document again")
            << reply("%PDF-1") << "" << QByteArray("%PDF-1") << "ok" << QByteArrayList{"a.pdf=%PDF-1"};
        QTest::newRow("another of that name") << reply("%PDF-2") << "" << QByteArray("%PDF-1") << "ok"
                                              << QByteArrayList{"a (2).pdf=%PDF-2", "a.pdf=%PDF-1"};
        QTest::newRow("existing kept on error")
            << reply("", 404) << "" << QByteArray("%PDF-1") << "HTTP 404" << QByteArrayList{"a.pdf=%PDF-1"};
        QTest::newRow("folder blocked by a file") << reply("%PDF-1") << "a.pdf/sub" << QByteArray("x")
                                                  << "NSPOSIXErrorDomain 20" << QByteArrayList{"a.pdf=x"};
    }

    void downloads() {
        QFETCH(Reply, answer);
        QFETCH(QString, path);
        QFETCH(QByteArray, existing);
        QFETCH(QString, error);
        QFETCH(QByteArrayList, files);
        QFile file(_fetchFolder.path() + "/a.pdf");
        QVERIFY(existing.isNull() || (file.open(QIODevice::WriteOnly) && file.write(existing) == existing.size()));
        file.close();
        _server.setScript([answer](const auto&) { return answer; });
        LogCapture capture;
        QCOMPARE(summary("download", run("download", document(path))), error);
        QVERIFY(filesUnder(_fetchFolder.path()) == files);
        QCOMPARE(_delegate->names, QStringList{"download"});
        if (error.startsWith("NSPOSIX"))
            QCOMPARE(capture.lines().filter("Download Error").value(0),
                     "(DVDownloadFileOperation:start) Error Download Error: Code=20 Description=Not a directory ");
    }

    // Documents of one name arriving together each keep their content; repeats of one are written once.
    void documentsOfOneNameArriveTogether() {
        _server.setScript([](const ScriptedHttpServer::Request& request) {
            return reply("content " + QByteArray::number(request.body.split('>').at(3).split('<').at(0).toInt() % 3),
                         200, false, 200);
        });
        std::vector<std::shared_ptr<DVConcurrentOperation>> operations;
        for (int id = 1; id <= 7; ++id)
            operations.push_back(
                makeOperation("download", _delegate.get(), {{"id", id}, {"path", ""}, {"filename", "a.pdf"}}));
        QVERIFY(runAll(operations, 10));
        QByteArrayList contents;
        for (const QByteArray& file : filesUnder(_fetchFolder.path()))
            contents.append(file.mid(file.indexOf('=') + 1));
        std::sort(contents.begin(), contents.end());
        QCOMPARE(contents, (QByteArrayList{"content 0", "content 1", "content 2"}));
    }

    // The login's message is handled before the dependent account step starts and reads the new ticket.
    void messageIsHandledBeforeTheDependentStarts() {
        _server.setScript([](const ScriptedHttpServer::Request& request) {
            return reply(request.target.contains("userlogin") ? "NEW-TICKETxyz" : "{\"account\":{}}");
        });
        auto login = makeOperation("userlogin", _delegate.get());
        auto account = makeOperation("accountinfo", _delegate.get());
        account->addDependency(login);
        size_t requestsDuringMessage = 0;
        _delegate->onMessage = [&](const QString& name) {
            if (name == "login") {
                QTest::qWait(100); // every chance for the dependent to start too early
                requestsDuringMessage = _server.requests().size();
            }
        };
        QVERIFY(runAll({login, account}, 10));
        QCOMPARE(_delegate->names, (QStringList{"login", "account"}));
        QCOMPARE(requestsDuringMessage, size_t(1));
        QVERIFY(_server.requests().at(1).target.endsWith("ticket=NEW-TICKET"));
    }

    void cancelledOperationSendsNothing_data() {
        QTest::addColumn<QString>("kind");
        for (const char* kind :
             {"userlogin", "accountinfo", "userlogout", "dstseterror", "docstotransfer", "download", "docstransferred"})
            QTest::newRow(kind) << kind;
    }

    void cancelledOperationSendsNothing() {
        QFETCH(QString, kind);
        LogCapture capture;
        auto operation = makeOperation(kind, _delegate.get(), document());
        operation->cancel();
        QVERIFY(runAll({operation}));
        QVERIFY(operation->isFinished());
        QCOMPARE(_server.requests().size(), size_t(0));
        QCOMPARE(_delegate->names, QStringList());
        QCOMPARE(capture.lines(), QStringList());
        QCOMPARE(setting(DVSettings::Ticket), "T1");
    }

    // Cancelled while its request is out: the reply is still handled, but no message is sent.
    void cancelledInFlightKeepsItsReply() {
        _server.setScript([](const auto&) { return reply("LATE-TICKETxyz", 200, false, 300); });
        auto login = makeOperation("userlogin", _delegate.get());
        OperationQueue queue;
        queue.addOperation(login);
        QTRY_COMPARE(_server.requests().size(), size_t(1));
        login->cancel();
        QTRY_VERIFY(login->isFinished());
        QCOMPARE(setting(DVSettings::Ticket), "LATE-TICKET");
        QCOMPARE(_delegate->names, QStringList());
    }

    void failingMessageHandlerStillFinishes() {
        _delegate->onMessage = [](const QString&) { throw DVException("NSInternalInconsistencyException", "boom"); };
        LogCapture capture;
        QVERIFY(run("userlogin")->isFinished());
        QCOMPARE(capture.lines().filter("Exception:").value(0), "(DVLoginOperation:finish) Error Exception:  boom ");
    }
};

DV_TEST_GUILESS_MAIN(TestServiceOperations)
#include "tst_serviceoperations.moc"
