#include "MainThread.h"
#include "TestMain.h"

#include <QtTest>

#include <atomic>
#include <thread>

class TestMainThread : public QObject {
    Q_OBJECT

private slots:
    void performQueuesInOrderAndNeverInline() {
        std::vector<int> order; // main thread only
        bool offMain = false;
        std::thread([&] {
            for (int i = 0; i < 20; ++i)
                MainThread::perform([&, i] {
                    offMain = offMain || !MainThread::isMainThread();
                    order.push_back(i);
                });
        }).join();
        MainThread::perform([&] { order.push_back(20); });
        QVERIFY(order.empty());
        QTRY_COMPARE(order.size(), size_t(21));
        QVERIFY(std::is_sorted(order.begin(), order.end()) && !offMain);
    }

    // Many threads wait at once; each returns only after its work ran, and an exception comes back with it.
    void performAndWaitRunsBeforeReturning() {
        int total = 0; // main thread only
        std::atomic<int> done{0}, caught{0};
        std::vector<std::thread> workers;
        for (int t = 0; t < 4; ++t)
            workers.emplace_back([&] {
                for (int i = 0; i < 10; ++i)
                    MainThread::performAndWait([&] { ++total; });
                try {
                    MainThread::performAndWait([] { throw std::runtime_error("on main"); });
                } catch (const std::runtime_error&) {
                    ++caught;
                }
                ++done;
            });
        QTRY_COMPARE_WITH_TIMEOUT(done.load(), 4, 20000);
        for (std::thread& worker : workers)
            worker.join();
        QCOMPARE(total, 40);
        QCOMPARE(caught.load(), 4);
        bool direct = false;
        MainThread::performAndWait([&] { direct = true; });
        QVERIFY(direct);
    }
};

DV_TEST_GUILESS_MAIN(TestMainThread)
#include "tst_mainthread.moc"
