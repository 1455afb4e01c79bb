#include "QuitSignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QtDebug>

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// [0] is written by the handler, [1] read on the main thread.
int g_pair[2] = {-1, -1};
std::atomic<int> g_lastSignal{0};

void onSignal(int number) {
    const int savedErrno = errno;
    const char byte = static_cast<char>(number);
    // A full socket already holds a quit request; the byte is not needed.
    [[maybe_unused]] const ssize_t written = ::write(g_pair[0], &byte, 1);
    errno = savedErrno;
}

void readSignals() {
    char bytes[16];
    ssize_t count = 0;
    while ((count = ::read(g_pair[1], bytes, sizeof bytes)) > 0) {
        for (ssize_t i = 0; i < count; ++i) {
            int expected = 0;
            g_lastSignal.compare_exchange_strong(expected, static_cast<unsigned char>(bytes[i]));
        }
    }
    if (g_lastSignal.load() != 0)
        QCoreApplication::exit(0);
}

} // namespace

bool QuitSignals::install() {
    if (g_pair[0] >= 0)
        return true;
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) {
        qWarning("QuitSignals: install it after the application object is made");
        return false;
    }
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, g_pair) != 0) {
        qWarning("QuitSignals: no socket pair, the quit signals keep their default effect");
        g_pair[0] = g_pair[1] = -1;
        return false;
    }
    auto* notifier = new QSocketNotifier(g_pair[1], QSocketNotifier::Read, app);
    QObject::connect(notifier, &QSocketNotifier::activated, app, [] { readSignals(); });

    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int number : kSignals)
        ::sigaction(number, &action, nullptr);
    return true;
}

int QuitSignals::lastSignal() {
    return g_lastSignal.load();
}

int QuitSignals::exitStatus() {
    const int number = lastSignal();
    return number == 0 ? 0 : 128 + number;
}

QString QuitSignals::signalName() {
    switch (lastSignal()) {
    case SIGTERM:
        return QStringLiteral("SIGTERM");
    case SIGINT:
        return QStringLiteral("SIGINT");
    case SIGHUP:
        return QStringLiteral("SIGHUP");
    default:
        return QString();
    }
}
