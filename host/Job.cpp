#include "Job.h"

#include "FileOps.h"

#include <compressor/ICompressTask.h>
#include <compressor/ICompressor.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

Job::Job(ICompressor* compressor, const HostOptions& options, const HostJob& job, const QString& refusal)
    : mCompressor(compressor), mOptions(options), mJob(job), mRefusal(refusal)
{
    mResult.displayName = job.displayName;
    mResult.inputPath = job.inputPath;
    mResult.outputPath = job.outputPath;
}

Job::~Job()
{
    // Only a finished task is released: a running one is aborted first so its tool does not linger.
    if (isRunningTask())
        mTask->abortTask();
}

void Job::start()
{
    mTimer.start();
    if (!mRefusal.isEmpty())
        return finishWithoutTask(JobResult::Outcome::Failed, mRefusal);
    JobResult::Outcome refusedAs = JobResult::Outcome::Failed;
    const QString obstacle = obstacleOf(mOptions, mJob, &refusedAs);
    if (!obstacle.isEmpty())
        return finishWithoutTask(refusedAs, obstacle);
    const QFileInfo source(mJob.inputPath);
    mResult.bytesIn = source.size();
    mSourceTimeNs = FileOps::modificationTimeNs(mJob.inputPath);

    const QFileInfo output(mJob.outputPath);
    mTaskOutput = mJob.outputPath;
    if (isOntoSource(mJob)) {
        // Written beside the real file (links resolved), so the final rename stays within one folder.
        mInPlaceTarget = source.canonicalFilePath();
        mTaskOutput = FileOps::hiddenSibling(mInPlaceTarget);
    }
    if (!QDir().mkpath(output.absolutePath()))
        return finishWithoutTask(JobResult::Outcome::Failed,
                                 QStringLiteral("cannot create the folder %1").arg(output.absolutePath()));

    HostJob taskJob = mJob;
    taskJob.outputPath = mTaskOutput;
    mTask = mCompressor->createCompressTask(mOptions.toRequest(taskJob));
    if (!mTask)
        return finishWithoutTask(JobResult::Outcome::Failed, QStringLiteral("no compressor for this output"));
    // Connected by signature: the host does not link the plug-in, so it has no member pointers to use.
    // The automatic connection matters: a video task reports progress from its own thread.
    connect(mTask.data(), SIGNAL(compressProcess(float)), this, SLOT(onProgress(float)));
    connect(mTask.data(), SIGNAL(compressFinished(int, QString)), this, SLOT(onFinished(int, QString)));

    const bool started = mOptions.preview && mJob.isVideo ? mTask->previewTask() : mTask->startTask();
    if (!started && !mTaskFinished) {
        mTask.reset();
        finishWithoutTask(JobResult::Outcome::Failed,
                          QStringLiteral("the task could not start (is its tool installed next to %1?)")
                              .arg(QCoreApplication::applicationFilePath()));
    }
}

bool Job::isOntoSource(const HostJob& job)
{
    return QDir::cleanPath(QFileInfo(job.inputPath).absoluteFilePath()) == QDir::cleanPath(job.outputPath) ||
           FileOps::isSameFile(job.inputPath, job.outputPath);
}

QString Job::obstacleOf(const HostOptions& options, const HostJob& job, JobResult::Outcome* outcome)
{
    *outcome = JobResult::Outcome::Failed;
    if (!QFileInfo(job.inputPath).isFile())
        return QStringLiteral("no such file");
    const QFileInfo output(job.outputPath);
    if (isOntoSource(job)) {
        *outcome = JobResult::Outcome::Skipped;
        return options.inPlace ? QString() : QStringLiteral("the output is the source (use --in-place)");
    }
    if (output.exists() || output.isSymLink()) {
        if (output.isDir())
            return QStringLiteral("the output is a folder");
        *outcome = JobResult::Outcome::Skipped;
        if (!options.overwrite)
            return QStringLiteral("the output exists (use --overwrite)");
    }
    return {};
}

void Job::abort()
{
    mAborted = true;
    if (isRunningTask())
        mTask->abortTask(); // its finish usually arrives inside this call
}

void Job::onProgress(float progress)
{
    if (mTaskFinished)
        return; // a late report queued from the progress thread
    mProgress = double(progress);
    emit progressed(this);
}

void Job::onFinished(int code, QString text)
{
    if (mTaskFinished)
        return;
    mTaskFinished = true;
    mResult.hasCode = true;
    mResult.code = code;
    mResult.text = text;
    // Dynamic properties, read by name: the host does not link the plug-in.
    if (code != 0 && mTask)
        mResult.toolMessage = mTask->property("toolMessage").toString();
    mResult.sourceKept = code == 0 && mTask && mTask->property("sourceKept").toBool();
    if (code == 0 && mTask)
        mResult.resized = mTask->property("resized").toString();
    if (code == 0 && mTask && mTask->property("targetMet").isValid()) {
        mResult.hasTarget = true;
        mResult.targetMet = mTask->property("targetMet").toBool();
        mResult.targetQuality = mTask->property("targetQuality").toInt();
        mResult.targetEncodes = mTask->property("targetEncodes").toInt();
        mResult.targetSize = mOptions.targetSize;
    }
    // Completed from the event loop, outside the task's own signal, so the task may then be released.
    QMetaObject::invokeMethod(this, &Job::complete, Qt::QueuedConnection);
}

void Job::finishWithoutTask(JobResult::Outcome outcome, const QString& text)
{
    mResult.outcome = outcome;
    mResult.text = text;
    mCompleted = true;
    mResult.seconds = double(mTimer.elapsed()) / 1000.0;
    QMetaObject::invokeMethod(
        this, [this] { emit finished(this); }, Qt::QueuedConnection);
}

void Job::complete()
{
    if (mCompleted)
        return;
    mCompleted = true;
    bool succeeded = mResult.code == 0;
    if (!mInPlaceTarget.isEmpty() && !deliverInPlace())
        succeeded = false;
    if (succeeded && mOptions.keepDates && mSourceTimeNs >= 0)
        FileOps::setModificationTimeNs(mJob.outputPath, mSourceTimeNs);

    if (succeeded)
        mResult.outcome = JobResult::Outcome::Succeeded;
    else
        mResult.outcome = mAborted ? JobResult::Outcome::Aborted : JobResult::Outcome::Failed;
    const QFileInfo output(mJob.outputPath);
    if (succeeded && output.isFile())
        mResult.bytesOut = output.size();
    mResult.seconds = double(mTimer.elapsed()) / 1000.0;
    emit finished(this);
}

bool Job::deliverInPlace()
{
    if (mResult.code != 0) {
        QFile::remove(mTaskOutput); // the source stays as it was
        return true;
    }
    if (!QFileInfo(mTaskOutput).isFile()) {
        mResult.text = QStringLiteral("the task left no result");
        return false;
    }
    // The source's permissions go with it: the result takes its place.
    QFile::setPermissions(mTaskOutput, QFileInfo(mInPlaceTarget).permissions());
    if (FileOps::renameOver(mTaskOutput, mInPlaceTarget))
        return true;
    QFile::remove(mTaskOutput);
    mResult.text = QStringLiteral("the result could not replace the source");
    return false;
}
