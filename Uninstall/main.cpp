#include "AppController.h"
#include "Bundle.h"
#include "DocuvaneFetchIdentity.h"
#include "PkexecRunner.h"
#include "UninstallWindow.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    DocuvaneFetchIdentity::install();
    QApplication app(argc, argv);
    AppController controller(Bundle::mainBundle().bundlePath(), std::make_unique<PkexecRunner>());
    QObject::connect(&controller, &AppController::finished, &app, [](int status) { QCoreApplication::exit(status); });
    UninstallWindow window(&controller);
    window.show();
    return app.exec();
}
