#include "VideoCompressor.h"

#include "FFmpegLocator.h"
#include "FinishCode.h"
#include "FormatTable.h"
#include "ProgressThread.h"
#include "SourceDuration.h"

#include <NerovaDec/FFDemuxer.h>
#include <NerovaDec/StreamInfo.h>
#include <base/LogCategories.h>

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>

namespace {

// Numbers the progress files of every video task of this process; the first file is number 2.
int progressFileCounter = 1;

constexpr float previewDurationMs = 15000.0f;

QString finishText(int exitCode)
{
    switch (exitCode) {
    case 0:
        return FinishCode::successfulText();
    case 1:
        return QStringLiteral(" Check the parameters please ");
    case 62097:
        return QStringLiteral("Process Abort");
    default:
        return QStringLiteral("Unknown mistake");
    }
}

} // namespace

VideoCompressor::VideoCompressor(const QMap<QString, QVariant>& params)
    : DirectOutputCompressTask(params),
      mPreset(requestValueOr(params, QStringLiteral("preset"),
                             FormatTable::instance().forOutputPath(mOutputPath).defaultPreset)),
      mScale(params.value(QStringLiteral("scale")).toString())
{}

VideoCompressor::~VideoCompressor()
{
    // ffmpeg first, emitting nothing, then its progress thread: a running thread must never be deleted.
    stopToolForDestruction();
    if (mProgressThread)
        mProgressThread->disconnect(this);
    stopProgressThread();
}

QString VideoCompressor::progressDirectory()
{
    static const QTemporaryDir directory(QStandardPaths::writableLocation(QStandardPaths::TempLocation) +
                                         QStringLiteral("/nerova-progress-XXXXXX"));
    if (directory.isValid())
        return directory.path();
    qCWarning(lcCompressor) << "Cannot create a private folder for progress files:"
                            << directory.errorString();
    return QDir::tempPath();
}

ToolCommand VideoCompressor::build(Build build)
{
    const QSharedPointer<Nerova::FFDemuxer> demuxer = Nerova::FFDemuxer::createDemuxer(mInputPath, false);
    if (!demuxer || !demuxer->open(mInputPath))
        return {};
    const QSharedPointer<Nerova::ContainerInfo> info = demuxer->containerInfo();
    if (!info)
        return {};
    qint64 bitRate = 0;
    if (build != Build::Preview) {
        const SourceDuration duration = SourceDuration::choose(*info, *demuxer);
        mDuration = duration.durationMs;
        bitRate = duration.bitRate;
    }
    mProgressPath = QDir::cleanPath(progressDirectory() + QLatin1Char('/') +
                                    QStringLiteral("progress_%1.txt").arg(++progressFileCounter));
    const VideoRequest request{mInputPath, mOutputPath, mQuality, mPreset, mScale, mThreads};
    if (build == Build::Preview)
        return VideoArguments::preview(request, *info, mProgressPath);
    return VideoArguments::encode(request, *info,
                                  build == Build::Software ? VideoArguments::Encoder::Software
                                                           : VideoArguments::Encoder::Hardware,
                                  bitRate, mProgressPath);
}

QStringList VideoCompressor::makeVideoCompressParam(const QMap<QString, QVariant>& params)
{
    Q_UNUSED(params)
    return build(Build::Software).paramList();
}

QStringList VideoCompressor::makeVideoHardwareParam(const QMap<QString, QVariant>& params)
{
    Q_UNUSED(params)
    return build(Build::Hardware).paramList();
}

QStringList VideoCompressor::makeVideoPreviewParam(const QMap<QString, QVariant>& params)
{
    Q_UNUSED(params)
    return build(Build::Preview).paramList();
}

bool VideoCompressor::startTask()
{
    setStatus(StatusRunning);
    return startRun(FullEncode);
}

bool VideoCompressor::previewTask()
{
    setStatus(StatusRunning);
    return startRun(Preview);
}

QString VideoCompressor::toolPath() const
{
    return FFmpegLocator::ffmpegPath();
}

std::optional<ToolRunTask::ToolStep> VideoCompressor::firstStep(int kind, Outcome* refusal)
{
    Q_UNUSED(refusal)
    mPreviewRun = kind == Preview;
    mSucceeded = false;
    // A source that cannot be probed still goes to ffmpeg, whose exit then tells what is wrong with it.
    const ToolCommand command = build(mPreviewRun ? Build::Preview : Build::Software);
    if (!mPreviewRun)
        qCDebug(lcCompressor).noquote() << toolPath() << command.paramList().join(QLatin1Char(' '));
    if (!mProgressPath.isEmpty() && QFile::exists(mProgressPath))
        QFile::remove(mProgressPath);
    return ToolStep{toolPath(), command.arguments()};
}

void VideoCompressor::runStarted()
{
    stopProgressThread();
    mProgressThread =
        std::make_unique<ProgressThread>(mPreviewRun ? previewDurationMs : float(mDuration), mProgressPath);
    // A full encode reports progress straight from the thread; a preview through the task's event loop.
    connect(mProgressThread.get(), SIGNAL(threadCompressProcess(float)), this,
            SLOT(onCompressProgress(float)), mPreviewRun ? Qt::AutoConnection : Qt::DirectConnection);
    mProgressThread->start(QThread::InheritPriority);
}

ToolRunTask::Outcome VideoCompressor::deliverRun(int exitCode)
{
    if (exitCode != 0)
        return {exitCode, finishText(exitCode)};
    keepOutput();
    mSucceeded = true;
    emit compressProcess(1.0f);
    return {0, finishText(0), true};
}

void VideoCompressor::cleanUpRun()
{
    // A successful run's progress thread ends by itself on ffmpeg's last line.
    if (!mSucceeded)
        stopProgressThread();
}

ToolRunTask::Outcome VideoCompressor::crashOutcome(int exitCode) const
{
    return {exitCode, finishText(exitCode)};
}

ToolRunTask::Outcome VideoCompressor::abortOutcome(int exitCode) const
{
    return {exitCode, finishText(exitCode)};
}

void VideoCompressor::abortWithoutRun()
{
    // Nothing runs, so nothing of this task is at the output and nothing is deleted.
    if (!hasRunBefore())
        setStatus(StatusFailed);
}

void VideoCompressor::stopProgressThread()
{
    if (!mProgressThread)
        return;
    mProgressThread->stopThread();
    if (!mProgressThread->wait(killWaitMs)) {
        qCDebug(lcCompressor) << "==============time wait out===========";
        mProgressThread->wait(); // it must have ended before it can be deleted
    }
}

void VideoCompressor::onCompressProgress(float progress)
{
    emit compressProcess(std::min(progress, 1.0f));
}
