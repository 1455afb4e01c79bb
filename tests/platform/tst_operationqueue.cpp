#include "MainThread.h"
#include "OperationQueue.h"
#include "TestHome.h"
#include "WorkerPool.h"

#include <QtTest>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

using namespace std::chrono_literals;

namespace {

// A gate that operations wait at until the test opens it.
class Gate {
public:
    void open() {
        {
            std::lock_guard lock(_mutex);
            _open = true;
        }
        _condition.notify_all();
    }
    // False when it stayed shut for the whole (generous) wait: the test then fails instead of hanging.
    bool wait() {
        std::unique_lock lock(_mutex);
        return _condition.wait_for(lock, 20s, [this] { return _open; });
    }

private:
    std::mutex _mutex;
    std::condition_variable _condition;
    bool _open = false;
};

// Records, in order, which operations ran, and whether their dependencies were finished at that moment.
class Journal {
public:
    void record(const QString& name, bool dependenciesFinished) {
        std::lock_guard lock(_mutex);
        _names.append(name);
        if (!dependenciesFinished)
            _violations.append(name);
    }
    QStringList names() const {
        std::lock_guard lock(_mutex);
        return _names;
    }
    QStringList violations() const {
        std::lock_guard lock(_mutex);
        return _violations;
    }

private:
    mutable std::mutex _mutex;
    QStringList _names;
    QStringList _violations;
};

class JournalOperation : public Operation {
public:
    // The name is copied, not shared: operations may end on a worker after the test's data is gone.
    JournalOperation(Journal& journal, const QString& name)
        : _journal(journal)
        , _name(name.toStdString()) {}
    void main() override {
        bool finished = true;
        for (const auto& dependency : dependencies())
            finished = finished && dependency->isFinished();
        _journal.record(QString::fromStdString(_name), finished);
    }

private:
    Journal& _journal;
    std::string _name;
};

// Stays executing after start returns, until the test finishes it from outside.
class AsyncOperation : public Operation {
public:
    bool isConcurrent() const override { return true; }
    void start() override {
        started = true;
        if (isCancelled()) {
            markFinished();
            return;
        }
        markExecuting();
    }
    void complete() { markFinished(); }
    std::atomic<bool> started{false};
};

bool waitFor(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

} // namespace

class TestOperationQueue : public QObject {
    Q_OBJECT

private slots:
    // Each row: operations named by letters, "B<A" meaning B depends on A, added in the given order.
    void dependenciesOrderTheRun_data() {
        QTest::addColumn<QStringList>("added");
        QTest::addColumn<QStringList>("edges");
        QTest::addColumn<int>("maxConcurrent");
        QTest::newRow("chain added in order, one at a time")
            << QStringList{"A", "D", "I"} << QStringList{"D<A", "I<D"} << 1;
        QTest::newRow("chain added backwards, unlimited")
            << QStringList{"I", "D", "A"} << QStringList{"D<A", "I<D"} << -1;
        QTest::newRow("diamond") << QStringList{"A", "B", "C", "D"} << QStringList{"B<A", "C<A", "D<B", "D<C"} << 10;
        QTest::newRow("pairs like downloads and reports")
            << QStringList{"G1", "T1", "G2", "T2", "G3", "T3"} << QStringList{"T1<G1", "T2<G2", "T3<G3"} << 10;
    }

    void dependenciesOrderTheRun() {
        QFETCH(QStringList, added);
        QFETCH(QStringList, edges);
        QFETCH(int, maxConcurrent);
        Journal journal;
        QHash<QString, std::shared_ptr<Operation>> operations;
        for (const QString& name : added)
            operations.insert(name, std::make_shared<JournalOperation>(journal, name));
        for (const QString& edge : edges)
            operations[edge.section('<', 0, 0)]->addDependency(operations[edge.section('<', 1, 1)]);
        OperationQueue queue;
        queue.setMaxConcurrentOperationCount(maxConcurrent);
        for (const QString& name : added)
            queue.addOperation(operations[name]);
        queue.waitUntilAllOperationsAreFinished();
        QCOMPARE(journal.names().size(), added.size());
        QCOMPARE(journal.violations(), QStringList());
        for (const QString& edge : edges) {
            const QStringList names = journal.names();
            QVERIFY2(names.indexOf(edge.section('<', 1, 1)) < names.indexOf(edge.section('<', 0, 0)), qPrintable(edge));
        }
    }

