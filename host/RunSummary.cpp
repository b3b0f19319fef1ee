#include "RunSummary.h"

void RunSummary::add(const JobResult& result)
{
    switch (result.outcome) {
    case JobResult::Outcome::Succeeded:
        ++mSucceeded;
        mBytesIn += result.bytesIn;
        mBytesOut += result.bytesOut;
        if (result.isOverTarget())
            ++mOverTarget;
        break;
    case JobResult::Outcome::Failed:
        ++mFailed;
        mFailures.append(result);
        break;
    case JobResult::Outcome::Skipped:
        ++mSkipped;
        break;
    case JobResult::Outcome::Aborted:
        ++mAborted;
        break;
    }
}
