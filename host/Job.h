#pragma once

#include "HostOptions.h"
#include "JobResult.h"

#include <QElapsedTimer>
#include <QObject>
#include <QSharedPointer>
#include <QString>

class ICompressTask;
class ICompressor;

// One file's run: checks the output rules, drives one task on this thread's event loop, and turns its
// finish into a result. An in-place job has the task write a hidden file beside the source, which
// replaces the source only when the task finished with code 0.
class Job : public QObject
{
    Q_OBJECT
public:
    // refusal: when not empty, the job does not run and fails with this text.
    Job(ICompressor* compressor, const HostOptions& options, const HostJob& job, const QString& refusal);
    ~Job() override;

    // Why the job would not run a task (no source, an output it may not replace), with the outcome that
    // gives; empty when it would run.
    static QString obstacleOf(const HostOptions& options, const HostJob& job, JobResult::Outcome* outcome);

    // Starts the task; the outcome always arrives later through finished(), also when nothing ran.
    void start();
    // Asks a running task to stop; its finish still arrives through finished().
    void abort();

    const HostJob& hostJob() const { return mJob; }
    bool isRunningTask() const { return mTask && !mTaskFinished; }
    // The last progress the task reported (0..1), or -1 before its first report.
    double progress() const { return mProgress; }
    qint64 elapsedMs() const { return mTimer.elapsed(); }
    const JobResult& result() const { return mResult; }

signals:
    void progressed(Job* job);
    void finished(Job* job);

private slots:
    void onProgress(float progress);
    void onFinished(int code, QString text);

private:
    static bool isOntoSource(const HostJob& job);
    void finishWithoutTask(JobResult::Outcome outcome, const QString& text);
    void complete();
    // Moves an in-place result over the source; false when a finished result could not be put there.
    bool deliverInPlace();

    ICompressor* mCompressor;
    const HostOptions& mOptions;
    HostJob mJob;
    QString mRefusal;
    QString mTaskOutput;    // where the task writes: the output, or a hidden name beside an in-place source
    QString mInPlaceTarget; // the source file an in-place result replaces; empty otherwise
    QSharedPointer<ICompressTask> mTask;
    QElapsedTimer mTimer;
    qint64 mSourceTimeNs = -1;
    double mProgress = -1.0;
    bool mTaskFinished = false;
    bool mAborted = false;
    bool mCompleted = false;
    JobResult mResult;
};
