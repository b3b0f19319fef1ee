#pragma once

#include "JobResult.h"

#include <QElapsedTimer>
#include <QList>

// The run's totals, gathered as the files finish; only failures are kept one by one, so a long batch
// costs no memory per file.
class RunSummary
{
public:
    RunSummary() { mWallTimer.start(); }

    void add(const JobResult& result);

    int files() const { return mSucceeded + mFailed + mSkipped + mAborted; }
    int succeeded() const { return mSucceeded; }
    int failed() const { return mFailed; }
    int skipped() const { return mSkipped; }
    int aborted() const { return mAborted; }
    // Delivered files larger than --target-size; they make the run's exit status 1.
    int overTarget() const { return mOverTarget; }
    // Bytes of the files that succeeded, before and after.
    qint64 bytesIn() const { return mBytesIn; }
    qint64 bytesOut() const { return mBytesOut; }
    double wallSeconds() const { return double(mWallTimer.elapsed()) / 1000.0; }
    const QList<JobResult>& failures() const { return mFailures; }

private:
    int mSucceeded = 0;
    int mFailed = 0;
    int mSkipped = 0;
    int mAborted = 0;
    int mOverTarget = 0;
    qint64 mBytesIn = 0;
    qint64 mBytesOut = 0;
    QList<JobResult> mFailures;
    QElapsedTimer mWallTimer;
};
