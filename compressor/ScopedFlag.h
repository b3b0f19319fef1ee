#pragma once

#include <QObject>
#include <QPointer>

// Sets an owner's flag for the lifetime of a scope, e.g. while a task handles a signal of its own
// process. The owner may be deleted inside the scope (a host may drop its task from a slot): the flag
// is then left alone.
class ScopedFlag
{
public:
    ScopedFlag(QObject* owner, bool& flag) : mOwner(owner), mFlag(flag) { mFlag = true; }
    ~ScopedFlag()
    {
        if (mOwner)
            mFlag = false;
    }
    ScopedFlag(const ScopedFlag&) = delete;
    ScopedFlag& operator=(const ScopedFlag&) = delete;

private:
    QPointer<QObject> mOwner;
    bool& mFlag;
};
