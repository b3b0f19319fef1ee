#pragma once

#include <base/NerovaGlobal.h>

#include <QThread>

#include <atomic>

namespace Nerova {

// A thread whose body runs with every exception caught, so a failing body reports instead of aborting.
class NEROVA_EXPORT TryThread : public QThread
{
    Q_OBJECT

public:
    explicit TryThread(QObject* parent = nullptr);

    // Whether the last run returned normally; read it once the thread has finished.
    bool isFinishedSuccess() const;

signals:
    // Emitted on the worker thread when the body ended by an exception.
    void exceptionThrowOut();

protected:
    void run() override;
    // The work a subclass supplies.
    virtual void tryRun() = 0;

private:
    // Atomic so that an early read is merely stale, never a data race.
    std::atomic<bool> mFinishedSuccess{false};
};

} // namespace Nerova
