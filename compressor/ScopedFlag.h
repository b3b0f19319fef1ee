#pragma once

// Sets a flag for the lifetime of a scope, e.g. while a task handles a signal of its own process.
class ScopedFlag
{
public:
    explicit ScopedFlag(bool& flag) : mFlag(flag) { mFlag = true; }
    ~ScopedFlag() { mFlag = false; }
    ScopedFlag(const ScopedFlag&) = delete;
    ScopedFlag& operator=(const ScopedFlag&) = delete;

private:
    bool& mFlag;
};
