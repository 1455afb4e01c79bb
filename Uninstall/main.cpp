#include "Bundle.h"
#include "DocuvaneFetchIdentity.h"
#include "PkexecRunner.h"
#include "UninstallController.h"
#include "UninstallWindow.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    DocuvaneFetchIdentity::install();
    // The window's class (X11) and application id (Wayland), which docks match to the launcher
    // (packaging/InstallMenuEntries.cmake) by its StartupWMClass and file name.
    QApplication::setApplicationName(QStringLiteral("Uninstall Docuvane Fetch"));
    QApplication::setDesktopFileName(QStringLiteral("docuvane-fetch-uninstall"));
    QApplication app(argc, argv);
    UninstallController controller(Bundle::mainBundle().bundlePath(), std::make_unique<PkexecRunner>());
    QObject::connect(&controller, &UninstallController::finished, &app,
                     [](int status) { QCoreApplication::exit(status); });
    UninstallWindow window(&controller);
    window.show();
    return app.exec();
}
