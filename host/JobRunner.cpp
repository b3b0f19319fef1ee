#include "JobRunner.h"

#include <compressor/ICompressTask.h>

#include <QEventLoop>

JobRunner::JobRunner(QSharedPointer<ICompressTask> task) : mTask(std::move(task))
{
    // Connected by signature: the host does not link the plug-in, so it has no member pointers to use.
    connect(mTask.data(), SIGNAL(compressProcess(float)), this, SLOT(onProgress(float)));
    connect(mTask.data(), SIGNAL(compressFinished(int, QString)), this, SLOT(onFinished(int, QString)));
}

bool JobRunner::run(bool preview)
{
    const bool started = preview ? mTask->previewTask() : mTask->startTask();
    if (!started && !mFinished)
        return false;
    if (!mFinished) {
        QEventLoop loop;
        connect(this, &JobRunner::done, &loop, &QEventLoop::quit);
        loop.exec();
    }
    mProgressBar.finish();
    return true;
}

void JobRunner::onProgress(float progress)
{
    mProgressBar.update(double(progress));
}

void JobRunner::onFinished(int code, QString text)
{
    mFinished = true;
    mCode = code;
    mText = text;
    emit done();
}
