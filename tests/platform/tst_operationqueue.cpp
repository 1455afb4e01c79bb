#include "MainThread.h"
#include "OperationQueue.h"
#include "TestMain.h"
#include "WorkerPool.h"

#include <QtTest>

#include <atomic>
#include <thread>
#include <utility>

using namespace std::chrono_literals;

namespace {

bool waitFor(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!condition() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    return condition();
}

// Stays executing after start returns, until the test finishes it.
class AsyncOperation : public Operation {
public:
    bool isConcurrent() const override { return true; }
    void start() override { isCancelled() ? markFinished() : markExecuting(); }
    void complete() { markFinished(); }
};

} // namespace

class TestOperationQueue : public QObject {
    Q_OBJECT

    std::mutex _mutex;
    QStringList _journal;

    // Records its name when it runs, marked with "!" when a dependency was not finished at that moment; one
    // named "F…" fails after that.
    std::shared_ptr<Operation> named(const QString& name) {
        auto operation = std::make_shared<BlockOperation>();
        operation->addExecutionBlock([this, name, self = operation.get()] {
            bool ready = true;
            for (const auto& dependency : self->dependencies())
                ready = ready && dependency->isFinished();
            std::lock_guard lock(_mutex);
            _journal.append(ready ? name : name + "!");
            if (name.startsWith('F'))
                throw std::runtime_error("step failed");
        });
        return operation;
    }
    QStringList journal() {
        std::lock_guard lock(_mutex);
        return std::exchange(_journal, {});
    }

private slots:
    // "B<A": B depends on A. Operations are added in the order given, possibly before their dependencies.
    void dependenciesOrderTheRun_data() {
        QTest::addColumn<QStringList>("added");
        QTest::addColumn<QStringList>("edges");
        QTest::addColumn<int>("limit");
        QTest::newRow("fetch cycle") << QStringList{"A", "D", "I"} << QStringList{"D<A", "I<D"} << 1;
        QTest::newRow("added backwards") << QStringList{"I", "D", "A"} << QStringList{"D<A", "I<D"} << -1;
        QTest::newRow("diamond") << QStringList{"A", "B", "C", "D"} << QStringList{"B<A", "C<A", "D<B", "D<C"} << 10;
        QTest::newRow("failed step still finishes") << QStringList{"F", "A"} << QStringList{"A<F"} << 1;
        QTest::newRow("circle refused") << QStringList{"A", "B"} << QStringList{"B<A", "A<B", "A<A"} << 1;
    }

    void dependenciesOrderTheRun() {
        QFETCH(QStringList, added);
        QFETCH(QStringList, edges);
        QFETCH(int, limit);
        QHash<QString, std::shared_ptr<Operation>> operations;
        for (const QString& name : added)
            operations.insert(name, named(name));
        for (const QString& edge : edges)
            operations[edge.section('<', 0, 0)]->addDependency(operations[edge.section('<', 1, 1)]);
        OperationQueue queue;
        queue.setMaxConcurrentOperationCount(limit);
        for (const QString& name : added)
            queue.addOperation(operations[name]);
        QVERIFY(queue.waitUntilAllOperationsAreFinished(20s));
        QStringList ran = journal();
        ran.sort();
        added.sort();
        QCOMPARE(ran, added); // each once, and none marked "!": each ran after its dependencies
    }

    // A cancelled dependency still has to finish; a cancelled dependent does not wait and skips its work.
    void cancellation() {
        auto running = std::make_shared<AsyncOperation>();
        auto dependent = named("dependent");
        auto skipped = named("skipped");
        dependent->addDependency(running);
        skipped->addDependency(running);
        OperationQueue other; // dependencies reach across queues
        other.addOperation(dependent);
        OperationQueue queue;
        queue.addOperation(running);
        queue.addOperation(skipped);
        QVERIFY(waitFor([&] { return running->isExecuting(); }));
        queue.cancelAllOperations();
        QVERIFY(waitFor([&] { return skipped->isFinished(); }));
        QVERIFY(running->isCancelled() && running->isExecuting());
        QVERIFY(!dependent->isReady());
        running->complete();
        QVERIFY(other.waitUntilAllOperationsAreFinished(20s));
        QVERIFY(queue.waitUntilAllOperationsAreFinished(20s));
        QCOMPARE(journal(), QStringList{"dependent"});
    }

