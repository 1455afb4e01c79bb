#include "DVException.h"
#include "DVSettingsKeys.h"
#include "ScriptedHttpServer.h"
#include "ServiceTestKit.h"
#include "TestHome.h"

#include <QDirIterator>
#include <QtTest>

using Reply = ScriptedHttpServer::Reply;
Q_DECLARE_METATYPE(Reply)

namespace {

const QString kPrefix = QStringLiteral("com.docuvane.common.exception");

Reply reply(const QByteArray& body, int status = 200, bool drop = false) {
    Reply result = ScriptedHttpServer::reply(body, status);
    result.dropAfterHeaders = drop;
    return result;
}

QByteArray fileContent(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<no file>");
}

QStringList filesUnder(const QString& folder) {
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(QDir(folder).relativeFilePath(it.next()));
    files.sort();
    return files;
}

QString errorCode(const std::shared_ptr<DVConcurrentOperation>& operation) {
    const auto error = operation->error();
    return error ? QStringLiteral("%1 %2").arg(error->domain()).arg(error->code()) : QStringLiteral("none");
}

} // namespace

class TestServiceOperations : public QObject {
    Q_OBJECT

    ScriptedHttpServer _server;
    QTemporaryDir _fetchFolder;
    RecordingDelegate* _delegate = nullptr;

    std::shared_ptr<DVConcurrentOperation> runOne(const QString& kind, const QVariantMap& fileInfo = {}) {
        auto operation = makeOperation(kind, _delegate, fileInfo);
        if (!runAll({operation}))
            qFatal("operation never finished");
        return operation;
    }

    QVariantMap document(const QString& path = QString(), const QString& fileName = QStringLiteral("a.pdf")) const {
        return {{"id", 42}, {"path", path}, {"filename", fileName}};
    }

private slots:
    void init() {
        delete _delegate;
        _delegate = new RecordingDelegate();
        defaults().setValue(_server.baseURL(), DVSettings::ServerURL);
        defaults().setValue(QStringLiteral("T1"), DVSettings::Ticket);
        defaults().setValue(_fetchFolder.path(), DVSettings::DropboxFolderPath);
        QDir(_fetchFolder.path()).removeRecursively();
        QDir().mkpath(_fetchFolder.path());
        _server.setScript([](const auto&) { return reply("TICKET9xyz"); });
        _server.clearRequests();
    }

