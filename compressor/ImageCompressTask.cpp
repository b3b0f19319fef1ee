#include "ImageCompressTask.h"

#include "FinishCode.h"
#include "ScopedFlag.h"
#include "ToolArguments.h"

#include <QDebug>
#include <QFileInfo>
#include <QPointer>

ImageCompressTask::ImageCompressTask(const QVariantMap& params)
    : CompressTask(params), mInputPath(params.value(QStringLiteral("inputPath")).toString()),
      mOutputPath(params.value(QStringLiteral("outputPath")).toString()),
      mQuality(params.value(QStringLiteral("quality")).toString())
{}

ImageCompressTask::~ImageCompressTask()
{
    stopToolForDestruction();
    // The host may drop the task from a slot on compressFinished, which runs inside the process's own
    // finished signal: the process must outlive that emission.
    if (mProcess && mInProcessSignal)
        mProcess.release()->deleteLater();
}

void ImageCompressTask::stopToolForDestruction()
{
    if (!mProcess)
        return;
    mProcess->disconnect(this);
    if (mProcess->state() != QProcess::NotRunning) {
        mProcess->kill();
        mProcess->waitForFinished(killWaitMs);
    }
}

bool ImageCompressTask::startTask()
{
    if (mProcess && mProcess->state() != QProcess::NotRunning)
        return false; // one run at a time

    mProcess = std::make_unique<QProcess>();
    connect(mProcess.get(), SIGNAL(finished(int, QProcess::ExitStatus)), this,
            SLOT(onCompressFinished(int, QProcess::ExitStatus)));
    connect(mProcess.get(), &QProcess::errorOccurred, this, &ImageCompressTask::onProcessError);

    const QString tool = toolPath();
    if (!QFileInfo::exists(tool))
        return false;

    mRunActive = true;
    mAborting = false;
    if (!ToolArguments::areSafeRequestValues(requestValuesForTool())) {
        qDebug() << "Refusing request values" << requestValuesForTool();
        finishRun({FinishCode::InvalidRequest, FinishCode::invalidRequestText()});
        return false;
    }
    Outcome refusal;
    const QStringList params = prepareRun(&refusal);
    if (params.isEmpty()) {
        cleanUpRun();
        finishRun(refusal);
        return false;
    }

    mProcess->setProgram(tool);
    mProcess->setArguments(ToolArguments::fromParamList(params));
    mProcess->setStandardInputFile(QProcess::nullDevice());
    mProcess->setStandardOutputFile(QProcess::nullDevice());
    mProcess->start(QIODevice::ReadOnly);
    setStatus(StatusRunning);
    return true;
}

void ImageCompressTask::abortTask()
{
    // Nothing runs: there is nothing to stop and no file of this task to clean up.
    if (!mProcess || mProcess->state() == QProcess::NotRunning)
        return;
    mAborting = true;
    QPointer<ImageCompressTask> self(this);
    mProcess->kill();
    setStatus(StatusIdle);
    // The completion normally runs inside this wait and reports the abort.
    if (!mProcess->waitForFinished(killWaitMs) && self)
        qDebug() << "Can't kill mProcess";
}

void ImageCompressTask::onProcessError(QProcess::ProcessError error)
{
    if (error != QProcess::FailedToStart || !mRunActive)
        return;
    ScopedFlag inProcessSignal(this, mInProcessSignal);
    qDebug() << "Cannot start" << mProcess->program() << mProcess->errorString();
    discardRun();
    cleanUpRun();
    if (mAborting)
        finishRun({FinishCode::Aborted, FinishCode::abortedText()});
    else
        finishRun({FinishCode::ToolFailedToStart, FinishCode::toolFailedToStartText()});
}

void ImageCompressTask::onCompressFinished(int exitCode, QProcess::ExitStatus exitStatus)
{
    qDebug() << "onFinished:" << exitCode << "," << exitStatus;
    if (!mRunActive)
        return;
    ScopedFlag inProcessSignal(this, mInProcessSignal);
    const QByteArray toolMessage = mProcess->readAllStandardError().trimmed();
    if (!toolMessage.isEmpty())
        qDebug().noquote() << QFileInfo(mProcess->program()).fileName() + QStringLiteral(":")
                           << QString::fromLocal8Bit(toolMessage.right(2000));

    // A killed or crashed tool may have left anything behind: nothing of it is delivered.
    Outcome outcome;
    if (mAborting || exitStatus == QProcess::CrashExit) {
        discardRun();
        outcome = mAborting ? Outcome{FinishCode::Aborted, FinishCode::abortedText()}
                            : Outcome{FinishCode::ToolCrashed, FinishCode::toolCrashedText()};
    } else {
        outcome = deliverRun(exitCode);
    }
    cleanUpRun();
    finishRun(outcome);
}

void ImageCompressTask::finishRun(const Outcome& outcome)
{
    mRunActive = false;
    setStatus(outcome.code == FinishCode::Success ? StatusSucceeded : StatusFailed);
    emit compressFinished(outcome.code, outcome.text);
}
