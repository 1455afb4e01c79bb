#include "AppController.h"
#include "DVStallMonitor.h"
#include "DocuvaneFetchIdentity.h"
#include "QuitSignals.h"
#include "SingleInstance.h"
#include "UserDefaults.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>

int main(int argc, char* argv[]) {
    DocuvaneFetchIdentity::install();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Docuvane Fetch"));
    QApplication::setDesktopFileName(QStringLiteral("docuvane-fetch"));
    // The client lives in the tray: closing its last window does not end it.
    QApplication::setQuitOnLastWindowClosed(false);

    // One client per session: two would fetch into one folder. A second launch hands over and leaves.
    SingleInstance instance;
    if (!instance.tryBecomePrimary()) {
        if (!instance.activatePrimary())
            std::fprintf(stderr, "Docuvane Fetch is already running.\n");
        return 0;
    }

    // SIGTERM (the uninstaller's quit), SIGINT and SIGHUP end the client through the ordinary quit.
    QuitSignals::install();

    AppController controller;
    QObject::connect(&instance, &SingleInstance::activationRequested, &controller, &AppController::showWaitingWindow);
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &controller, &AppController::applicationWillTerminate);

    // A development aid: how long the main thread goes without turning its event loop, from the end of
    // launching on, written to the file the setting names when the client quits.
    DVStallMonitor stallMonitor;
    const QString stallReport =
        UserDefaults::standardUserDefaults().valueForKey(QStringLiteral("DVStallReport")).toString();
    if (!stallReport.isEmpty())
        QObject::connect(&app, &QCoreApplication::aboutToQuit, &stallMonitor,
                         [&] { stallMonitor.writeReport(stallReport); });

    // Launching has finished once the event loop runs.
    QTimer::singleShot(0, &controller, [&] {
        controller.applicationDidFinishLaunching();
        if (!stallReport.isEmpty())
            stallMonitor.start();
    });
    return app.exec();
}
