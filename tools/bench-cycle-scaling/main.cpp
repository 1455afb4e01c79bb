// bench-cycle-scaling: times one fetch cycle of N documents that all fail and of N that all succeed,
// against the development service in this process, to show that the coordinator and its queue stay
// near-linear in the length of the list (the time per document should stay about the same as N grows).
//
//   bench-cycle-scaling [N ...]        (default: 1000 4000 16000)
//
// Runs with a temporary home: it never touches the user's settings, log or fetch folder.

#include "DVFetchWebServices.h"
#include "DVPasswordCipher.h"
#include "DevFaultInjector.h"
#include "DevServerInstance.h"
#include "MainThread.h"
#include "UserDefaults.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>

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

// One cycle over count documents; the seconds it took, or a negative number when it went wrong.
double timeCycle(int count, bool failing) {
    QTemporaryDir work;
    const QString documents = work.path() + QStringLiteral("/documents/Inbox");
    QDir().mkpath(documents);
    for (int i = 0; i < count; ++i) {
        QFile file(documents + QStringLiteral("/doc-%1.txt").arg(i));
        if (!file.open(QIODevice::WriteOnly))
            return -1;
        file.write("x");
    }
    DevServerOptions options;
    options.documentsFolder = work.path() + QStringLiteral("/documents");
    options.user = kUser;
    options.password = kPassword;
    DevServerInstance server(options);
    QString problem;
    if (server.start(&problem) != DevServerInstance::Failure::None) {
        std::fprintf(stderr, "bench-cycle-scaling: %s\n", qPrintable(problem));
        return -1;
    }
    if (failing) {
        const QByteArray fault =
            QStringLiteral(R"({"op":"download","fault":"http500","count":%1})").arg(count).toUtf8();
        if (!server.faults().add(fault, &problem))
            return -1;
    }
    UserDefaults& defaults = UserDefaults::standardUserDefaults();
    defaults.setPersistentDomain({{QStringLiteral("email"), kUser},
                                  {QStringLiteral("password"), encryptPassword(kPassword)},
                                  {QStringLiteral("DocuvaneServerURL"), server.baseUrl()},
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
    server.stop();
    if ((failing ? failed : downloaded) != count) {
        std::fprintf(stderr, "bench-cycle-scaling: %d downloaded, %d failed of %d\n", downloaded, failed, count);
        return -1;
    }
    return seconds;
}

} // namespace

int main(int argc, char** argv) {
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