    void dependencyInAnotherQueueIsAwaited() {
        Journal journal;
        auto first = std::make_shared<AsyncOperation>();
        auto second = std::make_shared<JournalOperation>(journal, QStringLiteral("second"));
        second->addDependency(first);
        OperationQueue one;
        OperationQueue two;
        two.addOperation(second);
        one.addOperation(first);
        QVERIFY(waitFor([&] { return first->isExecuting(); }));
        QVERIFY(!second->isReady());
        first->complete();
        two.waitUntilAllOperationsAreFinished();
        QCOMPARE(journal.names(), QStringList{QStringLiteral("second")});
        QCOMPARE(journal.violations(), QStringList());
    }

    // A cancelled dependency still has to finish before its dependents start.
    void cancelledDependencyIsAwaitedUntilFinished() {
        Journal journal;
        auto running = std::make_shared<AsyncOperation>();
        auto dependent = std::make_shared<JournalOperation>(journal, QStringLiteral("dependent"));
        dependent->addDependency(running);
        OperationQueue queue;
        queue.addOperation(running);
        queue.addOperation(dependent);
        QVERIFY(waitFor([&] { return running->isExecuting(); }));
        running->cancel();
        QVERIFY(running->isCancelled());
        QVERIFY(running->isExecuting());
        QVERIFY(!dependent->isReady());
        QCOMPARE(queue.operationCount(), 2);
        running->complete();
        queue.waitUntilAllOperationsAreFinished();
        QCOMPARE(journal.names(), QStringList{QStringLiteral("dependent")});
    }

    // A waiting operation that is cancelled becomes ready at once and finishes without running its work.
    void cancelledWaitingOperationFinishesWithoutWork() {
        Journal journal;
        auto blocker = std::make_shared<AsyncOperation>();
        auto waiting = std::make_shared<JournalOperation>(journal, QStringLiteral("waiting"));
        waiting->addDependency(blocker);
        OperationQueue queue;
        queue.addOperation(blocker);
        queue.addOperation(waiting);
        QVERIFY(waitFor([&] { return blocker->isExecuting(); }));
        waiting->cancel();
        waiting->waitUntilFinished();
        QVERIFY(blocker->isExecuting());
        QVERIFY(waiting->isCancelled());
        QVERIFY(waiting->isFinished());
        QVERIFY(journal.names().isEmpty());
        blocker->complete();
        queue.waitUntilAllOperationsAreFinished();
    }

    void concurrencyLimitIsReachedAndKept_data() {
        QTest::addColumn<int>("limit");
        QTest::addColumn<int>("operations");
        QTest::newRow("one") << 1 << 4;
        QTest::newRow("two") << 2 << 6;
        QTest::newRow("ten, fewer operations") << 10 << 4;
        QTest::newRow("unlimited") << -1 << 6;
    }

    void concurrencyLimitIsReachedAndKept() {
        QFETCH(int, limit);
        QFETCH(int, operations);
        const int expected = limit < 0 ? operations : std::min(limit, operations);
        std::atomic<int> running{0};
        std::atomic<int> peak{0};
        std::atomic<int> shortfalls{0};
        OperationQueue queue;
        queue.setMaxConcurrentOperationCount(limit);
        for (int i = 0; i < operations; ++i) {
            queue.addOperationWithBlock([&, i] {
                const int now = ++running;
                int seen = peak.load();
                while (now > seen && !peak.compare_exchange_weak(seen, now)) {
                }
                // The first batch waits until the whole batch runs: a queue that allows fewer never gets there.
                if (i < expected && !waitFor([&] { return peak.load() >= expected; }))
                    ++shortfalls;
                --running;
            });
        }
        queue.waitUntilAllOperationsAreFinished();
        QCOMPARE(shortfalls.load(), 0);
        QCOMPARE(peak.load(), expected);
    }

