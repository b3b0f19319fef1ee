#pragma once

#include <base/BasicObject.h>
#include <base/NerovaGlobal.h>
#include <base/TryThread.h>

#include <functional>

class QObject;
class QThread;

namespace Nerova {

// Marks that the caller must be on object's thread; checks nothing.
NEROVA_EXPORT void assertOwnThread(QObject* object);
// Marks that the caller must be on the application's main thread; checks nothing.
NEROVA_EXPORT void assertMainThread();

// Runs work once on thread, later, through that thread's event loop, and returns at once. The work never
// runs synchronously, not even when the caller is on thread; a null thread drops it, and so does a thread
// that finishes without running its event loop (the work is then destroyed unrun).
NEROVA_EXPORT void dispatchToThread(QThread* thread, std::function<void()> work);
// dispatchToThread with the application object's thread; without an application object the work is dropped.
NEROVA_EXPORT void dispatchToMainThread(std::function<void()> work);

// Sleeps sleepMs - 10 milliseconds when that is positive and below maxMs, otherwise 1 millisecond.
NEROVA_EXPORT void rangeSleep(int sleepMs, int maxMs);

} // namespace Nerova
