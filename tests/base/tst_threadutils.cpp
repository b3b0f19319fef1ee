// Thread dispatch, the exception-catching thread and the bounded sleep, against real threads.

#include <base/ThreadUtils.h>

#include <QElapsedTimer>
#include <QSemaphore>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <memory>
#include <stdexcept>

namespace {

// A worker thread running its own event loop, stopped and joined when it goes out of scope.
class EventThread
{
public:
    EventThread() { mThread.start(); }
    ~EventThread()
    {
        mThread.quit();
        mThread.wait();
    }
    QThread* thread() { return &mThread; }

private:
    QThread mThread;
};

struct NotAStdException
{
    int code;
};

class ScriptedThread : public Nerova::TryThread
{
public:
    enum class Outcome { Return, ThrowStd, ThrowInt, ThrowOther };
    explicit ScriptedThread(Outcome outcome) : mOutcome(outcome) {}
    void setOutcome(Outcome outcome) { mOutcome = outcome; }

protected:
    void tryRun() override
    {
        switch (mOutcome) {
        case Outcome::Return:
            return;
        case Outcome::ThrowStd:
            throw std::runtime_error("broken");
        case Outcome::ThrowInt:
            throw 42;
        case Outcome::ThrowOther:
            throw NotAStdException{7};
        }
    }

private:
    Outcome mOutcome;
};

} // namespace

Q_DECLARE_METATYPE(ScriptedThread::Outcome)

class TestThreadUtils : public QObject
{
    Q_OBJECT

private slots:
    void basicObjectIsAPlainQObject();
    void nullThreadDropsTheWork();
    void workRunsOnTheTargetThreadLater_data();
    void workRunsOnTheTargetThreadLater();
    void workOnOwnThreadWaitsForTheEventLoop();
    void mainThreadDispatchFromAWorker();
    void emptyWorkIsHarmless();
    void workWaitsForAnEventLoop();
    void threadWithoutEventLoopFreesTheWork();
    void tryThreadOutcome_data();
    void tryThreadOutcome();
    void tryThreadReportsEachRun();
    void rangeSleepLowerBounds_data();
    void rangeSleepLowerBounds();
};

void TestThreadUtils::basicObjectIsAPlainQObject()
{
    Nerova::BasicObject object;
    QCOMPARE(object.metaObject()->className(), "Nerova::BasicObject");
    QCOMPARE(object.metaObject()->superClass(), &QObject::staticMetaObject);
    QCOMPARE(object.metaObject()->methodCount(), QObject::staticMetaObject.methodCount());
    QCOMPARE(object.metaObject()->propertyCount(), QObject::staticMetaObject.propertyCount());
    QCOMPARE(sizeof(Nerova::BasicObject), sizeof(QObject));
    QCOMPARE(object.parent(), nullptr);

    // The assertions only document intent: called from the wrong thread they still do nothing.
    EventThread worker;
    std::atomic<bool> done{false};
    Nerova::dispatchToThread(worker.thread(), [&] {
        object.assertOwnThread();
        object.assertMainThread();
        Nerova::assertOwnThread(&object);
        Nerova::assertOwnThread(nullptr);
        Nerova::assertMainThread();
        done = true;
    });
    QTRY_VERIFY(done.load());
    QCOMPARE(Nerova::TryThread::staticMetaObject.className(), "Nerova::TryThread");
}

void TestThreadUtils::nullThreadDropsTheWork()
{
    auto token = std::make_shared<int>(0);
    std::atomic<bool> ran{false};
    Nerova::dispatchToThread(nullptr, [&ran, token] { ran = true; });
    // Dropped at once, not parked somewhere: only this test still holds the token.
    QCOMPARE(token.use_count(), 1L);
    QCoreApplication::processEvents();
    QVERIFY(!ran.load());
}

void TestThreadUtils::workRunsOnTheTargetThreadLater_data()
{
    QTest::addColumn<int>("count");
    QTest::newRow("one") << 1;
    QTest::newRow("many") << 200;
}

void TestThreadUtils::workRunsOnTheTargetThreadLater()
{
    QFETCH(int, count);
    EventThread worker;
    // Hold the worker's event loop so nothing dispatched can run before the calls below have returned.
    QSemaphore entered;
    QSemaphore release;
    Nerova::dispatchToThread(worker.thread(), [&] {
        entered.release();
        release.acquire();
    });
    QVERIFY(entered.tryAcquire(1, 10000));

    std::atomic<int> ran{0};
    std::atomic<int> onWrongThread{0};
    auto token = std::make_shared<int>(0);
    for (int i = 0; i < count; ++i) {
        Nerova::dispatchToThread(worker.thread(), [&, token] {
            if (QThread::currentThread() != worker.thread())
                ++onWrongThread;
            ++ran;
        });
    }
    QCOMPARE(ran.load(), 0);
    release.release();
    QTRY_COMPARE(ran.load(), count);
    QCOMPARE(onWrongThread.load(), 0);
    // Each piece of work is released with its timer once it has run.
    QTRY_COMPARE(token.use_count(), 1L);
}

void TestThreadUtils::workOnOwnThreadWaitsForTheEventLoop()
{
    bool ran = false;
    QThread* ranOn = nullptr;
    Nerova::dispatchToThread(QThread::currentThread(), [&] {
        ran = true;
        ranOn = QThread::currentThread();
    });
    QVERIFY(!ran);
    Nerova::dispatchToMainThread([&] { ran = true; });
    QVERIFY(!ran);
    QTRY_VERIFY(ran);
    QCOMPARE(ranOn, QThread::currentThread());
}

