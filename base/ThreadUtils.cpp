#include <base/ThreadUtils.h>

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

#if defined(__SANITIZE_THREAD__)
#define NEROVA_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define NEROVA_TSAN 1
#endif
#endif
#ifdef NEROVA_TSAN
#include <sanitizer/tsan_interface.h>
#endif

namespace Nerova {

namespace {

// Qt's event queue hands events over under futex-based locks ThreadSanitizer cannot see. These tell it
// what the queue guarantees: what a caller did before posting to a thread happens before that thread
// handles the post. The token is the target thread, as the queue is one per thread.
inline void handOver([[maybe_unused]] QThread* token)
{
#ifdef NEROVA_TSAN
    __tsan_release(token);
#endif
}

inline void takeOver([[maybe_unused]] QThread* token)
{
#ifdef NEROVA_TSAN
    __tsan_acquire(token);
#endif
}

} // namespace

void assertOwnThread(QObject*) {}

void assertMainThread() {}

void dispatchToThread(QThread* thread, std::function<void()> work)
{
    if (!thread)
        return;
    // The timer belongs to the target thread before anything can fire, so it is only ever touched there.
    auto* timer = new QTimer;
    timer->setSingleShot(true);
    timer->moveToThread(thread);
    QObject::connect(
        timer, &QTimer::timeout, timer,
        [timer, work = std::move(work)]() {
            takeOver(QThread::currentThread()); // before anything of the closure is read
            if (work)
                work();
            timer->deleteLater();
        },
        Qt::DirectConnection);
    // A thread that ends without ever running its event loop still frees the timer and the work: deferred
    // deletions are the one thing a finishing thread processes.
    QObject::connect(
        thread, &QThread::finished, timer,
        [timer, thread]() {
            takeOver(thread);
            timer->deleteLater();
        },
        Qt::DirectConnection);
    handOver(thread);
    // Started through the target's event loop: even a caller on that thread only sees the work run later.
    QMetaObject::invokeMethod(timer, "start", Qt::QueuedConnection, Q_ARG(int, 0));
}

void dispatchToMainThread(std::function<void()> work)
{
    // Without an application object there is no main event loop to run the work: it is dropped.
    const QCoreApplication* app = QCoreApplication::instance();
    dispatchToThread(app ? app->thread() : nullptr, std::move(work));
}

void rangeSleep(int sleepMs, int maxMs)
{
    // 64 bits: sleepMs near the lower limit must not overflow.
    const qint64 d = qint64(sleepMs) - 10;
    if (d > 0 && d < maxMs)
        QThread::msleep(static_cast<unsigned long>(d));
    else
        QThread::msleep(1);
}

} // namespace Nerova