    // Readiness that changes after an operation was queued is seen: a dependency added while it waits
    // holds it back until that dependency finishes; one removed lets it go; a cancel lets it go at once.
    void readinessChangesAfterQueueing_data() {
        QTest::addColumn<QString>("change");
        QTest::newRow("dependency finishes") << "finish";
        QTest::newRow("dependency removed") << "remove";
        QTest::newRow("waiting one cancelled") << "cancel";
    }

    void readinessChangesAfterQueueing() {
        QFETCH(QString, change);
        auto blocker = std::make_shared<AsyncOperation>();
        auto dependency = std::make_shared<AsyncOperation>();
        OperationQueue other;
        other.addOperation(dependency);
        OperationQueue queue;
        queue.setMaxConcurrentOperationCount(1);
        queue.addOperation(blocker);
        auto waiting = named("waiting");
        queue.addOperation(waiting);
        waiting->addDependency(dependency); // still queued behind the blocker
        QVERIFY(waitFor([&] { return blocker->isExecuting() && dependency->isExecuting(); }));
        blocker->complete();
        QVERIFY(waitFor([&] { return queue.operationCount() == 1; }));
        QVERIFY(!waiting->isExecuting() && !waiting->isFinished());
        if (change == QLatin1String("finish"))
            dependency->complete();
        else if (change == QLatin1String("remove"))
            waiting->removeDependency(dependency);
        else
            waiting->cancel();
        QVERIFY(queue.waitUntilAllOperationsAreFinished(20s));
        QCOMPARE(journal(), change == QLatin1String("cancel") ? QStringList() : QStringList{"waiting"});
        dependency->complete();
        QVERIFY(other.waitUntilAllOperationsAreFinished(20s));
    }

    // The first batch waits until the whole batch runs: a queue that allows fewer never gets there, and
    // one that allows more starts another while they linger.
    void concurrencyLimit_data() {
        QTest::addColumn<int>("limit");
        QTest::addColumn<int>("expected");
        QTest::newRow("one") << 1 << 1;
        QTest::newRow("three") << 3 << 3;
        QTest::newRow("unlimited") << -1 << 6;
    }

    void concurrencyLimit() {
        QFETCH(int, limit);
        QFETCH(int, expected);
        std::atomic<int> running{0}, peak{0}, shortfalls{0};
        OperationQueue queue;
        queue.setMaxConcurrentOperationCount(1);
        queue.addOperationWithBlock([&] {
            queue.setMaxConcurrentOperationCount(limit); // raised from inside, as the download step does
            for (int i = 0; i < 6; ++i) {
                queue.addOperationWithBlock([&] {
                    const int now = ++running;
                    for (int seen = peak; now > seen && !peak.compare_exchange_weak(seen, now);) {
                    }
                    if (!waitFor([&] { return peak >= expected; }))
                        ++shortfalls;
                    std::this_thread::sleep_for(20ms); // time for one beyond the limit to start and show
                    --running;
                });
            }
        });
        QVERIFY(queue.waitUntilAllOperationsAreFinished(20s));
        QCOMPARE(shortfalls.load(), 0);
        QCOMPARE(peak.load(), expected);
    }

    // Additions report on the adding thread; the count falls on worker threads, never on the main one,
    // even for an asynchronous operation finished on the main thread, which holds its slot till then.
    void countChangesAreReportedWhereTheyHappen() {
        std::mutex mutex;
        QStringList reports;
        OperationQueue queue;
        queue.setOperationCountChangedHandler([&](int count) {
            std::lock_guard lock(mutex);
            reports.append(QStringLiteral("%1%2").arg(count).arg(MainThread::isMainThread()     ? "m"
                                                                 : WorkerPool::isWorkerThread() ? "w"
                                                                                                : "?"));
        });
        queue.setMaxConcurrentOperationCount(1);
        auto async = std::make_shared<AsyncOperation>();
        queue.addOperation(async);
        queue.addOperation(named("after"));
        QVERIFY(waitFor([&] { return async->isExecuting(); }));
        QCOMPARE(queue.operations().size(), size_t(2));
        QVERIFY(journal().isEmpty());
        async->complete();
        QVERIFY(queue.waitUntilAllOperationsAreFinished(20s));
        QCOMPARE(journal(), QStringList{"after"});
        std::lock_guard lock(mutex);
        QCOMPARE(reports, (QStringList{"1m", "2m", "1w", "0w"}));
    }
};

DV_TEST_GUILESS_MAIN(TestOperationQueue)
#include "tst_operationqueue.moc"
