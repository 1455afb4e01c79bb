#pragma once

#include <QApplication>

#if defined(__SANITIZE_THREAD__)
// Fusion paints large frames by scaling cached pixmaps, and Qt spreads that work over its own thread pool
// inside the uninstrumented library, where ThreadSanitizer cannot see the hand-over between the pool's
// threads. The plain style paints the same widgets with lines only, so the checker sees our threads alone.
#define DV_TEST_WIDGET_STYLE() QApplication::setStyle(QStringLiteral("Windows"))
#else
#define DV_TEST_WIDGET_STYLE()
#endif
