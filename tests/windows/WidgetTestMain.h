#pragma once

#include "TestHome.h"
#include "WidgetTestStyle.h"

#include <QApplication>

// QTEST_MAIN for widget tests, with a temporary home made first and a fixed resolution, so that sizes
// measured in one test run match the next.
#define DV_TEST_WIDGETS_MAIN(TestObject)                                                                               \
    int main(int argc, char* argv[]) {                                                                                 \
        TestHome testHome;                                                                                             \
        QApplication::setAttribute(Qt::AA_Use96Dpi, true);                                                             \
        QApplication app(argc, argv);                                                                                  \
        DV_TEST_WIDGET_STYLE();                                                                                        \
        /* As in the client, which lives in the tray: a hidden window is no reason to quit. */                         \
        app.setQuitOnLastWindowClosed(false);                                                                          \
        TestObject tc;                                                                                                 \
        QTEST_SET_MAIN_SOURCE_PATH                                                                                     \
        return QTest::qExec(&tc, argc, argv);                                                                          \
    }
