#include <base/TryThread.h>

#ifdef __GLIBCXX__
#include <cxxabi.h>
#endif

namespace Nerova {

TryThread::TryThread(QObject* parent) : QThread(parent) {}

bool TryThread::isFinishedSuccess() const
{
    return mFinishedSuccess.load();
}

void TryThread::run()
{
    try {
        tryRun();
        mFinishedSuccess = true;
#ifdef __GLIBCXX__
    } catch (const abi::__forced_unwind&) {
        // Thread cancellation (QThread::terminate) unwinds with this; swallowing it would abort the process.
        mFinishedSuccess = false;
        throw;
#endif
    } catch (...) {
        mFinishedSuccess = false;
        emit exceptionThrowOut();
    }
}

} // namespace Nerova
