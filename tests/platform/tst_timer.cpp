#include "TestMain.h"
#include "Timer.h"

#include <QtTest>

#include <memory>
#include <vector>

// Each scripted timer is "name:seconds:once|repeat", optionally followed by ">" and another such timer that
// its action schedules every time it runs. A name starting with "~" is dropped by its owner at once.
class ScriptedTimers {
public:
    void schedule(const QString& script) {
        const QStringList chain = script.split(QLatin1Char('>'));
        const QStringList parts = chain.first().split(QLatin1Char(':'));
        const QString name = parts.at(0);
        const QString then = chain.size() > 1 ? chain.mid(1).join(QLatin1Char('>')) : QString();
        auto timer = Timer::scheduledTimer(parts.at(1).toDouble(), parts.at(2) == QLatin1String("repeat"), [=, this] {
            log << QStringLiteral("%1@%2").arg(name).arg(TimerTestClock::now() - start);
            if (!then.isEmpty())
                schedule(then);
        });
        if (!name.startsWith(QLatin1Char('~')))
            kept.push_back(timer);
    }

    double start = TimerTestClock::now();
    QStringList log;
    std::vector<std::shared_ptr<Timer>> kept;
};

class TestTimer : public QObject {
    Q_OBJECT

private slots:
    void testClockFiresInDueOrder_data() {
        QTest::addColumn<QStringList>("timers");
        QTest::addColumn<QList<double>>("steps");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("one-shot fires once, at its moment")
            << QStringList{"a:300:once"} << QList<double>{299, 1, 1000} << QStringList{"a@300"};
        QTest::newRow("repeating fires each time it falls due within one step")
            << QStringList{"b:10:repeat"} << QList<double>{35} << QStringList{"b@10", "b@20", "b@30"};
        QTest::newRow("interleaved timers in time order")
            << QStringList{"a:3:repeat", "b:5:repeat"} << QList<double>{10}
            << QStringList{"a@3", "b@5", "a@6", "a@9", "b@10"};
        QTest::newRow("same moment: in scheduling order")
            << QStringList{"z:5:once", "a:5:once"} << QList<double>{5} << QStringList{"z@5", "a@5"};
        QTest::newRow("scheduled by an action, due within the step")
            << QStringList{"a:10:once>c:5:once"} << QList<double>{20} << QStringList{"a@10", "c@15"};
        QTest::newRow("scheduled by an action, due after the step")
            << QStringList{"a:10:once>c:15:once"} << QList<double>{20, 4, 1} << QStringList{"a@10", "c@25"};
        QTest::newRow("dropped by its owner: never fires")
            << QStringList{"~x:5:once", "~y:1:repeat", "k:6:once"} << QList<double>{10} << QStringList{"k@6"};
    }

    void testClockFiresInDueOrder() {
        QFETCH(QStringList, timers);
        QFETCH(QList<double>, steps);
        QFETCH(QStringList, expected);
        TimerTestClock::enable();
        ScriptedTimers scripted;
        for (const QString& timer : timers)
            scripted.schedule(timer);
        for (double step : steps)
            TimerTestClock::advance(step);
        QCOMPARE(scripted.log, expected);
        int stillValid = 0;
        for (const auto& timer : scripted.kept)
            stillValid += timer->isValid() ? 1 : 0;
        QCOMPARE(TimerTestClock::validTimerCount(), stillValid);
    }

    // What the action does to its own timer, on the simulated clock and on the real event loop.
    void actionOwnsItsTimer_data() {
        QTest::addColumn<bool>("onEventLoop");
        QTest::addColumn<bool>("repeats");
        QTest::addColumn<QString>("inAction");
        QTest::addColumn<int>("runs");
        for (bool loop : {false, true}) {
            const char* driver = loop ? "event loop" : "test clock";
            QTest::addRow("%s: one-shot", driver) << loop << false << "nothing" << 1;
            QTest::addRow("%s: one-shot drops itself", driver) << loop << false << "drop" << 1;
            QTest::addRow("%s: repeating invalidates itself", driver) << loop << true << "invalidate" << 1;
            QTest::addRow("%s: repeating drops itself", driver) << loop << true << "drop" << 1;
            QTest::addRow("%s: repeating replaces itself", driver) << loop << true << "replace" << 1;
            QTest::addRow("%s: repeating keeps going", driver) << loop << true << "nothing" << 3;
        }
    }

