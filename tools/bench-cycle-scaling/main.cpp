// bench-cycle-scaling: times one fetch cycle of N documents that all fail and of N that all succeed,
// against a minimal loopback service in this process, to show that the coordinator and its queue stay
// near-linear in the length of the list (the time per document should stay about the same as N grows).
//
//   bench-cycle-scaling [N ...]        (default: 1000 4000 16000)
//
// Runs with a temporary home: it never touches the user's settings, log or fetch folder.

#include "DVFetchWebServices.h"
#include "DVPasswordCipher.h"
#include "DocuvaneFetchIdentity.h"
#include "MainThread.h"
#include "UserDefaults.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>

#include <httplib.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

namespace {

const QString kUser = QStringLiteral("bench@example.com");
const QString kPassword = QStringLiteral("bench-password");

class Owner : public CheckForDocumentsFinishedDelegate {
public:
    explicit Owner(QEventLoop& loop)
        : _loop(loop) {}
    void checkForDocumentsFinished() override {
        MainThread::perform([this] { _loop.quit(); });
    }

private:
    QEventLoop& _loop;
};

// A service that answers every request at once and at a cost independent of the list's length, so that
// what grows with the list is the client's work alone (the development service keeps books that cost more
// per request as the list grows).
class QuickService {
public:
    QuickService(int count, bool failing) {
        QByteArray list = "{\"documents\":[";
        for (int id = 1; id <= count; ++id)
            list += "{\"id\":" + QByteArray::number(id) + ",\"path\":\"Inbox\",\"filename\":\"doc-" +
                    QByteArray::number(id) + ".txt\"}" + (id < count ? "," : "");
        list += "]}";
        const std::string documents = list.toStdString();
        auto handler = [documents, failing](const httplib::Request& request, httplib::Response& response) {
            const std::string op = request.get_param_value("op");
            if (op == "userlogin")
                response.set_content("BENCHTICKET\r\n\n", "text/plain");
            else if (op == "accountinfo")
                response.set_content(R"({"account":{"destinationId":2}})", "application/json");
            else if (op == "docstotransfer")
                response.set_content(documents, "application/json");
            else if (op == "download" && failing)
                response.status = 500;
            else if (op == "download")
                response.set_content("document " + request.body, "application/octet-stream");
            else
                response.set_content("{}", "application/json");
        };
        _server.Get(".*", handler);
        _server.Post(".*", handler);
        _port = _server.bind_to_any_port("127.0.0.1");
        _thread = std::thread([this] { _server.listen_after_bind(); });
        for (int i = 0; i < 10000 && !_server.is_running(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~QuickService() {
        _server.stop();
        _thread.join();
    }
    QString baseUrl() const { return QStringLiteral("http://127.0.0.1:%1").arg(_port); }

private:
    httplib::Server _server;
    int _port = 0;
    std::thread _thread;
};

// One cycle over count documents; the seconds it took, or a negative number when it went wrong.
double timeCycle(int count, bool failing) {
    QTemporaryDir work;
    QuickService service(count, failing);
    UserDefaults& defaults = UserDefaults::standardUserDefaults();
    defaults.setPersistentDomain({{QStringLiteral("email"), kUser},
                                  {QStringLiteral("password"), encryptPassword(kPassword)},
                                  {QStringLiteral("DocuvaneServerURL"), service.baseUrl()},
                                  {QStringLiteral("dropboxFolderPath"), work.path() + QStringLiteral("/fetched")},
                                  {QStringLiteral("useGrowlNotifications"), qint64(0)}},
                                 UserDefaults::standardDomainName());

    QEventLoop loop;
    Owner owner(loop);
    DVFetchWebServices services(&owner, true);
    int downloaded = 0;
    int failed = 0;
    QObject::connect(&services, &DVFetchWebServices::documentDownloaded,
                     [&](const QVariantMap&, bool succeeded) { ++(succeeded ? downloaded : failed); });
    QElapsedTimer clock;
    clock.start();
    services.fire(false);
    loop.exec();
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    if ((failing ? failed : downloaded) != count) {
        std::fprintf(stderr, "bench-cycle-scaling: %d downloaded, %d failed of %d\n", downloaded, failed, count);
        return -1;
    }
    return seconds;
}

} // namespace

int main(int argc, char** argv) {
    DocuvaneFetchIdentity::install();
    QTemporaryDir home;
    qputenv("HOME", QFile::encodeName(home.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path() + QStringLiteral("/.config")));
    QCoreApplication app(argc, argv);
    QList<int> counts;
    for (const QString& argument : app.arguments().mid(1))
        counts.append(argument.toInt());
    if (counts.isEmpty())
        counts = {1000, 4000, 16000};

    std::printf("%8s %10s %10s %14s\n", "documents", "outcome", "seconds", "ms/document");
    for (const int count : counts) {
        for (const bool failing : {true, false}) {
            const double seconds = timeCycle(count, failing);
            if (seconds < 0)
                return 1;
            std::printf("%8d %10s %10.3f %14.4f\n", count, failing ? "all fail" : "all ok", seconds,
                        seconds * 1000 / count);
            std::fflush(stdout);
        }
    }
    return 0;
}