void TestThreadUtils::mainThreadDispatchFromAWorker()
{
    EventThread worker;
    std::atomic<QThread*> ranOn{nullptr};
    std::atomic<bool> dispatched{false};
    Nerova::dispatchToThread(worker.thread(), [&] {
        Nerova::dispatchToMainThread([&] { ranOn = QThread::currentThread(); });
        dispatched = true;
    });
    QTRY_VERIFY(dispatched.load());
    QTRY_COMPARE(ranOn.load(), QCoreApplication::instance()->thread());
}

void TestThreadUtils::emptyWorkIsHarmless()
{
    EventThread worker;
    Nerova::dispatchToThread(worker.thread(), std::function<void()>());
    Nerova::dispatchToMainThread(nullptr);
    // Work dispatched after the empty ones still runs: the empty ones did not disturb either loop.
    std::atomic<int> ran{0};
    Nerova::dispatchToThread(worker.thread(), [&] { ++ran; });
    Nerova::dispatchToMainThread([&] { ++ran; });
    QTRY_COMPARE(ran.load(), 2);
}

void TestThreadUtils::workWaitsForAnEventLoop()
{
    // A thread that is not running yet holds the work until its event loop starts.
    QThread thread;
    std::atomic<bool> ran{false};
    Nerova::dispatchToThread(&thread, [&] { ran = true; });
    QCoreApplication::processEvents();
    QVERIFY(!ran.load());
    thread.start();
    QTRY_VERIFY(ran.load());
    thread.quit();
    QVERIFY(thread.wait(10000));
}

void TestThreadUtils::threadWithoutEventLoopFreesTheWork()
{
    // The thread ends without processing its queue: the work never runs, and is not kept forever either.
    std::unique_ptr<QThread> thread(QThread::create([] {}));
    auto token = std::make_shared<int>(0);
    std::atomic<bool> ran{false};
    Nerova::dispatchToThread(thread.get(), [&ran, token] { ran = true; });
    QCOMPARE(token.use_count(), 2L);
    thread->start();
    QVERIFY(thread->wait(10000));
    QTRY_COMPARE(token.use_count(), 1L);
    QVERIFY(!ran.load());
}

void TestThreadUtils::tryThreadOutcome_data()
{
    QTest::addColumn<ScriptedThread::Outcome>("outcome");
    QTest::addColumn<bool>("success");

    QTest::newRow("returns") << ScriptedThread::Outcome::Return << true;
    QTest::newRow("throws std::exception") << ScriptedThread::Outcome::ThrowStd << false;
    QTest::newRow("throws int") << ScriptedThread::Outcome::ThrowInt << false;
    QTest::newRow("throws other type") << ScriptedThread::Outcome::ThrowOther << false;
}

void TestThreadUtils::tryThreadOutcome()
{
    QFETCH(ScriptedThread::Outcome, outcome);
    QFETCH(bool, success);

    ScriptedThread thread(outcome);
    // Counted on this thread: the signal comes from the worker and arrives queued.
    int thrown = 0;
    connect(&thread, &Nerova::TryThread::exceptionThrowOut, this, [&] { ++thrown; });
    bool finished = false;
    connect(&thread, &QThread::finished, this, [&] { finished = true; });
    thread.start();
    QVERIFY(thread.wait(10000));
    QCOMPARE(thread.isFinishedSuccess(), success);
    // The queued signals arrive in order, so once finished is in, any exceptionThrowOut is too.
    QTRY_VERIFY(finished);
    QCOMPARE(thrown, success ? 0 : 1);
}

void TestThreadUtils::tryThreadReportsEachRun()
{
    ScriptedThread thread(ScriptedThread::Outcome::ThrowStd);
    int thrown = 0;
    connect(&thread, &Nerova::TryThread::exceptionThrowOut, this, [&] { ++thrown; });
    int finished = 0;
    connect(&thread, &QThread::finished, this, [&] { ++finished; });
    QCOMPARE(thread.isFinishedSuccess(), false); // not run yet

    const struct
    {
        ScriptedThread::Outcome outcome;
        bool success;
    } runs[] = {{ScriptedThread::Outcome::ThrowStd, false},
                {ScriptedThread::Outcome::Return, true},
                {ScriptedThread::Outcome::ThrowInt, false}};
    for (const auto& run : runs) {
        thread.setOutcome(run.outcome);
        thread.start();
        QVERIFY(thread.wait(10000));
        QCOMPARE(thread.isFinishedSuccess(), run.success);
    }
    QTRY_COMPARE(finished, 3);
    QCOMPARE(thrown, 2);
}

void TestThreadUtils::rangeSleepLowerBounds_data()
{
    QTest::addColumn<int>("sleepMs");
    QTest::addColumn<int>("maxMs");
    QTest::addColumn<int>("atLeastMs");

    QTest::newRow("within range") << 50 << 100 << 40;
    QTest::newRow("above the maximum") << 15 << 5 << 1;
    QTest::newRow("nothing left after the margin") << 10 << 100 << 1;
    QTest::newRow("just above the maximum") << 200 << 190 << 1;
    QTest::newRow("negative") << -5 << 100 << 1;
    QTest::newRow("lowest int") << std::numeric_limits<int>::min() << 100 << 1;
    QTest::newRow("lowest maximum") << 50 << std::numeric_limits<int>::min() << 1;
}

void TestThreadUtils::rangeSleepLowerBounds()
{
    QFETCH(int, sleepMs);
    QFETCH(int, maxMs);
    QFETCH(int, atLeastMs);

    QElapsedTimer clock;
    clock.start();
    Nerova::rangeSleep(sleepMs, maxMs);
    QVERIFY2(clock.nsecsElapsed() >= qint64(atLeastMs) * 1000000,
             qPrintable(QString::number(clock.nsecsElapsed())));
}

QTEST_GUILESS_MAIN(TestThreadUtils)
#include "tst_threadutils.moc"
