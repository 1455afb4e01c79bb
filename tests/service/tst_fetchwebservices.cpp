#include "DVAccountInfoOperation.h"
#include "DVFetchWebServices.h"
#include "DVLoginOperation.h"
#include "DVPasswordCipher.h"
#include "DevDocumentStore.h"
#include "FolderTree.h"
#include "ScriptedHttpServer.h"
#include "TestFiles.h"
#include "TestMain.h"
#include "TestRows.h"
#include "TestService.h"
#include "TestTiming.h"
#include "UserDefaults.h"

#include <algorithm>
#include <atomic>
#include <mutex>

namespace {

const QString kUser = QStringLiteral("anna@example.com");
const QString kPassword = QStringLiteral("s3cret:pw");
const QString kExpired =
    QStringLiteral("com.docuvane.common.exception.TicketExpiredException:Your session has expired");

UserDefaults& settings() {
    return UserDefaults::standardUserDefaults();
}

} // namespace

// The owner of a coordinator: records every report in the order it came.
class RecordingOwner : public QObject,
                       public CheckForDocumentsStartDelegate,
                       public CheckForDocumentsProgressDelegate,
                       public CheckForDocumentsFinishedDelegate,
                       public ServicesLoginCompleteDelegate,
                       public ServicesAccountInfoCompleteDelegate {
    Q_OBJECT

public:
    void checkForDocumentsStart() override { record(QStringLiteral("start")); }
    void checkForDocumentsProgress(const QVariantMap& document) override {
        record(QStringLiteral("progress ") + document.value(QStringLiteral("filename")).toString());
    }
    void checkForDocumentsFinished() override {
        record("finished");
        ++finishedCount;
    }
    void loginComplete(const std::shared_ptr<DVLoginOperation>& operation) override {
        record(operation->error() ? QStringLiteral("login failed") : QStringLiteral("login"));
    }
    void accountInfoComplete(const std::shared_ptr<DVAccountInfoOperation>& operation) override {
        const auto error = operation->error();
        record(error ? QStringLiteral("account failed ") + error->localizedFailureReason() : QStringLiteral("account"));
    }

    QStringList events() const {
        std::lock_guard lock(_mutex);
        return _events;
    }
    qsizetype count(const QString& event) const { return events().count(event); }

    std::atomic<int> finishedCount{0};

private:
    void record(const QString& event) {
        std::lock_guard lock(_mutex);
        _events.append(event);
    }

    mutable std::mutex _mutex;
    QStringList _events;
};

class TestFetchWebServices : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> _work;
    std::unique_ptr<TestService> _server;
    std::unique_ptr<RecordingOwner> _owner;
    std::unique_ptr<DVFetchWebServices> _services; // its notifications land in _notifications, in order
    QStringList _notifications;
    QString _fetchFolder;

    [[nodiscard]] bool startServer(qint64 destinationId = 2) {
        _server = std::make_unique<TestService>(_work->path(), kUser, kPassword, destinationId);
        if (!_server->started())
            return false;
        settings().setValue(_server->baseUrl(), QStringLiteral("DocuvaneServerURL"));
        return true;
    }

    // The requests the service received, as "op ticket" lines ("op" alone for a login).
    QStringList requests() const { return _server->requests(true); }
    QStringList requestedOperations() const { return _server->requests(); }

    QStringList fetchedFiles() const { return filesUnder(_fetchFolder); }

    QList<DevDocument> waitingDocuments() const {
        QList<DevDocument> waiting;
        _server->store().scan(&waiting, nullptr, nullptr);
        return waiting;
    }

    QStringList hiddenFiles() const { return hiddenFilesUnder(_fetchFolder); }

    QString storedTicket() const { return settings().valueForKey(QStringLiteral("ticket")).toString(); }

    [[nodiscard]] bool waitUntilIdle(DVFetchWebServices& services, RecordingOwner* owner = nullptr, int finished = 1) {
        return checksPass([&] {
            QTRY_COMPARE_WITH_TIMEOUT(services.queue().operationCount(), 0, 20000);
            if (owner)
                QTRY_COMPARE(owner->finishedCount.load(), finished);
            // Notifications reported from the queue's threads before it emptied.
            QCoreApplication::processEvents();
        });
    }

    // One check for documents by the test's coordinator, until its owner has heard the end "finished" times.
    [[nodiscard]] bool cycle(bool announce, int finished = 1) {
        _services->fire(announce);
        return waitUntilIdle(*_services, _owner.get(), finished);
    }

    [[nodiscard]] bool signIn() {
        return checksPass([&] {
            RecordingOwner owner;
            DVFetchWebServices services(&owner, true);
            services.login(kUser, kPassword);
            QVERIFY(waitUntilIdle(services, &owner));
            QVERIFY(!storedTicket().isEmpty());
        });
    }

