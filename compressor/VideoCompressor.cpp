#include "VideoCompressor.h"

#include "FFmpegLocator.h"
#include "FinishCode.h"
#include "FormatTable.h"
#include "OutputFile.h"
#include "ProgressThread.h"
#include "SourceDuration.h"
#include "StreamPlan.h"

#include <NerovaDec/FFDemuxer.h>
#include <NerovaDec/StreamInfo.h>
#include <base/LogCategories.h>

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

extern "C" {
#include <libavformat/avformat.h>
}

#include <algorithm>

namespace {

// Numbers the progress files of every video task of this process; the first file is number 2.
int progressFileCounter = 1;

constexpr float previewDurationMs = VideoArguments::previewSeconds * 1000.0f;

// The container a file is in, by its content: the demuxer's name, with WebM told apart from the rest of
// Matroska by the document type in its header, since a Matroska file's codecs need not fit WebM.
QString containerOf(const QString& formatName, const QString& path)
{
    if (!formatName.startsWith(QLatin1String("Matroska")))
        return formatName;
    QFile file(path);
    const bool webm = file.open(QIODevice::ReadOnly) && file.read(64).contains("webm");
    return webm ? QStringLiteral("WebM") : QStringLiteral("Matroska");
}

// The length the output must have: the longest of the streams it keeps.
qint64 expectedDurationMs(const Nerova::ContainerInfo& info, const StreamPlan& plan, qint64 sourceMs)
{
    qint64 longest = sourceMs;
    for (const auto& audio : info.audioStreams) {
        if (plan.audioIndexes.contains(audio->index))
            longest = std::max(longest, audio->durationMs);
    }
    return longest;
}

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
    removeCoverFile();
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
    const SourceDuration duration = SourceDuration::choose(*info, *demuxer);
    const qint64 bitRate = build == Build::Preview ? 0 : duration.bitRate;
    if (build != Build::Preview)
        mDuration = duration.durationMs;
    const OutputFormat& format = FormatTable::instance().forOutputPath(mOutputPath);
    const StreamPlan plan = StreamPlan::choose(*info, format);
    mSourceFormat = containerOf(info->formatName, mInputPath);
    mCheck.video = plan.videoIndex >= 0;
    mCheck.audioTracks = plan.audioIndexes.size();
    mCheck.durationMs = expectedDurationMs(*info, plan, duration.durationMs);
    if (build == Build::Preview)
        mCheck.durationMs = std::min<qint64>(mCheck.durationMs, qint64(previewDurationMs));

    const int fileNumber = ++progressFileCounter;
    mProgressPath = QDir::cleanPath(progressDirectory() + QLatin1Char('/') +
                                    QStringLiteral("progress_%1.txt").arg(fileNumber));
    removeCoverFile();
    // The picture's own bytes become the attached file, so only a JPEG or PNG cover can go.
    if (plan.coverIndex >= 0 && format.holdsAttachments && plan.coverEncoder == QLatin1String("copy")) {
        const AVPacket& picture = demuxer->formatCtx()->streams[plan.coverIndex]->attached_pic;
        const QString name =
            QStringLiteral("cover_%1.%2").arg(fileNumber).arg(plan.coverIsPng ? "png" : "jpg");
        const QString path = QDir::cleanPath(progressDirectory() + QLatin1Char('/') + name);
        QFile file(path);
        if (picture.size > 0 && file.open(QIODevice::WriteOnly) &&
            file.write(reinterpret_cast<const char*>(picture.data), picture.size) == picture.size)
            mCoverPath = path;
        else
            qCInfo(lcCompressor) << "The cover picture could not be written out; the output goes without it";
    }
    const VideoRequest request{
        mInputPath,         mOutputPath,         mQuality,       mPreset, mScale, mCoverPath, mThreads,
        mPolicy.maxWidth(), mPolicy.maxHeight(), mPolicy.strip()};
    const QSize boxed = VideoArguments::boxedFrameSize(request, *info, plan, build == Build::Preview);
    setProperty("resized",
                boxed.isValid() ? QStringLiteral("%1x%2").arg(boxed.width()).arg(boxed.height()) : QString());
    if (build == Build::Preview)
        return VideoArguments::preview(request, *info, plan, mProgressPath);
    return VideoArguments::encode(request, *info, plan,
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
    setProperty("sourceKept", false);
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
    QString outputFormat;
    const QString wrong = mCheck.verify(mOutputPath, &outputFormat);
    if (!wrong.isEmpty()) {
        qCWarning(lcCompressor).noquote() << "ffmpeg's result is not delivered:" << wrong;
        return {FinishCode::ResultNotAsExpected, FinishCode::resultNotAsExpectedText()};
    }
    if (!mPreviewRun)
        keepSourceWhenSmaller(outputFormat);
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
    removeCoverFile();
}

void VideoCompressor::removeCoverFile()
{
    if (!mCoverPath.isEmpty())
        QFile::remove(mCoverPath);
    mCoverPath.clear();
}

void VideoCompressor::keepSourceWhenSmaller(const QString& outputFormat)
{
    // Only within one container can the source stand in for the result; across containers the
    // conversion is what was asked for, whatever its size. Nor does a source stand in for a result
    // that had to be smaller or leave metadata out.
    if (!mPolicy.isDefault() || mSourceFormat.isEmpty() ||
        containerOf(outputFormat, mOutputPath) != mSourceFormat ||
        OutputFile::sizeOf(mOutputPath) <= OutputFile::sizeOf(mInputPath))
        return;
    QString error;
    if (OutputFile::replace(mOutputPath, mInputPath, &error)) {
        setProperty("sourceKept", true);
        qCInfo(lcCompressor) << "The result was larger than its source: the source's bytes are delivered";
    } else {
        qCWarning(lcCompressor) << "The source could not replace the larger result:" << error;
    }
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
