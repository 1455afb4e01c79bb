#include "DVStallMonitor.h"

#include <QDateTime>
#include <QSaveFile>

DVStallMonitor::DVStallMonitor(int periodMs, QObject* parent)
    : QObject(parent)
    , _periodMs(periodMs) {
    _timer.setTimerType(Qt::PreciseTimer);
    _timer.setInterval(periodMs);
    connect(&_timer, &QTimer::timeout, this, &DVStallMonitor::tick);
}

void DVStallMonitor::start() {
    _clock.start();
    _lastNs = 0;
    _timer.start();
}

void DVStallMonitor::stop() {
    _timer.stop();
}

void DVStallMonitor::tick() {
    const qint64 now = _clock.nsecsElapsed();
    const double gapMs = double(now - _lastNs) / 1e6 - _periodMs;
    _lastNs = now;
    ++_ticks;
    if (gapMs > 1.0)
        _stalls.append(gapMs);
    if (gapMs > 50.0)
        _longStalls.append(QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss.zzz ")) +
                           QString::number(gapMs, 'f', 1));
    _longestMs = std::max(_longestMs, gapMs);
}

int DVStallMonitor::stallsOver(double thresholdMs) const {
    return int(std::count_if(_stalls.begin(), _stalls.end(), [=](double ms) { return ms > thresholdMs; }));
}

QString DVStallMonitor::report() const {
    return QStringLiteral("longest_stall_ms=%1 ticks=%2 over_16ms=%3 over_50ms=%4")
               .arg(_longestMs, 0, 'f', 1)
               .arg(_ticks)
               .arg(stallsOver(16))
               .arg(stallsOver(50)) +
           (_longStalls.isEmpty()
                ? QString()
                : QStringLiteral("\n  stall ended ") + _longStalls.join(QStringLiteral(" ms\n  stall ended ")) +
                      QStringLiteral(" ms"));
}

bool DVStallMonitor::writeReport(const QString& path) const {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(report().toUtf8() + '\n');
    return file.commit();
}