    // A block step raises the limit from inside the queue, as the download step does.
    void raisingTheLimitFromInsideStartsWaitingWork() {
        OperationQueue queue;
        queue.setMaxConcurrentOperationCount(1);
        std::atomic<int> running{0};
        std::atomic<int> peak{0};
        Gate gate;
        queue.addOperationWithBlock([&] {
            queue.setMaxConcurrentOperationCount(3);
            for (int i = 0; i < 3; ++i) {
                queue.addOperationWithBlock([&] {
                    peak = std::max(peak.load(), ++running);
                    gate.wait();
                    --running;
                });
            }
        });
        QVERIFY(waitFor([&] { return running.load() == 3; }));
        gate.open();
        queue.waitUntilAllOperationsAreFinished();
        QCOMPARE(peak.load(), 3);
        QCOMPARE(queue.maxConcurrentOperationCount(), 3);
    }

    // An asynchronous operation holds its place until it says it is finished.
    void asynchronousOperationHoldsItsSlot() {
        Journal journal;
        auto async = std::make_shared<AsyncOperation>();
        auto next = std::make_shared<JournalOperation>(journal, QStringLiteral("next"));
        OperationQueue queue;
        queue.setMaxConcurrentOperationCount(1);
        queue.addOperation(async);
        queue.addOperation(next);
        QVERIFY(waitFor([&] { return async->started.load(); }));
        QVERIFY(async->isExecuting());
        QVERIFY(!next->isExecuting() && !next->isFinished());
        QCOMPARE(queue.operationCount(), 2);
        async->complete();
        queue.waitUntilAllOperationsAreFinished();
        QCOMPARE(journal.names(), QStringList{QStringLiteral("next")});
    }

    void operationsAreASnapshotInOrder() {
        auto first = std::make_shared<AsyncOperation>();
        auto second = std::make_shared<AsyncOperation>();
        auto third = std::make_shared<AsyncOperation>();
        OperationQueue queue;
        queue.setMaxConcurrentOperationCount(1);
        queue.addOperation(first);
        queue.addOperation(second);
        queue.addOperation(third);
        const std::vector<std::shared_ptr<Operation>> snapshot = queue.operations();
        QCOMPARE(snapshot.size(), size_t(3));
        QCOMPARE(snapshot[0], std::shared_ptr<Operation>(first));
        QCOMPARE(snapshot[2], std::shared_ptr<Operation>(third));
        QVERIFY(waitFor([&] { return first->started.load(); }));
        first->complete();
        QVERIFY(waitFor([&] { return queue.operationCount() == 2; }));
        QCOMPARE(queue.operations().front(), std::shared_ptr<Operation>(second));
        QCOMPARE(snapshot.size(), size_t(3));
        queue.cancelAllOperations();
        QVERIFY(waitFor([&] { return second->started.load(); }));
        second->complete();
        queue.waitUntilAllOperationsAreFinished();
        QVERIFY(third->isCancelled());
    }

    void cancelAllOperationsLetsTheQueueEmpty() {
        Journal journal;
        auto async = std::make_shared<AsyncOperation>();
        OperationQueue queue;
        queue.setMaxConcurrentOperationCount(1);
        queue.addOperation(async);
        std::vector<std::shared_ptr<Operation>> rest;
        for (int i = 0; i < 5; ++i) {
            rest.push_back(std::make_shared<JournalOperation>(journal, QString::number(i)));
            rest.back()->addDependency(async);
            queue.addOperation(rest.back());
        }
        QVERIFY(waitFor([&] { return async->isExecuting(); }));
        queue.cancelAllOperations();
        QVERIFY(async->isCancelled());
        async->complete();
        queue.waitUntilAllOperationsAreFinished();
        QVERIFY(journal.names().isEmpty());
        for (const auto& operation : rest)
            QVERIFY(operation->isFinished() && operation->isCancelled());
    }