private slots:
    void init() {
        _work = std::make_unique<QTemporaryDir>();
        _fetchFolder = _work->path() + QStringLiteral("/Docuvane Fetch");
        _notifications.clear();
        settings().setPersistentDomain({{QStringLiteral("email"), kUser},
                                        {QStringLiteral("password"), encryptPassword(kPassword)},
                                        {QStringLiteral("dropboxFolderPath"), _fetchFolder},
                                        {QStringLiteral("useGrowlNotifications"), qint64(1)}},
                                       UserDefaults::standardDomainName());
        QVERIFY(startServer());
        _owner = std::make_unique<RecordingOwner>();
        _services = std::make_unique<DVFetchWebServices>(_owner.get(), true);
        connect(_services.get(), &DVFetchWebServices::notificationReported, this,
                [this](const QString&, const QString& text, const QString& document) {
                    _notifications.append(document.isEmpty() ? text : text + " | " + document);
                });
    }

    void cleanup() {
        _services.reset();
        _server->stop();
        _server.reset();
    }

    void cycleWithoutTicketLogsInFirst() {
        QVERIFY(_server->addDocuments({QStringLiteral("Taxes/2023/scan 1.pdf"), QStringLiteral("report.txt")}));
        QVERIFY(cycle(false));
        QCOMPARE(fetchedFiles(), (QStringList{"Inbox/report.txt", "Taxes/2023/scan 1.pdf"}));
        QCOMPARE(requests().filter(QStringLiteral("(null)")), QStringList());
        QCOMPARE(requestedOperations().mid(0, 3), (QStringList{"userlogin", "accountinfo", "docstotransfer"}));
        QCOMPARE(_owner->events().first(), QStringLiteral("start"));
        QCOMPARE(_owner->events().last(), QStringLiteral("finished"));
        QCOMPARE(waitingDocuments().size(), 0);
    }

    void failedDownloadIsNotReportedTransferred() {
        QVERIFY(_server->addDocuments({QStringLiteral("a.pdf"), QStringLiteral("b.pdf"), QStringLiteral("c.pdf")}));
        QVERIFY(signIn());
        QVERIFY(_server->addFault(R"({"op":"download","fault":"drop","count":1})"));
        QVERIFY(cycle(false));
        QCOMPARE(fetchedFiles().size(), 2);
        QCOMPARE(requestedOperations().count(QStringLiteral("download")), 3);
        QCOMPARE(requestedOperations().count(QStringLiteral("docstransferred")), 2);
        const auto waiting = waitingDocuments();
        QCOMPARE(waiting.size(), 1);
        const QString failed = waiting.first().filename;
        QVERIFY(!fetchedFiles().contains(QStringLiteral("Inbox/") + failed));
        QCOMPARE(_owner->events().filter(QStringLiteral("progress")).size(), 3);
        QCOMPARE(_notifications.size(), 3);
        const QString failure = QStringLiteral("Download Document FAILED!  Id = %1, FileName = %2");
        QCOMPARE(_notifications.filter(failure.arg(waiting.first().id).arg(failed)).size(), 1);
        const QString success = QStringLiteral(" successfully downloaded to %1/Inbox | %1/Inbox/");
        QCOMPARE(_notifications.filter(success.arg(_fetchFolder)).size(), 2);
    }

    // A link where documents go fails those documents alone: they are not reported transferred and stay
    // waiting at the service, and nothing is written where the link points (an identical file there does not
    // pass for the document).
    void linkInTheFetchFolderIsNotReportedTransferred_data() {
        QTest::addColumn<QString>("link");
        QTest::addColumn<int>("transferred");
        QTest::addColumn<QStringList>("waiting");
        row("folder on the path", "Inbox", 0, QStringList{"a.pdf", "b.pdf"});
        row("the document's name", "Inbox/a.pdf", 1, QStringList{"a.pdf"});
    }

    void linkInTheFetchFolderIsNotReportedTransferred() {
        QFETCH(QString, link);
        QFETCH(int, transferred);
        QFETCH(QStringList, waiting);
        QVERIFY(_server->addDocuments({QStringLiteral("a.pdf"), QStringLiteral("b.pdf")}));
        QTemporaryDir outside;
        QVERIFY(plant(outside.path(), "a.pdf=a.pdf content"));
        QVERIFY(plant(_fetchFolder, link + "@" + outside.path() + (link.endsWith(".pdf") ? "/a.pdf" : "")));
        QVERIFY(signIn());
        QVERIFY(cycle(false));
        QCOMPARE(requestedOperations().count(QStringLiteral("docstransferred")), transferred);
        QStringList left;
        for (const DevDocument& document : waitingDocuments())
            left.append(document.filename);
        left.sort();
        QCOMPARE(left, waiting);
        QCOMPARE(tree(outside.path()), "a.pdf=a.pdf content");
    }

    void onlyTheDesktopDestinationGetsDocuments_data() {
        QTest::addColumn<qint64>("destination");
        for (const qint64 destination : {0, 1, 3})
            QTest::addRow("%lld", destination) << destination;
    }

    void onlyTheDesktopDestinationGetsDocuments() {
        QFETCH(qint64, destination);
        _server->stop();
        QVERIFY(startServer(destination));
        QVERIFY(_server->addDocuments({QStringLiteral("a.pdf")}));
        QVERIFY(signIn());
        QVERIFY(cycle(true));
        QCOMPARE(_owner->events(), (QStringList{"start", "account", "finished"}));
        QVERIFY(!requestedOperations().contains(QStringLiteral("docstotransfer")));
        QVERIFY(fetchedFiles().isEmpty());
        QVERIFY(_notifications.isEmpty());
    }

    void accountWithoutDestinationGetsNothing() {
        ScriptedHttpServer service([](const ScriptedHttpServer::Request&) {
            return ScriptedHttpServer::reply(R"({"account":{"email":"anna@example.com"}})");
        });
        settings().setValue(service.baseURL(), QStringLiteral("DocuvaneServerURL"));
        settings().setValue(QStringLiteral("T1"), QStringLiteral("ticket"));
        QVERIFY(cycle(true));
        QCOMPARE(_owner->events(), (QStringList{"start", "account", "finished"}));
        QCOMPARE(service.requests().size(), size_t(1));
    }

    void expiredTicketAtAccountStepLogsInAgainOnly() {
        QVERIFY(_server->addDocuments({QStringLiteral("a.pdf")}));
        settings().setValue(QStringLiteral("stale"), QStringLiteral("ticket"));
        QVERIFY(cycle(false));
        QCOMPARE(requestedOperations(), (QStringList{"accountinfo", "userlogin", "accountinfo"}));
        QCOMPARE(requests().first(), QStringLiteral("accountinfo stale"));
        QCOMPARE(requests().last(), QStringLiteral("accountinfo ") + storedTicket());
        QCOMPARE(_owner->events(),
                 (QStringList{"start", "account failed com.docuvane.common.exception.TicketExpiredException", "login",
                              "account", "finished"}));
        // The documents wait for the next cycle.
        QVERIFY(fetchedFiles().isEmpty());
    }

    void expiredTicketAtListStepRunsAWholeNewCycle() {
        QVERIFY(_server->addDocuments({QStringLiteral("a.pdf")}));
        QVERIFY(signIn());
        const QString firstTicket = storedTicket();
        QVERIFY(_server->addFault(
            QStringLiteral(R"({"op":"docstotransfer","fault":"exception","text":"%1"})").arg(kExpired).toUtf8()));
        QVERIFY(cycle(false));
        QCOMPARE(_owner->count(QStringLiteral("start")), 2);
        QCOMPARE(fetchedFiles(), QStringList{"Inbox/a.pdf"});
        QVERIFY(storedTicket() != firstTicket);
        QCOMPARE(requestedOperations().mid(0, 6), (QStringList{"userlogin", "accountinfo", "docstotransfer",
                                                               "userlogin", "accountinfo", "docstotransfer"}));
        QCOMPARE(requests().filter(QStringLiteral("(null)")), QStringList());
        QVERIFY(_notifications.filter(QStringLiteral("expired")).isEmpty());
    }

    void recoveryHappensOncePerChain_data() {
        QTest::addColumn<QString>("reply");
        row("expired", kExpired);
        row("unusable ticket", QStringLiteral("com.docuvane.common.exception.UnexpectedException:Could not retreive "
                                              "user associated with supplied ticket"));
    }

    void recoveryHappensOncePerChain() {
        QFETCH(QString, reply);
        QVERIFY(signIn());
        // The service refuses the ticket again right after the new login.
        QVERIFY(_server->addFault(
            QStringLiteral(R"({"op":"accountinfo","fault":"exception","count":2,"text":"%1"})").arg(reply).toUtf8()));
        QVERIFY(cycle(false));
        QCOMPARE(requestedOperations(), (QStringList{"userlogin", "accountinfo", "userlogin", "accountinfo"}));
        QCOMPARE(_owner->count(QStringLiteral("login")), 1);
        QCOMPARE(_owner->events().last(), QStringLiteral("finished"));

        // The next chain may recover again.
        QVERIFY(_server->addFault(
            QStringLiteral(R"({"op":"accountinfo","fault":"exception","count":1,"text":"%1"})").arg(reply).toUtf8()));
        QVERIFY(cycle(false, 2));
        QCOMPARE(_owner->count(QStringLiteral("login")), 2);
        QCOMPARE(_owner->events().filter(QStringLiteral("account")).last(), QStringLiteral("account"));
    }

    void failedListStopsTheChain() {
        QVERIFY(_server->addDocuments({QStringLiteral("a.pdf")}));
        QVERIFY(signIn());
        QVERIFY(cycle(false));
        QCOMPARE(fetchedFiles(), QStringList{"Inbox/a.pdf"});

        // The old list still names a.pdf: the download step must not run over it again.
        QVERIFY(_server->addFault(
            R"({"op":"docstotransfer","fault":"exception","text":"com.docuvane.common.exception.DatabaseException:Try later"})"));
        const qsizetype before = requests().size();
        _notifications.clear();
        QVERIFY(cycle(true, 2));
        QCOMPARE(requestedOperations().mid(before), (QStringList{"accountinfo", "docstotransfer"}));
        QCOMPARE(_notifications, QStringList{"Try later"});
    }

    void garbledListIsNotAnnouncedAsEmpty() {
        QVERIFY(signIn());
        QVERIFY(_server->addFault(R"({"op":"docstotransfer","fault":"http500"})"));
        QVERIFY(cycle(true));
        QVERIFY(_notifications.filter(QStringLiteral("No new documents")).isEmpty());
    }

    void emptyListAnnouncement_data() {
        QTest::addColumn<bool>("announce");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("asked") << true << QStringList{"No new documents to download"};
        QTest::newRow("quiet") << false << QStringList{};
    }

    void emptyListAnnouncement() {
        QFETCH(bool, announce);
        QFETCH(QStringList, expected);
        QVERIFY(signIn());
        QVERIFY(cycle(announce));
        QCOMPARE(_notifications, expected);
        QCOMPARE(_owner->events(), (QStringList{"start", "account", "finished"}));
    }

    void notificationsOffStillReportsToTheOwner() {
        settings().setInteger(0, QStringLiteral("useGrowlNotifications"));
        QVERIFY(_server->addDocuments({QStringLiteral("a.pdf"), QStringLiteral("b.pdf")}));
        QVERIFY(cycle(true));
        QVERIFY(_notifications.isEmpty());
        QCOMPARE(_owner->events().filter(QStringLiteral("progress")).size(), 2);
        QCOMPARE(fetchedFiles().size(), 2);
    }

    void fireIsDroppedWhileBusy() {
        QVERIFY(signIn());
        std::mutex gate;
        gate.lock();
        connect(_services.get(), &DVFetchWebServices::websiteReported, [&] {
            std::lock_guard wait(gate); // holds the website step until the test lets it go
        });
        _services->launchDocuvaneWebsite();
        _services->fire(false);
        QCOMPARE(_services->displayNoNewDocumentsNotification(), true);
        gate.unlock();
        QVERIFY(waitUntilIdle(*_services, _owner.get()));
        QCOMPARE(_owner->count(QStringLiteral("start")), 0);
        QVERIFY(!requestedOperations().contains(QStringLiteral("accountinfo")));
    }

    void coordinatorWithoutDownloadRoleNeverReportsTheEnd() {
        QVERIFY(_server->addDocuments({QStringLiteral("a.pdf")}));
        RecordingOwner owner;
        DVFetchWebServices services(&owner, false);
        services.fire(false);
        QTRY_COMPARE_WITH_TIMEOUT(fetchedFiles(), QStringList{"Inbox/a.pdf"}, 20000);
        QVERIFY(waitUntilIdle(services));
        QTest::qWait(kSettleMs);
        QCOMPARE(owner.finishedCount.load(), 0);
    }

    void failedLoginCancelsTheAccountStep() {
        _services->accountInfo(kUser, QStringLiteral("wrong"));
        QVERIFY(waitUntilIdle(*_services, _owner.get()));
        QCOMPARE(_owner->events(), (QStringList{"login failed", "finished"}));
        QCOMPARE(requestedOperations(), QStringList{"userlogin"});
        QVERIFY(!settings().valueForKey(QStringLiteral("ticket")).isValid());
    }

    // A quit can come at any step: whatever it hits, the work ends at once, nothing half-written stays in
    // the fetch folder and neither the owner nor the user hears of anything afterwards.
    void stopEndsTheWorkAtAnyStep_data() {
        QTest::addColumn<QString>("heldStep");
        QTest::addColumn<bool>("destroyOnly");
        for (const char* step : {"accountinfo", "docstotransfer", "download", "docstransferred"}) {
            QTest::addRow("%s, stop", step) << QString::fromLatin1(step) << false;
            QTest::addRow("%s, destroyed", step) << QString::fromLatin1(step) << true;
        }
    }

    void stopEndsTheWorkAtAnyStep() {
        QFETCH(QString, heldStep);
        QFETCH(bool, destroyOnly);
        const QByteArray list = R"({"documents":[{"id":1,"path":"Inbox","filename":"a.pdf"},)"
                                R"({"id":2,"path":"Inbox","filename":"b.pdf"}]})";
        // A download's body goes past the examined head: the temporary file exists.
        const QMap<QString, QByteArray> bodies{{"accountinfo", R"({"account":{"destinationId":2}})"},
                                               {"docstotransfer", list},
                                               {"download", QByteArray(4000, 'x')}};
        ScriptedHttpServer service([&](const ScriptedHttpServer::Request& request) {
            const QString op = QUrlQuery(QUrl(QString::fromUtf8(request.target)).query()).queryItemValue("op");
            ScriptedHttpServer::Reply reply = ScriptedHttpServer::reply(bodies.value(op));
            reply.hold = op == heldStep;
            return reply;
        });
        settings().setValue(service.baseURL(), QStringLiteral("DocuvaneServerURL"));
        settings().setValue(QStringLiteral("T1"), QStringLiteral("ticket"));
        _services->fire(true);
        const auto sent = [&](const QString& op) {
            return std::ranges::any_of(service.requests(),
                                       [&](const auto& r) { return r.target.contains("op=" + op.toUtf8()); });
        };
        QTRY_VERIFY_WITH_TIMEOUT(sent(heldStep), 10000);
        if (heldStep == QLatin1String("download"))
            QTRY_VERIFY_WITH_TIMEOUT(!hiddenFiles().isEmpty(), 10000);
        const QStringList eventsBefore = _owner->events();
        const QStringList notificationsBefore = _notifications;

        if (destroyOnly) {
            _services.reset();
        } else {
            _services->stop();
            QCOMPARE(_services->queue().operationCount(), 0); // ended, not given up on
            _services->fire(true);                            // a stopped coordinator starts nothing
            QCOMPARE(_services->queue().operationCount(), 0);
        }
        QCOMPARE(hiddenFiles(), QStringList());
        QTest::qWait(kSettleMs);
        QCOMPARE(_owner->events(), eventsBefore);
        QCOMPARE(_notifications, notificationsBefore);
        QCOMPARE(hiddenFiles(), QStringList());
        // A document cut off is never reported transferred.
        QVERIFY(heldStep == QLatin1String("docstransferred") || !sent("docstransferred"));
    }

    void websiteOpensWithTheTicket_data() {
        QTest::addColumn<QVariant>("ticket");
        QTest::addColumn<QString>("path");
        row("signed in", QVariant(QStringLiteral("T123")), QStringLiteral("/htmlclient/index.html?ticket=T123"));
        row("no ticket", QVariant(), QString());
        row("empty ticket", QVariant(QStringLiteral("")), QString());
    }

    void websiteOpensWithTheTicket() {
        QFETCH(QVariant, ticket);
        QFETCH(QString, path);
        settings().setValue(ticket, QStringLiteral("ticket"));
        QStringList opened;
        DVFetchWebServices services(nullptr, false);
        connect(&services, &DVFetchWebServices::websiteReported, this,
                [&](const QUrl& url) { opened << url.toString(); });
        services.launchDocuvaneWebsite();
        QVERIFY(waitUntilIdle(services));
        QCOMPARE(opened, QStringList{_server->baseUrl() + path});
    }
};

DV_TEST_GUILESS_MAIN(TestFetchWebServices)
#include "tst_fetchwebservices.moc"
