// Writes the status images and the folder icon into the folder named on the command line.
#include "DVStatusImages.h"

#include <QGuiApplication>

#include <cstdio>

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() != 2) {
        std::fprintf(stderr, "usage: dv_render_status_images <folder>\n");
        return 2;
    }
    return DVStatusImages::writeResources(arguments.at(1)) ? 0 : 1;
}
