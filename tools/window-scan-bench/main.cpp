// Measures one scan of the windows on screen as the window watcher makes it: puts a number of windows of
// other applications on the X server (under the window manager that runs there), then times reading the
// window list and the watcher's whole scan many times and prints the spread.
//   window-scan-bench [--windows N] [--scans N]
#include "DVFetchWindowWatcher.h"
#include "DocuvaneFetchIdentity.h"
#include "WindowList.h"
#include "X11TestWindows.h"

#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QGuiApplication>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

struct Spread {
    double median = 0, p95 = 0, max = 0;
    double cpu = 0; // mean CPU time of this thread per run
};

double threadCpuMicros() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1000.0;
}

Spread spread(std::vector<double> micros) {
    std::sort(micros.begin(), micros.end());
    Spread result;
    result.median = micros[micros.size() / 2];
    result.p95 = micros[std::min(micros.size() - 1, micros.size() * 95 / 100)];
    result.max = micros.back();
    return result;
}

template <typename Fn> Spread timeRuns(int runs, Fn fn) {
    std::vector<double> micros;
    micros.reserve(static_cast<size_t>(runs));
    const double cpuBefore = threadCpuMicros();
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer clock;
        clock.start();
        fn();
        micros.push_back(static_cast<double>(clock.nsecsElapsed()) / 1000.0);
    }
    Spread result = spread(std::move(micros));
    result.cpu = (threadCpuMicros() - cpuBefore) / runs;
    return result;
}

} // namespace

int main(int argc, char* argv[]) {
    DocuvaneFetchIdentity::install();
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOption(
        {QStringLiteral("windows"), QStringLiteral("Windows on screen."), QStringLiteral("N"), QStringLiteral("50")});
    parser.addOption(
        {QStringLiteral("scans"), QStringLiteral("Scans timed."), QStringLiteral("N"), QStringLiteral("500")});
    parser.process(app);
    const int count = parser.value(QStringLiteral("windows")).toInt();
    const int scans = std::max(1, parser.value(QStringLiteral("scans")).toInt());

    X11TestWindows x;
    if (!x.isConnected()) {
        std::fprintf(stderr, "window-scan-bench: no X server\n");
        return 1;
    }
    const bool managed = x.waitForWindowManager(5000);
    // Applications of many kinds; the file manager showing the fetch folder is at the back, so a scan reads
    // the whole list but ends at the first window.
    static const char* const classes[] = {"firefox-esr", "org.gnome.Terminal", "libreoffice-writer", "Thunar",
                                          "evince",      "org.gnome.Nautilus"};
    for (int i = 0; i < count; ++i) {
        const QByteArray cls = i == 0 ? QByteArray("org.gnome.Nautilus") : QByteArray(classes[i % 6]);
        const QByteArray title = i == 0 ? QByteArray("Docuvane Fetch") : "Window " + QByteArray::number(i);
        x.create(X11TestWindows::Shape{cls, title, title, i % 7 == 3 ? QByteArray("DIALOG") : QByteArray()});
    }
    int listed = 0;
    x.waitUntil(
        [&] {
            listed = static_cast<int>(WindowList::onScreenWindows().value_or(QList<WindowDescription>()).size());
            return listed >= count;
        },
        10000);

    const Spread list = timeRuns(scans, [] { (void)WindowList::onScreenWindows(); });
    DVFetchWindowWatcher watcher(nullptr);
    int checks = 0;
    watcher.setCheckAction([&] { ++checks; });
    const Spread scan = timeRuns(scans, [&] { watcher.updateWindowList(); });

    std::printf("windows=%d listed=%d manager=%s scans=%d\n", count, listed, managed ? "yes" : "no", scans);
    std::printf("window list: median=%.0f us p95=%.0f us max=%.0f us, main-thread CPU %.0f us\n", list.median, list.p95,
                list.max, list.cpu);
    std::printf("watcher scan: median=%.0f us p95=%.0f us max=%.0f us, main-thread CPU %.0f us (checks asked: %d)\n",
                scan.median, scan.p95, scan.max, scan.cpu, checks);
    return listed >= count ? 0 : 1;
}