    void actionOwnsItsTimer() {
        QFETCH(bool, onEventLoop);
        QFETCH(bool, repeats);
        QFETCH(QString, inAction);
        QFETCH(int, runs);
        TimerTestClock::enable(!onEventLoop);
        const double interval = onEventLoop ? 0.01 : 1.0;
        int ran = 0;
        bool validInside = false;
        std::shared_ptr<Timer> timer;
        std::shared_ptr<Timer> replacement;
        timer = Timer::scheduledTimer(interval, repeats, [&] {
            ++ran;
            validInside = timer && timer->isValid();
            if (inAction == QLatin1String("invalidate"))
                timer->invalidate();
            else if (inAction == QLatin1String("drop"))
                timer.reset();
            else if (inAction == QLatin1String("replace"))
                timer = Timer::scheduledTimer(1000, true, [] {});
        });
        // The sentinel falls due well after the timer's runs, so runs that should not happen would have.
        bool sentinel = false;
        auto sentinelTimer = Timer::scheduledTimer(interval * 8, false, [&] { sentinel = true; });
        if (onEventLoop)
            QTRY_VERIFY(sentinel && ran >= runs);
        else
            TimerTestClock::advance(interval * runs + interval / 2);
        QVERIFY(validInside);
        if (inAction == QLatin1String("nothing") && repeats) {
            QVERIFY(ran >= runs);
            QVERIFY(timer->isValid());
            timer->invalidate();
            const int before = ran;
            timer->fire();
            QCOMPARE(ran, before);
            return;
        }
        QCOMPARE(ran, runs);
        if (!onEventLoop)
            TimerTestClock::advance(interval * 10);
        QCOMPARE(ran, runs);
        if (inAction == QLatin1String("drop"))
            QVERIFY(!timer);
        else if (inAction == QLatin1String("replace"))
            QVERIFY(timer && timer->isValid());
        else
            QVERIFY(!timer->isValid());
    }

    // fire() runs the action now; a one-shot timer is then spent, a repeating one keeps its schedule.
    void fireRunsNow_data() {
        QTest::addColumn<bool>("repeats");
        QTest::addColumn<bool>("invalidatedFirst");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<bool>("validAfter");
        QTest::newRow("one-shot") << false << false << QStringList{"fired@4"} << false;
        QTest::newRow("repeating keeps its moments") << true << false << QStringList{"fired@4", "@10", "@20"} << true;
        QTest::newRow("invalidated: nothing") << true << true << QStringList{} << false;
    }

    void fireRunsNow() {
        QFETCH(bool, repeats);
        QFETCH(bool, invalidatedFirst);
        QFETCH(QStringList, expected);
        QFETCH(bool, validAfter);
        TimerTestClock::enable();
        const double start = TimerTestClock::now();
        QStringList log;
        QString tag;
        auto timer = Timer::scheduledTimer(10, repeats, [&] {
            log << QStringLiteral("%1@%2").arg(tag).arg(TimerTestClock::now() - start);
            tag.clear();
        });
        if (invalidatedFirst)
            timer->invalidate();
        TimerTestClock::advance(4);
        tag = QStringLiteral("fired");
        timer->fire();
        tag.clear();
        TimerTestClock::advance(20);
        QCOMPARE(log, expected);
        QCOMPARE(timer->isValid(), validAfter);
        QCOMPARE(timer->timeInterval(), 10.0);
    }

    void intervalOfZeroOrLess() {
        TimerTestClock::enable();
        int ran = 0;
        auto timer = Timer::scheduledTimer(-5, false, [&] { ++ran; });
        QVERIFY(timer->timeInterval() > 0);
        TimerTestClock::advance(0.001);
        QCOMPARE(ran, 1);
    }
};

DV_TEST_GUILESS_MAIN(TestTimer)
#include "tst_timer.moc"
