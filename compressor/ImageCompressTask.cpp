#include "ImageCompressTask.h"

#include "FinishCode.h"
#include "OutputFile.h"
#include "ToolArguments.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace {

// Marks the time spent inside a signal of the task's own process.
class FlagGuard
{
public:
    explicit FlagGuard(bool& flag) : mFlag(flag) { mFlag = true; }
    ~FlagGuard() { mFlag = false; }
    FlagGuard(const FlagGuard&) = delete;
    FlagGuard& operator=(const FlagGuard&) = delete;

private:
    bool& mFlag;
};

constexpr int killWaitMs = 500;

} // namespace

ImageCompressTask::ImageCompressTask(const QVariantMap& params)
    : CompressTask(params), mInputPath(params.value(QStringLiteral("inputPath")).toString()),
      mOutputPath(params.value(QStringLiteral("outputPath")).toString()),
      mQuality(params.value(QStringLiteral("quality")).toString())
{}

ImageCompressTask::~ImageCompressTask()
{
    if (!mProcess)
        return;
    mProcess->disconnect(this);
    if (mProcess->state() != QProcess::NotRunning) {
        mProcess->kill();
        mProcess->waitForFinished(killWaitMs);
    }
    // The host may drop the task from a slot on compressFinished, which runs inside the process's
    // own finished signal: the process must outlive that emission.
    if (mInProcessSignal)
        mProcess.release()->deleteLater();
    // mWorkDir removes the working folder; the output was never touched by an unfinished run.
}

bool ImageCompressTask::prepareWorkingCopy()
{
    const QString suffix = QFileInfo(mInputPath).suffix();
    auto workDir = std::make_unique<QTemporaryDir>(
        QStandardPaths::writableLocation(QStandardPaths::TempLocation) + QStringLiteral("/compress-XXXXXX"));
    if (!workDir->isValid()) {
        qDebug() << "Cannot create a working folder:" << workDir->errorString();
        return false;
    }
    mWorkDir = std::move(workDir);
    mTempDirPath = mWorkDir->path();
    mTempInputPath = mTempDirPath + QStringLiteral("/temporaryImage_1.") + suffix;
    mTempOutputPath = mTempDirPath + QStringLiteral("/temporaryImage_2.") + suffix;
    // A failed copy is left to the tool, which reports the missing source as unreadable.
    QFile::copy(mInputPath, mTempInputPath);
    return true;
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
        finishRun(FinishCode::InvalidRequest, FinishCode::invalidRequestText());
        return false;
    }
    const QStringList params = makeToolParams();
    if (params.isEmpty()) {
        finishRun(FinishCode::NoWorkingDirectory, FinishCode::noWorkingDirectoryText());
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
    FlagGuard guard(mInProcessSignal);
    qDebug() << "Cannot start" << mProcess->program() << mProcess->errorString();
    if (mAborting)
        finishRun(FinishCode::Aborted, FinishCode::abortedText());
    else
        finishRun(FinishCode::ToolFailedToStart, FinishCode::toolFailedToStartText());
}

void ImageCompressTask::onCompressFinished(int exitCode, QProcess::ExitStatus exitStatus)
{
    qDebug() << "onFinished:" << exitCode << "," << exitStatus;
    if (!mRunActive)
        return;
    FlagGuard guard(mInProcessSignal);
    const QByteArray toolMessage = mProcess->readAllStandardError().trimmed();
    if (!toolMessage.isEmpty())
        qDebug().noquote() << QFileInfo(mProcess->program()).fileName() + QStringLiteral(":")
                           << QString::fromLocal8Bit(toolMessage);

    // A killed or crashed tool may have left anything behind: nothing of it is delivered.
    if (mAborting)
        finishRun(FinishCode::Aborted, FinishCode::abortedText());
    else if (exitStatus == QProcess::CrashExit)
        finishRun(FinishCode::ToolCrashed, FinishCode::toolCrashedText());
    else
        deliverResult(exitCode);
}

void ImageCompressTask::deliverResult(int exitCode)
{
    const QFileInfo source(mTempInputPath);
    const QFileInfo result(mTempOutputPath);
    const qint64 sourceSize = source.exists() ? source.size() : 0;
    const qint64 resultSize = result.exists() ? result.size() : 0;

    // A re-encode that came out larger is worth less than the original: deliver the source's bytes.
    if (sourceSize < resultSize) {
        if (!OutputFile::replace(mOutputPath, mTempInputPath))
            finishRun(FinishCode::NoOutput, QString());
        else
            finishRun(exitCode, QString());
        return;
    }
    if (exitCode == corruptSourceExitCode()) {
        finishRun(FinishCode::CorruptSource, FinishCode::corruptSourceText());
        return;
    }
    // An empty file is no result either.
    if (resultSize == 0) {
        finishRun(FinishCode::NoOutput, QString());
        return;
    }
    // A tool that failed may have left a partial file: it never replaces the user's output.
    if (exitCode != 0) {
        finishRun(exitCode, QString());
        return;
    }
    QString error;
    if (!OutputFile::replace(mOutputPath, mTempOutputPath, &error)) {
        qDebug() << "Cannot write" << mOutputPath << error;
        finishRun(FinishCode::NoOutput, QString());
        return;
    }
    finishRun(FinishCode::Success, QString());
}

void ImageCompressTask::finishRun(int code, const QString& text)
{
    mRunActive = false;
    mWorkDir.reset();
    setStatus(code == FinishCode::Success ? StatusSucceeded : StatusFailed);
    emit compressFinished(code, text);
}