    // The count falls on a worker thread, never the main one; additions report on the adding thread.
    void countChangesAreReportedWhereTheyHappen() {
        struct Report {
            int count;
            bool onWorker;
            bool onMain;
        };
        std::mutex mutex;
        std::vector<Report> reports;
        OperationQueue queue;
        queue.setOperationCountChangedHandler([&](int count) {
            std::lock_guard lock(mutex);
            reports.push_back({count, WorkerPool::isWorkerThread(), MainThread::isMainThread()});
        });
        Gate gate;
        queue.setMaxConcurrentOperationCount(1);
        auto async = std::make_shared<AsyncOperation>();
        queue.addOperation(async);
        queue.addOperationWithBlock([&] { gate.wait(); });
        queue.addOperationWithBlock([] {});
        QVERIFY(waitFor([&] { return async->isExecuting(); }));
        async->complete(); // finished on the main thread: it leaves the queue on a worker all the same
        gate.open();
        queue.waitUntilAllOperationsAreFinished();
        QVERIFY(waitFor([&] {
            std::lock_guard lock(mutex);
            return reports.size() == 6;
        }));
        std::lock_guard lock(mutex);
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(reports[i].count, i + 1);
            QVERIFY(reports[i].onMain);
        }
        QList<int> falling;
        for (size_t i = 3; i < reports.size(); ++i) {
            falling.append(reports[i].count);
            QVERIFY(reports[i].onWorker);
            QVERIFY(!reports[i].onMain);
        }
        std::sort(falling.begin(), falling.end());
        QCOMPARE(falling, (QList<int>{0, 1, 2}));
    }

    // A dependency that would close a circle is refused instead of blocking both for ever.
    void circularDependencyIsRefused() {
        Journal journal;
        auto a = std::make_shared<JournalOperation>(journal, QStringLiteral("a"));
        auto b = std::make_shared<JournalOperation>(journal, QStringLiteral("b"));
        auto c = std::make_shared<JournalOperation>(journal, QStringLiteral("c"));
        b->addDependency(a);
        c->addDependency(b);
        a->addDependency(c);
        a->addDependency(a);
        QVERIFY(a->dependencies().empty());
        OperationQueue queue;
        queue.addOperation(c);
        queue.addOperation(b);
        queue.addOperation(a);
        queue.waitUntilAllOperationsAreFinished();
        QCOMPARE(journal.names(), (QStringList{"a", "b", "c"}));
    }

    void exceptionInAStepDoesNotStopTheQueue() {
        Journal journal;
        OperationQueue queue;
        queue.setMaxConcurrentOperationCount(1);
        auto throwing = queue.addOperationWithBlock([] { throw std::runtime_error("step failed"); });
        auto after = std::make_shared<JournalOperation>(journal, QStringLiteral("after"));
        after->addDependency(throwing);
        queue.addOperation(after);
        queue.waitUntilAllOperationsAreFinished();
        QVERIFY(throwing->isFinished());
        QCOMPARE(journal.names(), QStringList{QStringLiteral("after")});
    }

    void anOperationRunsInOneQueueOnce() {
        std::atomic<int> runs{0};
        auto operation = std::make_shared<BlockOperation>([&] { ++runs; });
        OperationQueue one;
        OperationQueue two;
        one.addOperation(operation);
        two.addOperation(operation);
        one.addOperation(operation);
        QCOMPARE(two.operationCount(), 0);
        one.waitUntilAllOperationsAreFinished();
        one.addOperation(operation);
        QCOMPARE(one.operationCount(), 0);
        QCOMPARE(runs.load(), 1);
    }

    void destroyingTheQueueCancelsWaitingWork() {
        Journal journal;
        auto async = std::make_shared<AsyncOperation>();
        auto waiting = std::make_shared<JournalOperation>(journal, QStringLiteral("waiting"));
        waiting->addDependency(async);
        {
            OperationQueue queue;
            queue.addOperation(async);
            queue.addOperation(waiting);
            QVERIFY(waitFor([&] { return async->isExecuting(); }));
        }
        waiting->waitUntilFinished();
        async->complete();
        QVERIFY(journal.names().isEmpty());
    }
};

DV_TEST_GUILESS_MAIN(TestOperationQueue)
#include "tst_operationqueue.moc"
