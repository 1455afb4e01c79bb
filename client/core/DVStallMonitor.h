#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

// Measures how long the main thread goes without turning its event loop: a short repeating timer notes
// the time between its ticks, and whatever exceeds the period is a stall. A development aid behind the
// setting "DVStallReport" (a file path): the client then writes the longest stall there when it quits.
class DVStallMonitor : public QObject {
    Q_OBJECT

public:
    explicit DVStallMonitor(int periodMs = 5, QObject* parent = nullptr);

    void start();
    void stop();

    // The longest stall so far, in milliseconds beyond the period, and how many ticks were seen.
    double longestStallMs() const { return _longestMs; }
    qint64 ticks() const { return _ticks; }
    // Stalls longer than the threshold, counted.
    int stallsOver(double thresholdMs) const;

    // "longest_stall_ms=… ticks=… over_16ms=… over_50ms=…", then one line per stall over 50 ms with the
    // time it ended (as the log writes times), to be matched with the log lines around it.
    QString report() const;
    bool writeReport(const QString& path) const;

private:
    void tick();

    int _periodMs;
    QTimer _timer;
    QElapsedTimer _clock;
    qint64 _lastNs = 0;
    qint64 _ticks = 0;
    double _longestMs = 0;
    QList<double> _stalls;   // every gap beyond one millisecond past the period
    QStringList _longStalls; // "<time> <ms>" for each stall over 50 ms
};
