#pragma once

#include "HostOptions.h"
#include "JobResult.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

#include <deque>

class ICompressor;
class Job;

// Runs the planned jobs from the event loop, up to a number at a time and at most one video at a
// time (ffmpeg already spreads one encode over the processors); each job is its own task on this thread.
// Images start largest first, so the parallel jobs finish together.
class JobScheduler : public QObject
{
    Q_OBJECT
public:
    JobScheduler(ICompressor* compressor, const HostOptions& options, const QList<HostJob>& jobs,
                 const QHash<int, QString>& refusals, int parallelJobs);
    ~JobScheduler() override;

    // Begins from the event loop; allFinished() follows once every job has its result.
    void start();
    // Starts nothing more and aborts the running jobs; allFinished() follows once each has finished.
    void cancel();

    bool isCancelled() const { return mCancelled; }
    int total() const { return int(mJobs.size()); }
    int doneCount() const { return mDone; }
    int notStartedCount() const { return int(mImageQueue.size() + mVideoQueue.size()); }
    const QList<Job*>& runningJobs() const { return mRunning; }

signals:
    void jobProgressed(Job* job);
    void jobFinished(const JobResult& result);
    void allFinished();

private:
    void pump();
    void launch(int index);
    void onJobFinished(Job* job);
    void checkAllFinished();

    ICompressor* mCompressor;
    const HostOptions& mOptions;
    const QList<HostJob> mJobs;
    const QHash<int, QString> mRefusals;
    const int mParallelJobs;
    // Indexes into mJobs: videos in the order the user gave, images largest first; images pass a
    // video that has to wait.
    std::deque<int> mImageQueue;
    std::deque<int> mVideoQueue;
    QList<Job*> mRunning;
    int mRunningVideos = 0;
    int mDone = 0;
    bool mCancelled = false;
    bool mAllFinished = false;
};
