#include "JobScheduler.h"

#include "Job.h"

#include <QFileInfo>

#include <algorithm>

namespace {
constexpr int maxRunningVideos = 1;
}

JobScheduler::JobScheduler(ICompressor* compressor, const HostOptions& options, const QList<HostJob>& jobs,
                           const QHash<int, QString>& refusals, int parallelJobs)
    : mCompressor(compressor), mOptions(options), mJobs(jobs), mRefusals(refusals),
      mParallelJobs(std::max(1, parallelJobs))
{
    for (int i = 0; i < mJobs.size(); ++i)
        (mJobs.at(i).isVideo ? mVideoQueue : mImageQueue).push_back(i);
    // The largest pictures first: the parallel jobs then end together instead of one small file
    // finishing alone at the end (sizes stand in for the work each takes).
    QHash<int, qint64> sizes;
    for (const int index : mImageQueue)
        sizes.insert(index, QFileInfo(mJobs.at(index).inputPath).size());
    std::stable_sort(mImageQueue.begin(), mImageQueue.end(),
                     [&](int a, int b) { return sizes.value(a) > sizes.value(b); });
}

JobScheduler::~JobScheduler()
{
    qDeleteAll(mRunning);
}

void JobScheduler::start()
{
    QMetaObject::invokeMethod(this, &JobScheduler::pump, Qt::QueuedConnection);
}

void JobScheduler::cancel()
{
    if (mCancelled)
        return;
    mCancelled = true;
    // A copy: an abort may finish its job at once.
    const QList<Job*> running = mRunning;
    for (Job* job : running)
        job->abort();
    checkAllFinished();
}

void JobScheduler::pump()
{
    while (!mCancelled && mRunning.size() < mParallelJobs) {
        const bool videoMayStart = !mVideoQueue.empty() && mRunningVideos < maxRunningVideos;
        if (videoMayStart && (mImageQueue.empty() || mVideoQueue.front() < mImageQueue.front())) {
            launch(mVideoQueue.front());
            mVideoQueue.pop_front();
        } else if (!mImageQueue.empty()) {
            launch(mImageQueue.front());
            mImageQueue.pop_front();
        } else {
            break;
        }
    }
    checkAllFinished();
}

void JobScheduler::launch(int index)
{
    const HostJob& hostJob = mJobs.at(index);
    auto* job = new Job(mCompressor, mOptions, hostJob, mRefusals.value(index));
    job->setParent(this); // a job released just before the event loop ends still goes with the scheduler
    connect(job, &Job::progressed, this, &JobScheduler::jobProgressed);
    connect(job, &Job::finished, this, &JobScheduler::onJobFinished);
    mRunning.append(job);
    if (hostJob.isVideo)
        ++mRunningVideos;
    job->start();
}

void JobScheduler::onJobFinished(Job* job)
{
    mRunning.removeOne(job);
    if (job->hostJob().isVideo)
        --mRunningVideos;
    ++mDone;
    emit jobFinished(job->result());
    // Released from the event loop: the signal that brought us here is still being emitted by it.
    job->deleteLater();
    pump();
}

void JobScheduler::checkAllFinished()
{
    if (mAllFinished || !mRunning.isEmpty())
        return;
    if (!mCancelled && (!mImageQueue.empty() || !mVideoQueue.empty()))
        return;
    mAllFinished = true;
    emit allFinished();
}