    void requestForms_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QVariant>("ticket");
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QStringList>("log");
        const QByteArray auth = QByteArray("ann@example.com:p:ss w\xc3\xb6rd").toBase64();
        const QString form = "flexdownloaddata=<request><ids><id>42</id></ids></request>";
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
                                  << QByteArray("/dvapi/dvapi?op=download&ticket=T+/=") << form.toUtf8()
                                  << QStringList{"(DVDownloadFileOperation:start) Info Request:   "
                                                 "<B>/dvapi/dvapi?op=download&ticket=T+/= ",
                                                 "(DVDownloadFileOperation:start) Info Request Data:   " + form + " "};
        QTest::newRow("transferred") << "docstransferred" << QVariant("T1")
                                     << QByteArray("/dvapi/dvapi?op=docstransferred&json=true&ticket=T1")
                                     << form.toUtf8()
                                     << QStringList{"(DVDocumentTransferredOperation:start) Info Request:   "
                                                    "<B>/dvapi/dvapi?op=docstransferred&json=true&ticket=T1 ",
                                                    "(DVDocumentTransferredOperation:start) Info Request Data:   " +
                                                        form + " "};
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
        runOne(kind, document());
        const auto requests = _server.requests();
        QCOMPARE(requests.size(), size_t(1));
        QCOMPARE(requests[0].target, target);
        QCOMPARE(requests[0].method, body.isNull() ? QByteArray("GET") : QByteArray("POST"));
        QCOMPARE(requests[0].body, body);
        QCOMPARE(requests[0].contentType,
                 body.isNull() ? QByteArray() : QByteArray("application/x-www-form-urlencoded"));
        QStringList requestLines =
            capture.lines().filter(QRegularExpression("Info (Request|Account Info(: Starting| Url))"));
        QCOMPARE(requestLines, log.replaceInStrings("<B>", _server.baseURL()));
    }

    // Ticket setting afterwards ("<absent>") and error ("none", or domain and code).
    void loginReplies_data() {
        QTest::addColumn<Reply>("answer");
        QTest::addColumn<QString>("ticket");
        QTest::addColumn<QString>("error");
        QTest::newRow("ticket and three bytes") << reply("T-123\r\n\n") << "T-123"
                                                << "none";
        QTest::newRow("error page status is not looked at") << reply("T-9xyz", 500) << "T-9"
                                                            << "none";
        QTest::newRow("failure text") << reply(kPrefix.toUtf8() + ".AuthenticationException:Bad password") << "<absent>"
                                      << "DocuvaneFetch 1";
        QTest::newRow("cut inside a character") << reply("abc\xc3\xa9\n\n") << "<absent>"
                                                << "none";
        QTest::newRow("invalid UTF-8") << reply("\xff\xfe\xfd\xfc") << "<absent>"
                                       << "DocuvaneFetch 1";
        QTest::newRow("too short for a ticket") << reply("ab") << "<absent>"
                                                << "DocuvaneFetch 1";
        QTest::newRow("dropped connection") << reply("T-1", 200, true) << "<absent>"
                                            << "NSURLErrorDomain -1005";
    }

    void loginReplies() {
        QFETCH(Reply, answer);
        QFETCH(QString, ticket);
        QFETCH(QString, error);
        _server.setScript([&](const auto&) { return answer; });
        const auto login = runOne("userlogin");
        QCOMPARE(setting(DVSettings::Ticket), ticket);
        QCOMPARE(errorCode(login), error);
        QCOMPARE(_delegate->names(), QStringList{"loginComplete"});
    }

    // The account's "destinationId" ("-" without account information), the error and its reason.
    void accountInfoReplies_data() {
        QTest::addColumn<Reply>("answer");
        QTest::addColumn<QString>("destination");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("reason");
        const QByteArray failure = kPrefix.toUtf8() + ".TicketExpiredException:Ticket expired";
        const QString df = QStringLiteral("DocuvaneFetch 1");
        QTest::newRow("destination 2") << reply("{\"account\":{\"destinationId\":2,\"name\":\"A\"}}") << "2"
                                       << "none"
                                       << "-";
        QTest::newRow("JSON without account") << reply("{\"other\":1}") << "-"
                                              << "none"
                                              << "-";
        QTest::newRow("account that is no object") << reply("{\"account\":\"x\"}") << "-"
                                                   << "none"
                                                   << "-";
        QTest::newRow("array") << reply("[1,2]") << "-"
                               << "none"
                               << "-";
        QTest::newRow("HTML error page, shown whole")
            << reply("<html>Server Error</html>", 500) << "-" << df << "<html>Server Error</html>";
        QTest::newRow("empty body") << reply("") << "-" << df << "";
        QTest::newRow("failure text") << reply(failure) << "-" << df << kPrefix + ".TicketExpiredException";
        QTest::newRow("JSON holding the prefix is both")
            << reply("{\"account\":{\"destinationId\":3,\"n\":\"" + failure + "\"}}") << "3" << df << "{\"account\"";
        QTest::newRow("invalid UTF-8") << reply("{\"\xff\"}") << "-" << df << "-";
        QTest::newRow("lost reply is a failure") << reply("{}", 200, true) << "-"
                                                 << "NSURLErrorDomain -1005"
                                                 << "*";
    }

    void accountInfoReplies() {
        QFETCH(Reply, answer);
        QFETCH(QString, destination);
        QFETCH(QString, error);
        QFETCH(QString, reason);
        _server.setScript([&](const auto&) { return answer; });
        const auto operation = std::static_pointer_cast<DVAccountInfoOperation>(runOne("accountinfo"));
        const auto info = operation->accountInfo();
        QCOMPARE(info ? info->value("destinationId").toString() : QStringLiteral("-"), destination);
        QCOMPARE(errorCode(operation), error);
        if (operation->error() && reason != "*")
            QCOMPARE(operation->error()->failureReason().value_or("-"), reason);
        if (answer.status == 500) // a page that is no JSON is also the description
            QCOMPARE(operation->error()->description().value_or("-"), reason);
        QCOMPARE(_delegate->names(), QStringList{"accountInfoComplete"});
    }

    // Number of documents in fileList (-1 without one) and the error.
    void documentListReplies_data() {
        QTest::addColumn<Reply>("answer");
        QTest::addColumn<int>("documents");
        QTest::addColumn<QString>("error");
        QTest::newRow("empty list") << reply("{\"documents\":[]}") << 0 << "none";
        QTest::newRow("two documents") << reply("{\"documents\":[{\"id\":1},{\"id\":2}],\"x\":1}") << 2 << "none";
        QTest::newRow("not JSON, no failure") << reply("<html>busy</html>", 503) << -1 << "none";
        QTest::newRow("failure text") << reply(kPrefix.toUtf8() + ".NotDesktopException:Not desktop") << -1
                                      << "DocuvaneFetch 1";
        QTest::newRow("invalid UTF-8") << reply("{\"documents\":[],\"\xff\":1}") << -1 << "DocuvaneFetch 1";
        QTest::newRow("lost reply is a failure") << reply("{}", 200, true) << -1 << "NSURLErrorDomain -1005";
    }

    void documentListReplies() {
        QFETCH(Reply, answer);
        QFETCH(int, documents);
        QFETCH(QString, error);
        _server.setScript([&](const auto&) { return answer; });
        const auto operation = std::static_pointer_cast<DVDocumentsToTransferOperation>(runOne("docstotransfer"));
        const auto list = operation->fileList();
        QCOMPARE(list ? int(list->value("documents").toList().size()) : -1, documents);
        QCOMPARE(errorCode(operation), error);
        QCOMPARE(_delegate->names(), QStringList{"documentsToTransferComplete"});
    }

    // Logout, set error and transferred only look for a failure; the message each sends ("-": none).
    void examinedOnlyReplies_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<Reply>("answer");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("ticket");
        QTest::addColumn<QString>("message");
        const Reply failure = reply(kPrefix.toUtf8() + ".X:y");
        QTest::newRow("logout") << "userlogout" << reply("ok") << "none"
                                << "<absent>"
                                << "logoutComplete";
        QTest::newRow("logout refused") << "userlogout" << failure << "DocuvaneFetch 1"
                                        << "<absent>"
                                        << "logoutComplete";
        QTest::newRow("logout lost") << "userlogout" << reply("ok", 200, true) << "none"
                                     << "<absent>"
                                     << "logoutComplete";
        QTest::newRow("set error refused") << "dstseterror" << failure << "DocuvaneFetch 1"
                                           << "T1"
                                           << "-";
        QTest::newRow("transferred refused") << "docstransferred" << failure << "DocuvaneFetch 1"
                                             << "T1"
                                             << "documentTransferredFileComplete";
        QTest::newRow("transferred not UTF-8") << "docstransferred" << reply("\xff") << "DocuvaneFetch 1"
                                               << "T1"
                                               << "documentTransferredFileComplete";
        QTest::newRow("transferred lost") << "docstransferred" << reply("ok", 200, true) << "none"
                                          << "T1"
                                          << "documentTransferredFileComplete";
    }

    void examinedOnlyReplies() {
        QFETCH(QString, kind);
        QFETCH(Reply, answer);
        QFETCH(QString, error);
        QFETCH(QString, ticket);
        QFETCH(QString, message);
        _server.setScript([&](const auto&) { return answer; });
        const auto operation = runOne(kind, document());
        QCOMPARE(errorCode(operation), error);
        QCOMPARE(setting(DVSettings::Ticket), ticket);
        QCOMPARE(_delegate->names(), message == "-" ? QStringList() : QStringList{message});
    }

    // Requests that cannot be built are not sent; the operation still ends with an error and its message.
    void unsendableRequestsEndAtOnce_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QVariantMap>("record");
        QTest::addColumn<QString>("base");
        QTest::addColumn<QString>("error");
        const QVariantMap good{{"id", 7}, {"path", "p"}, {"filename", "f.pdf"}};
        auto with = [&](const QString& key, const QVariant& value) {
            QVariantMap record = good;
            if (value.isValid())
                record.insert(key, value);
            else
                record.remove(key);
            return record;
        };
        QTest::newRow("logout to no URL") << "userlogout" << good << "http://bad host"
                                          << "NSURLErrorDomain -1000";
        QTest::newRow("download without id") << "download" << with("id", {}) << ""
                                             << "DocuvaneFetch 1";
        QTest::newRow("download with text id") << "download" << with("id", "7") << ""
                                               << "DocuvaneFetch 1";
        QTest::newRow("download without filename") << "download" << with("filename", {}) << ""
                                                   << "DocuvaneFetch 1";
        QTest::newRow("download with numeric path") << "download" << with("path", 3) << ""
                                                    << "DocuvaneFetch 1";
        QTest::newRow("download outside the folder") << "download" << with("path", "../x") << ""
                                                     << "DocuvaneFetch 1";
        QTest::newRow("download to absolute path") << "download" << with("path", "/tmp") << ""
                                                   << "DocuvaneFetch 1";
        QTest::newRow("download named dot-dot") << "download" << with("filename", "..") << ""
                                                << "DocuvaneFetch 1";
        QTest::newRow("download to no fetch folder") << "download" << good << "nofolder"
                                                     << "DocuvaneFetch 1";
        QTest::newRow("transferred without id") << "docstransferred" << with("id", {}) << ""
                                                << "DocuvaneFetch 1";
    }

    void unsendableRequestsEndAtOnce() {
        QFETCH(QString, kind);
        QFETCH(QVariantMap, record);
        QFETCH(QString, base);
        QFETCH(QString, error);
        if (base == "nofolder")
            defaults().removeObjectForKey(DVSettings::DropboxFolderPath);
        else if (!base.isEmpty())
            defaults().setValue(base, DVSettings::ServerURL);
        const auto operation = runOne(kind, record);
        QCOMPARE(errorCode(operation), error);
        QCOMPARE(_server.requests().size(), size_t(0));
        QCOMPARE(_delegate->names().size(), 1);
        if (kind == "userlogout")
            QCOMPARE(setting(DVSettings::Ticket), QStringLiteral("<absent>"));
    }

    // What stands in the fetch folder afterwards, "name=content" per file, and the error.
    void downloads_data() {
        QTest::addColumn<Reply>("answer");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("existing");
        QTest::addColumn<QByteArrayList>("files");
        QTest::addColumn<QString>("error");
        const QByteArray failure = kPrefix.toUtf8() + ".TicketExpiredException:expired";
        const QByteArray late = QByteArray(1000, 'x') + failure;
        QByteArray cut = failure.leftJustified(999, ' ') + "\xc3\xa9 rest";
        QTest::newRow("nested folders are made")
            << reply("%PDF-1") << "In/2024" << QByteArray() << QByteArrayList{"In/2024/a.pdf=%PDF-1"} << "none";
        QTest::newRow("empty document") << reply("") << "" << QByteArray() << QByteArrayList{"a.pdf="} << "none";
        QTest::newRow("failure text in the window")
            << reply(failure) << "" << QByteArray() << QByteArrayList() << "DocuvaneFetch 1";
        QTest::newRow("failure text after the window")
            << reply(late) << "" << QByteArray() << QByteArrayList{"a.pdf=" + late} << "none";
        QTest::newRow("window ends inside a character")
            << reply(cut) << "" << QByteArray() << QByteArrayList{"a.pdf=" + cut} << "none";
        QTest::newRow("binary holding the prefix")
            << reply("\xff" + failure) << "" << QByteArray() << QByteArrayList{"a.pdf=\xff" + failure} << "none";
        QTest::newRow("server error page")
            << reply("<html>500</html>", 500) << "" << QByteArray() << QByteArrayList() << "HTTP 500";
        QTest::newRow("failure text on an error status")
            << reply(failure, 500) << "" << QByteArray() << QByteArrayList() << "DocuvaneFetch 1";
        QTest::newRow("dropped connection")
            << reply("%PDF-partial", 200, true) << "" << QByteArray() << QByteArrayList() << "NSURLErrorDomain -1005";
        QTest::newRow("same document again")
            << reply("%PDF-1") << "" << QByteArray("%PDF-1") << QByteArrayList{"a.pdf=%PDF-1"} << "none";
        QTest::newRow("another document of that name") << reply("%PDF-2") << "" << QByteArray("%PDF-1")
                                                       << QByteArrayList{"a (2).pdf=%PDF-2", "a.pdf=%PDF-1"} << "none";
        QTest::newRow("error keeps the existing file")
            << reply("", 404) << "" << QByteArray("%PDF-1") << QByteArrayList{"a.pdf=%PDF-1"} << "HTTP 404";
    }

    void downloads() {
        QFETCH(Reply, answer);
        QFETCH(QString, path);
        QFETCH(QByteArray, existing);
        QFETCH(QByteArrayList, files);
        QFETCH(QString, error);
        const QString folder = _fetchFolder.path();
        if (!existing.isNull()) {
            QFile file(folder + "/a.pdf");
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(existing);
        }
        _server.setScript([&](const auto&) { return answer; });
        LogCapture capture;
        const auto operation = runOne("download", document(path));
        QCOMPARE(errorCode(operation), error);
        QByteArrayList found;
        for (const QString& file : filesUnder(folder))
            found.append(file.toUtf8() + "=" + fileContent(folder + "/" + file));
        QCOMPARE(found, files);
        QCOMPARE(_delegate->names(), QStringList{"downloadFileComplete"});
        if (operation->error() && operation->error()->domain() != "DocuvaneFetch")
            QCOMPARE(capture.lines().filter("Download Error: Code=").size(), 1);
    }

    void largeDocumentIsStreamedWhole() {
        QByteArray body(6 * 1024 * 1024 + 3, Qt::Uninitialized);
        for (qsizetype i = 0; i < body.size(); ++i)
            body[i] = char((i * 131) >> 3);
        _server.setScript([&](const auto&) { return reply(body); });
        const auto operation = runOne("download", document("big"));
        QCOMPARE(errorCode(operation), QStringLiteral("none"));
        QVERIFY(fileContent(_fetchFolder.path() + "/big/a.pdf") == body);
        QCOMPARE(filesUnder(_fetchFolder.path()), QStringList{"big/a.pdf"});
    }

    void folderThatCannotBeMadeFailsTheDownload() {
        QFile blocker(_fetchFolder.path() + "/blocker");
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        _server.setScript([](const auto&) { return reply("%PDF"); });
        LogCapture capture;
        const auto operation = runOne("download", document("blocker/sub"));
        QCOMPARE(errorCode(operation), QStringLiteral("NSPOSIXErrorDomain 20"));
        QCOMPARE(capture.lines().filter("Download Error").value(0),
                 "(DVDownloadFileOperation:start) Error Download Error: Code=20 Description=Not a directory ");
        QCOMPARE(filesUnder(_fetchFolder.path()), QStringList{"blocker"});
    }

    // Documents of one name arriving together each keep their content; repeats of one are written once.
    void documentsOfOneNameArriveTogether() {
        _server.setScript([](const ScriptedHttpServer::Request& request) {
            const QByteArray id = request.body.mid(request.body.indexOf("<id>") + 4, 1);
            Reply answer = reply("content " + QByteArray::number(id.toInt() % 4));
            answer.delayMs = 200;
            return answer;
        });
        std::vector<std::shared_ptr<DVConcurrentOperation>> operations;
        for (int id = 1; id <= 8; ++id)
            operations.push_back(
                makeOperation("download", _delegate, {{"id", id}, {"path", "s"}, {"filename", "a.pdf"}}));
        QVERIFY(runAll(operations, 10));
        QStringList contents;
        for (const QString& file : filesUnder(_fetchFolder.path()))
            contents.append(QString::fromLatin1(fileContent(_fetchFolder.path() + "/" + file)));
        contents.sort();
        QCOMPARE(contents, (QStringList{"content 0", "content 1", "content 2", "content 3"}));
        QCOMPARE(filesUnder(_fetchFolder.path()).filter(QRegularExpression("^s/a( \\([234]\\))?\\.pdf$")).size(), 4);
    }

    // The login's message is handled, on the main thread, before the account step reads the new ticket.
    void messageIsHandledBeforeTheDependentStarts() {
        _server.setScript([](const ScriptedHttpServer::Request& request) {
            return reply(request.target.contains("userlogin") ? "NEW-TICKETxyz" : "{\"account\":{}}");
        });
        auto login = makeOperation("userlogin", _delegate);
        auto account = makeOperation("accountinfo", _delegate);
        account->addDependency(login);
        size_t requestsDuringMessage = 0;
        bool dependentWaited = false;
        _delegate->onMessage = [&](const QString& name, DVConcurrentOperation*) {
            if (name != "loginComplete")
                return;
            QTest::qWait(100); // the dependent gets every chance to start early
            requestsDuringMessage = _server.requests().size();
            dependentWaited = !account->isExecuting() && !account->isFinished();
        };
        QVERIFY(runAll({login, account}, 10));
        QCOMPARE(_delegate->names(), (QStringList{"loginComplete", "accountInfoComplete"}));
        for (const auto& message : _delegate->messages())
            QVERIFY(message.onMainWhileExecuting);
        QCOMPARE(requestsDuringMessage, size_t(1));
        QVERIFY(dependentWaited);
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
        auto operation = makeOperation(kind, _delegate, document());
        operation->cancel();
        QVERIFY(runAll({operation}));
        QVERIFY(operation->isFinished());
        QCOMPARE(_server.requests().size(), size_t(0));
        QCOMPARE(_delegate->names(), QStringList());
        QCOMPARE(capture.lines(), QStringList());
        QCOMPARE(setting(DVSettings::Ticket), QStringLiteral("T1"));
    }

    // Cancelled while its request is out: the reply is still handled, but no message is sent.
    void cancelledInFlightKeepsItsReply() {
        _server.setScript([](const auto&) {
            Reply answer = reply("LATE-TICKETxyz");
            answer.delayMs = 300;
            return answer;
        });
        auto login = makeOperation("userlogin", _delegate);
        OperationQueue queue;
        queue.addOperation(login);
        QTRY_COMPARE(_server.requests().size(), size_t(1));
        login->cancel();
        QTRY_VERIFY(login->isFinished());
        QCOMPARE(setting(DVSettings::Ticket), QStringLiteral("LATE-TICKET"));
        QCOMPARE(_delegate->names(), QStringList());
    }

    void failingMessageHandlerStillFinishes() {
        _delegate->onMessage = [](const QString&, DVConcurrentOperation*) {
            throw DVException(QStringLiteral("NSInternalInconsistencyException"), QStringLiteral("boom"));
        };
        LogCapture capture;
        const auto login = runOne("userlogin");
        QVERIFY(login->isFinished());
        QCOMPARE(capture.lines().filter("Exception:").value(0), "(DVLoginOperation:finish) Error Exception:  boom ");
    }

    void cleanupTestCase() { delete _delegate; }
};

DV_TEST_GUILESS_MAIN(TestServiceOperations)
#include "tst_serviceoperations.moc"
