#pragma once

#include "DocuvaneFetchIdentity.h"
#include "TestHome.h"

#include <QtTest>

// The main function of every suite. Each installs the product's names for the platform layer, makes a
// temporary home before anything reads the environment and runs the test object; they differ only in the
// application object the code under test needs:
//   DV_TEST_GUILESS_MAIN  a QCoreApplication (no display);
//   DV_TEST_WIDGETS_MAIN  a QApplication for widgets, at a fixed resolution so that sizes measured in one run
//                         match the next, and alive without a visible window, as the client in the tray is;
//   DV_TEST_X11_MAIN      a QGuiApplication on the xcb platform in an X11 session, whatever the environment
//                         says, for suites that read windows through Qt's own X connection.

#define DV_TEST_RUN(TestObject)                                                                                        \
    TestObject tc;                                                                                                     \
    QTEST_SET_MAIN_SOURCE_PATH                                                                                         \
    return QTest::qExec(&tc, argc, argv)

#define DV_TEST_GUILESS_MAIN(TestObject)                                                                               \
    int main(int argc, char* argv[]) {                                                                                 \
        DocuvaneFetchIdentity::install();                                                                              \
        TestHome testHome;                                                                                             \
        QCoreApplication app(argc, argv);                                                                              \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                                       \
        DV_TEST_RUN(TestObject);                                                                                       \
    }

#if defined(QT_WIDGETS_LIB)
#include <QApplication>

#if defined(__SANITIZE_THREAD__)
// Fusion paints large frames by scaling cached pixmaps, and Qt spreads that work over its own thread pool
// inside the uninstrumented library, where ThreadSanitizer cannot see the hand-over between the pool's
// threads. The plain style paints the same widgets with lines only, so the checker sees our threads alone.
#define DV_TEST_WIDGET_STYLE() QApplication::setStyle(QStringLiteral("Windows"))
#else
#define DV_TEST_WIDGET_STYLE()
#endif

#define DV_TEST_WIDGETS_MAIN(TestObject)                                                                               \
    int main(int argc, char* argv[]) {                                                                                 \
        DocuvaneFetchIdentity::install();                                                                              \
        TestHome testHome;                                                                                             \
        QApplication::setAttribute(Qt::AA_Use96Dpi, true);                                                             \
        QApplication app(argc, argv);                                                                                  \
        DV_TEST_WIDGET_STYLE();                                                                                        \
        app.setQuitOnLastWindowClosed(false);                                                                          \
        DV_TEST_RUN(TestObject);                                                                                       \
    }
#endif

#if defined(QT_GUI_LIB)
#include <QGuiApplication>

#define DV_TEST_X11_MAIN(TestObject)                                                                                   \
    int main(int argc, char* argv[]) {                                                                                 \
        DocuvaneFetchIdentity::install();                                                                              \
        TestHome testHome;                                                                                             \
        qputenv("QT_QPA_PLATFORM", "xcb");                                                                             \
        qunsetenv("WAYLAND_DISPLAY");                                                                                  \
        qputenv("XDG_SESSION_TYPE", "x11");                                                                            \
        QGuiApplication app(argc, argv);                                                                               \
        DV_TEST_RUN(TestObject);                                                                                       \
    }
#endif

// A check (QVERIFY, QCOMPARE, QTRY_…) that fails inside a helper returns from the helper only, and the test
// would run on. Helpers run their checks through this and return its answer, and callers write
// QVERIFY(helper(…)), so that the first failure stops the test with the helper's own message.
template <typename Checks> [[nodiscard]] bool checksPass(Checks checks) {
    checks();
    return !QTest::currentTestFailed();
}
