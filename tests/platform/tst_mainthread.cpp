#include "MainThread.h"
#include "TestHome.h"

#include <QtTest>

#include <atomic>
#include <stdexcept>
#include <thread>

class TestMainThread : public QObject {
    Q_OBJECT

private slots:
    void performRunsOnTheMainThreadInOrder() {
        std::vector<int> order; // touched on the main thread only
        std::atomic<int> offMain{0};
        std::thread worker([&] {
            for (int i = 0; i < 50; ++i) {
                MainThread::perform([&, i] {
                    if (!MainThread::isMainThread())
                        ++offMain;
                    order.push_back(i);
                });
            }
        });
        worker.join();
        QTRY_COMPARE(order.size(), size_t(50));
        QCOMPARE(offMain.load(), 0);
        for (int i = 0; i < 50; ++i)
            QCOMPARE(order[size_t(i)], i);
    }

    // Called on the main thread, perform still waits for the next turn of the event loop.
    void performOnTheMainThreadIsNeverInline() {
        bool ran = false;
        MainThread::perform([&] { ran = true; });
        QVERIFY(!ran);
        QTRY_VERIFY(ran);
    }

    void performAndWaitReturnsAfterTheWorkRan() {
        QString seen; // written on the main thread, read by the worker after the call returned
        bool ranOnMain = false;
        QString afterwards;
        std::atomic<bool> done{false};
        std::thread worker([&] {
            MainThread::performAndWait([&] {
                ranOnMain = MainThread::isMainThread();
                seen = QStringLiteral("written on main");
            });
            afterwards = seen;
            done = true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(done.load(), 20000);
        worker.join();
        QVERIFY(ranOnMain);
        QCOMPARE(afterwards, QStringLiteral("written on main"));
    }

    void performAndWaitOnTheMainThreadIsDirect() {
        bool ran = false;
        MainThread::performAndWait([&] { ran = true; });
        QVERIFY(ran);
        QVERIFY(MainThread::isMainThread());
        bool workerIsMain = true;
        std::thread([&] { workerIsMain = MainThread::isMainThread(); }).join();
        QVERIFY(!workerIsMain);
    }

    void exceptionReachesTheWaitingCaller() {
        std::atomic<bool> caught{false};
        std::atomic<bool> done{false};
        std::thread worker([&] {
            try {
                MainThread::performAndWait([] { throw std::runtime_error("on main"); });
            } catch (const std::runtime_error& error) {
                caught = QByteArray(error.what()) == "on main";
            }
            done = true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(done.load(), 20000);
        worker.join();
        QVERIFY(caught.load());
    }

    void manyWaitingThreadsAreAllServed() {
        int total = 0; // main thread only
        std::atomic<int> finished{0};
        std::vector<std::thread> workers;
        for (int t = 0; t < 8; ++t) {
            workers.emplace_back([&] {
                for (int i = 0; i < 20; ++i)
                    MainThread::performAndWait([&] { ++total; });
                ++finished;
            });
        }
        QTRY_COMPARE_WITH_TIMEOUT(finished.load(), 8, 20000);
        for (std::thread& worker : workers)
            worker.join();
        QCOMPARE(total, 160);
    }
};

DV_TEST_GUILESS_MAIN(TestMainThread)
#include "tst_mainthread.moc"
