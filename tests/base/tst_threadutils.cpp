// Guards thread dispatch, the exception-catching thread and the bounded sleep, against real threads.
#include <base/ThreadUtils.h>

#include <QElapsedTimer>
#include <QSemaphore>
#include <QtTest>

#include <atomic>
#include <memory>
#include <stdexcept>

namespace {

// A worker thread running its own event loop, stopped and joined when it goes out of scope.
struct EventThread : QThread
{
    EventThread() { start(); }
    ~EventThread() override { quit(), wait(); }
};

// A thread whose body is given.
struct ScriptedThread : Nerova::TryThread
{
    std::function<void()> body;
    void tryRun() override { body(); }
};

} // namespace

class TestThreadUtils : public QObject
{
    Q_OBJECT

private slots:
    void workRunsLaterOnTheTargetThread()
    {
        EventThread worker;
        // Hold the worker's event loop so nothing dispatched can run before the calls below have returned.
        QSemaphore entered;
        QSemaphore release;
        Nerova::dispatchToThread(&worker, [&] { entered.release(), release.acquire(); });
        QVERIFY(entered.tryAcquire(1, 10000));
        Nerova::dispatchToThread(&worker, std::function<void()>()); // empty work disturbs nothing
        std::atomic<int> ran{0};
        std::atomic<int> onWrongThread{0};
        auto token = std::make_shared<int>(0);
        for (int i = 0; i < 200; ++i)
            Nerova::dispatchToThread(
                &worker, [&, token] { onWrongThread += QThread::currentThread() != &worker, ++ran; });
        QCOMPARE(ran.load(), 0);
        release.release();
        QTRY_COMPARE(ran.load(), 200);
        QCOMPARE(onWrongThread.load(), 0);
        QTRY_COMPARE(token.use_count(), 1L); // each piece of work is released once it has run

        // From a worker back to the main thread, which also runs its work only from its event loop.
        std::atomic<QThread*> ranOn{nullptr};
        Nerova::dispatchToThread(
            &worker, [&] { Nerova::dispatchToMainThread([&] { ranOn = QThread::currentThread(); }); });
        QTRY_COMPARE(ranOn.load(), QCoreApplication::instance()->thread());
        Nerova::dispatchToMainThread(nullptr);
        Nerova::dispatchToThread(QThread::currentThread(), [&] { ++ran; });
        QCOMPARE(ran.load(), 200);
        QTRY_COMPARE(ran.load(), 201);
    }

    void workFollowsTheThreadsLife()
    {
        auto token = std::make_shared<int>(0);
        std::atomic<int> ran{0};
        // A null thread drops the work at once, not parked somewhere.
        Nerova::dispatchToThread(nullptr, [&ran, token] { ++ran; });
        QCOMPARE(token.use_count(), 1L);
        // A thread not started yet holds the work until its event loop runs.
        QThread thread;
        Nerova::dispatchToThread(&thread, [&ran] { ++ran; });
        QCoreApplication::processEvents();
        QCOMPARE(ran.load(), 0);
        thread.start();
        QTRY_COMPARE(ran.load(), 1);
        thread.quit();
        QVERIFY(thread.wait(10000));
        // A thread that ends without running its event loop never runs the work, nor keeps it forever.
        std::unique_ptr<QThread> loopless(QThread::create([] {}));
        Nerova::dispatchToThread(loopless.get(), [&ran, token] { ++ran; });
        loopless->start();
        QVERIFY(loopless->wait(10000));
        QTRY_COMPARE(token.use_count(), 1L);
        QCOMPARE(ran.load(), 1);
    }

    void tryThreadReportsEachRun()
    {
        ScriptedThread thread;
        // Counted on this thread: the signals come from the worker and arrive queued, in order.
        int thrown = 0;
        int finished = 0;
        connect(&thread, &Nerova::TryThread::exceptionThrowOut, this, [&] { ++thrown; });
        connect(&thread, &QThread::finished, this, [&] { ++finished; });
        QVERIFY(!thread.isFinishedSuccess()); // not run yet
        // Each run reports its own outcome, not one left over from an earlier run.
        const std::pair<std::function<void()>, bool> runs[] = {
            {[] { throw std::runtime_error("broken"); }, false},
            {[] {}, true},
            {[] { throw 42; }, false},
            {[] {}, true}};
        for (const auto& run : runs) {
            thread.body = run.first;
            thread.start();
            QVERIFY(thread.wait(10000));
            QCOMPARE(thread.isFinishedSuccess(), run.second);
        }
        QTRY_COMPARE(finished, 4);
        QCOMPARE(thrown, 2);
    }

    void rangeSleepLowerBounds()
    {
        // {asked, maximum, at least}: 10 ms less than asked when within range, else 1 ms; no limit may wrap.
        const int kMin = std::numeric_limits<int>::min();
        const int runs[][3] = {{50, 100, 40}, {200, 190, 1}, {10, 100, 1}, {kMin, 100, 1}, {50, kMin, 1}};
        for (const auto& run : runs) {
            QElapsedTimer clock;
            clock.start();
            Nerova::rangeSleep(run[0], run[1]);
            QVERIFY2(clock.nsecsElapsed() >= run[2] * 1000000LL, qPrintable(QString::number(run[0])));
        }
    }
};

QTEST_GUILESS_MAIN(TestThreadUtils)
#include "tst_threadutils.moc"
