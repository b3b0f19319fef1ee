#include "VideoCompressor.h"

#include "FFmpegLocator.h"
#include "FinishCode.h"
#include "OutputFile.h"
#include "ProgressThread.h"
#include "ScopedFlag.h"
#include "TimeEstimate.h"
#include "ToolArguments.h"

#include <NerovaDec/FFDemuxer.h>
#include <NerovaDec/FFVobDemuxer.h>
#include <NerovaDec/StreamInfo.h>
#include <base/Helpers.h>

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <thread>

namespace {

// Numbers the progress files of every video task of this process; the first file is number 2.
int name = 1;

constexpr float previewDurationMs = 15000.0f;
constexpr int toolMessageLimit = 4096;

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
    : CompressTask(params), mInputPath(params.value(QStringLiteral("inputPath")).toString()),
      mOutputPath(params.value(QStringLiteral("outputPath")).toString()),
      mQuality(params.value(QStringLiteral("quality")).toString()),
      mPreset(params.value(QStringLiteral("preset")).toString()),
      mScale(params.value(QStringLiteral("scale")).toString())
{}

VideoCompressor::~VideoCompressor()
{
    // Stop both first, emitting nothing: a running thread must never be deleted.
    if (mProcess) {
        mProcess->disconnect(this);
        if (mProcess->state() != QProcess::NotRunning) {
            mProcess->kill();
            mProcess->waitForFinished(killWaitMs);
        }
    }
    if (mProgressThread)
        mProgressThread->disconnect(this);
    stopProgressThread();
    if (mRunActive)
        discardRun();
    // The host may drop the task from a slot on compressFinished, which runs inside the process's own
    // finished signal: the process must outlive that emission.
    if (mProcess && mInProcessSignal)
        mProcess.release()->deleteLater();
}

QString VideoCompressor::progressDirectory()
{
    static const QTemporaryDir directory(QStandardPaths::writableLocation(QStandardPaths::TempLocation) +
                                         QStringLiteral("/nerova-progress-XXXXXX"));
    if (directory.isValid())
        return directory.path();
    qWarning() << "Cannot create a private folder for progress files:" << directory.errorString();
    return QDir::tempPath();
}

QSharedPointer<Nerova::ContainerInfo>
VideoCompressor::probeSource(QSharedPointer<Nerova::FFDemuxer>* demuxer) const
{
    *demuxer = Nerova::FFDemuxer::createDemuxer(mInputPath, false);
    if (!*demuxer || !(*demuxer)->open(mInputPath))
        return {};
    return (*demuxer)->containerInfo();
}

qint64 VideoCompressor::chooseDuration(const Nerova::ContainerInfo& info, Nerova::FFDemuxer& demuxer)
{
    const auto& video = info.videoStreams;
    qint64 bitRate = 0;
    bool fromContainerOrAudio = true;
    if (!video.isEmpty() && video.at(0)->durationMs > 0 && !video.at(0)->isAttachedPic) {
        mDuration = video.at(0)->durationMs;
        bitRate = video.at(0)->bitRate;
        fromContainerOrAudio = false;
    } else if (video.size() >= 2 && video.at(1)->durationMs > 0) {
        mDuration = video.at(1)->durationMs;
        bitRate = video.at(1)->bitRate;
        fromContainerOrAudio = false;
    } else if (video.isEmpty() && !info.audioStreams.isEmpty()) {
        mDuration = info.audioStreams.at(0)->durationMs;
        bitRate = info.audioStreams.at(0)->bitRate;
    } else {
        // Video without a usable stream duration, or neither video nor audio: the container's.
        mDuration = info.durationMs;
        bitRate = info.bitRate;
    }
    // A VOB's streams restart their clocks at every chapter: its demuxer knows the whole length.
    if (const auto* vob = qobject_cast<const Nerova::FFVobDemuxer*>(&demuxer);
        vob && demuxer.durationMs() > 0) {
        mDuration = demuxer.durationMs();
    } else if (fromContainerOrAudio && mDuration <= 0) {
        long long estimated = mDuration;
        timeEstimate(demuxer.formatCtx(), estimated);
        mDuration = estimated;
    }
    return bitRate;
}

bool VideoCompressor::isWebm() const
{
    return QFileInfo(mOutputPath).suffix().toLower() == QLatin1String("webm");
}

QString VideoCompressor::softwareCodecElement() const
{
    // WebM carries only VP8, VP9 or AV1 video: H.264 there could never be written.
    return isWebm() ? QStringLiteral("-c:v libvpx-vp9") : QStringLiteral("-c:v libx264");
}

QString VideoCompressor::audioCodecElement() const
{
    const QString suffix = QFileInfo(mOutputPath).suffix().toLower();
    if (suffix == QLatin1String("m2ts"))
        return QStringLiteral("-c:a ac3");
    static const QStringList aacContainers{QStringLiteral("mkv"), QStringLiteral("mp4"),
                                           QStringLiteral("mov"), QStringLiteral("m4v"),
                                           QStringLiteral("f4v")};
    if (aacContainers.contains(suffix))
        return QStringLiteral("-c:a aac");
    if (suffix == QLatin1String("avi") || suffix == QLatin1String("flv"))
        return QStringLiteral("-c:a mp3");
    return {};
}

void VideoCompressor::appendStreamMapping(QStringList& params, const Nerova::ContainerInfo& info) const
{
    const int audioCount = info.audioStreams.size();
    const auto& subtitles = info.subtitleStreams;
    if (audioCount >= 2 && subtitles.isEmpty()) {
        params << QStringLiteral("-map 0:v:0 -map 0:a");
    } else if (audioCount >= 2) {
        params << QStringLiteral("-map 0:v:0 -map 0:a -map 0:s -c:s copy");
        // A bitmap subtitle cannot be copied into every container: keep video and audio only.
        const bool hasBitmap = std::any_of(subtitles.cbegin(), subtitles.cend(),
                                           [](const auto& subtitle) { return !subtitle->isTextSub; });
        if (hasBitmap) {
            params.last() = QString();
            params << QStringLiteral("-map 0:v:0 -map 0:a");
        }
    } else if (subtitles.size() == 1 && subtitles.at(0)->isTextSub) {
        params << QStringLiteral("-c:s copy");
    }
}

QSize VideoCompressor::referenceDisplaySize(const Nerova::ContainerInfo& info)
{
    const auto& video = info.videoStreams;
    if (video.isEmpty())
        return {0, 0};
    if (video.at(0)->isAttachedPic && video.size() >= 2)
        return video.at(1)->displaySize();
    return video.at(0)->displaySize();
}

void VideoCompressor::appendThreads(QStringList& params) const
{
    // ffmpeg gets a third of the machine, so the host stays responsive.
    const unsigned int hardwareThreads = std::thread::hardware_concurrency();
    const float threads = std::ceil(float(hardwareThreads) / 3.0f);
    qDebug() << "threadCount:" << hardwareThreads;
    qDebug() << "currenThreadCount:" << threads;
    params << QStringLiteral("-threads") << QString::number(int(threads));
}

void VideoCompressor::appendProgress(QStringList& params)
{
    params << QStringLiteral("-progress");
    mProgressPath = QDir::cleanPath(progressDirectory() + QLatin1Char('/') +
                                    QStringLiteral("progress_%1.txt").arg(++name));
    params << ToolArguments::quoted(mProgressPath);
}

QStringList VideoCompressor::makeEncodeParam(Encoder encoder)
{
    QSharedPointer<Nerova::FFDemuxer> demuxer;
    const QSharedPointer<Nerova::ContainerInfo> info = probeSource(&demuxer);
    if (!info)
        return {};
    const qint64 bitRate = chooseDuration(*info, *demuxer);
    demuxer.reset();

    QStringList params{QStringLiteral("-i"), ToolArguments::quotedFFmpegPath(mInputPath)};
    if (encoder == Encoder::Software) {
        params << softwareCodecElement();
    } else {
        const QVariantList gpus = Nerova::GpuModel::gpuModelNameList();
        const QString gpuName =
            gpus.isEmpty() ? QString() : gpus.first().toMap().value(QStringLiteral("name")).toString();
        if (gpuName.contains(QLatin1String("Intel"), Qt::CaseInsensitive)) {
            params << QStringLiteral("-c:v h264_qsv");
            qDebug() << "isHardware";
        } else if (gpuName.contains(QLatin1String("NVIDIA"), Qt::CaseInsensitive)) {
            params << QStringLiteral("-c:v h264_nvenc");
            qDebug() << "isHardware";
        } else {
            params << QStringLiteral("-c:v h264");
            qDebug() << "noHardware";
        }
    }
    params << QStringLiteral("-pix_fmt yuv420p");
    const QString audioCodec = audioCodecElement();
    if (!audioCodec.isEmpty())
        params << audioCodec;
    appendStreamMapping(params, *info);
    params << QStringLiteral("-preset") << mPreset;
    if (encoder == Encoder::Software) {
        params << QStringLiteral("-crf") << mQuality;
        if (isWebm())
            params << QStringLiteral("-b:v 0"); // constant quality for VP9
    } else {
        const float kbps = float(bitRate / 1000);
        const QString rate = QStringLiteral("%1k").arg(double(mQuality.toFloat() * kbps));
        params << QStringLiteral("-vb") << rate << QStringLiteral("-minrate ") + rate
               << QStringLiteral("-maxrate ") + rate << QStringLiteral("-bufsize ") + rate;
    }

    const QSize size = referenceDisplaySize(*info);
    int width = size.width();
    int height = size.height();
    if (mScale == QLatin1String("1") || mScale == QLatin1String("2") || mScale == QLatin1String("4")) {
        const int divisor = mScale.toInt();
        width = closestNumber(width / divisor, 4);
        height = closestNumber(height / divisor, 4);
    }
    params << QStringLiteral("-vf") << QStringLiteral("scale=%1:%2").arg(width).arg(height);
    params << QStringLiteral("-y");
    appendThreads(params);
    if (encoder == Encoder::Hardware)
        qDebug() << "bitrate:" << bitRate;
    params << ToolArguments::quotedFFmpegPath(mOutputPath);
    appendProgress(params);
    return params;
}

QStringList VideoCompressor::makeVideoCompressParam(const QMap<QString, QVariant>& params)
{
    Q_UNUSED(params)
    return makeEncodeParam(Encoder::Software);
}

QStringList VideoCompressor::makeVideoHardwareParam(const QMap<QString, QVariant>& params)
{
    Q_UNUSED(params)
    return makeEncodeParam(Encoder::Hardware);
}

QStringList VideoCompressor::makeVideoPreviewParam(const QMap<QString, QVariant>& params)
{
    Q_UNUSED(params)
    QSharedPointer<Nerova::FFDemuxer> demuxer;
    const QSharedPointer<Nerova::ContainerInfo> info = probeSource(&demuxer);
    if (!info)
        return {};
    demuxer.reset();

    QStringList list{QStringLiteral("-i"),
                     ToolArguments::quotedFFmpegPath(mInputPath),
                     QStringLiteral("-c:v libx264"),
                     QStringLiteral("-preset"),
                     mPreset,
                     QStringLiteral("-crf"),
                     mQuality};
    if (mScale == QLatin1String("2") || mScale == QLatin1String("4")) {
        const QSize size = referenceDisplaySize(*info);
        const int divisor = mScale.toInt();
        list << QStringLiteral("-vf")
             << QStringLiteral("scale=%1:%2")
                    .arg(closestNumber(size.width() / divisor, 4))
                    .arg(closestNumber(size.height() / divisor, 4));
    }
    list << QStringLiteral("-y") << QStringLiteral("-t 15") << ToolArguments::quotedFFmpegPath(mOutputPath);
    appendProgress(list);
    return list;
}

bool VideoCompressor::startTask()
{
    setStatus(StatusRunning);
    return run(false);
}

bool VideoCompressor::previewTask()
{
    setStatus(StatusRunning);
    return run(true);
}

bool VideoCompressor::run(bool preview)
{
    if (mRunActive)
        return false; // one run at a time
    const QString ffmpeg = FFmpegLocator::ffmpegPath();
    if (!QFile::exists(ffmpeg))
        return false;

    mRunActive = true;
    if (!ToolArguments::areSafeRequestValues({mQuality, mPreset, mScale})) {
        qDebug() << "Refusing request values" << mQuality << mPreset << mScale;
        finishRun(FinishCode::InvalidRequest, FinishCode::invalidRequestText());
        return false;
    }
    // ffmpeg cannot write onto its own input, and a failed run would then delete the source.
    if (OutputFile::isSameFile(mInputPath, mOutputPath)) {
        finishRun(FinishCode::OutputIsSource, FinishCode::outputIsSourceText());
        return false;
    }

    const QStringList params = preview ? makeVideoPreviewParam(task()) : makeVideoCompressParam(task());
    if (!preview)
        qDebug().noquote() << ToolArguments::quoted(ffmpeg) + QLatin1Char(' ') +
                                  params.join(QLatin1Char(' '));
    if (!mProgressPath.isEmpty() && QFile::exists(mProgressPath))
        QFile::remove(mProgressPath);
    if (!mSetAside.setAside(mOutputPath)) {
        finishRun(FinishCode::OutputNotSetAside, FinishCode::outputNotSetAsideText());
        return false;
    }

    stopProgressThread();
    mProcess = std::make_unique<QProcess>();
    mProgressThread =
        std::make_unique<ProgressThread>(preview ? previewDurationMs : float(mDuration), mProgressPath);
    connect(mProcess.get(), SIGNAL(finished(int, QProcess::ExitStatus)), this,
            SLOT(onCompressFinished(int, QProcess::ExitStatus)));
    connect(mProcess.get(), &QProcess::errorOccurred, this, &VideoCompressor::onProcessError);
    connect(mProcess.get(), &QProcess::readyReadStandardError, this, &VideoCompressor::onStandardError);
    // A full encode reports progress straight from the thread; a preview through the task's event loop.
    connect(mProgressThread.get(), SIGNAL(threadCompressProcess(float)), this,
            SLOT(onCompressProgress(float)), preview ? Qt::AutoConnection : Qt::DirectConnection);

    mToolMessages.clear();
    mProcess->setProgram(ffmpeg);
    mProcess->setArguments(ToolArguments::fromParamList(params));
    mProcess->setStandardInputFile(QProcess::nullDevice());
    mProcess->setStandardOutputFile(QProcess::nullDevice());
    mProcess->start(QIODevice::ReadOnly);
    mProgressThread->start(QThread::InheritPriority);
    return true;
}

void VideoCompressor::abortTask()
{
    if (!mRunActive) {
        // Nothing runs: no file of this task is at the output, so nothing is deleted.
        if (!mProcess)
            setStatus(StatusFailed);
        return;
    }
    QPointer<VideoCompressor> self(this);
    if (mProcess->state() != QProcess::NotRunning) {
        mProcess->kill();
        // The completion normally runs inside this wait and reports the killed process.
        if (!mProcess->waitForFinished(killWaitMs) && self)
            qDebug() << "Can't kill mProcess";
    }
    if (!self)
        return;
    stopProgressThread();
    setStatus(StatusFailed);
}

void VideoCompressor::stopProgressThread()
{
    if (!mProgressThread)
        return;
    mProgressThread->stopThread();
    if (!mProgressThread->wait(killWaitMs)) {
        qDebug() << "==============time wait out===========";
        mProgressThread->wait(); // it must have ended before it can be deleted
    }
}

void VideoCompressor::discardRun()
{
    // Whatever ffmpeg left at the output is partial: the user's own file (if any) takes its place.
    QFile::remove(mOutputPath);
    mSetAside.restore();
}

void VideoCompressor::finishRun(int code, const QString& text)
{
    mRunActive = false;
    QPointer<VideoCompressor> self(this);
    emit compressFinished(code, text);
    // Written after the signal: a receiver handling it synchronously still sees the run as running.
    if (self)
        setStatus(code == 0 ? StatusSucceeded : StatusFailed);
}

void VideoCompressor::onCompressProgress(float progress)
{
    emit compressProcess(std::min(progress, 1.0f));
}

void VideoCompressor::onStandardError()
{
    mToolMessages += mProcess->readAllStandardError();
    if (mToolMessages.size() > toolMessageLimit)
        mToolMessages = mToolMessages.right(toolMessageLimit);
}

void VideoCompressor::onProcessError(QProcess::ProcessError error)
{
    if (error != QProcess::FailedToStart || !mRunActive)
        return;
    ScopedFlag inProcessSignal(this, mInProcessSignal);
    qDebug() << "Cannot start" << mProcess->program() << mProcess->errorString();
    stopProgressThread();
    discardRun();
    finishRun(FinishCode::ToolFailedToStart, FinishCode::toolFailedToStartText());
}

void VideoCompressor::onCompressFinished(int exitCode, QProcess::ExitStatus exitStatus)
{
    if (!mRunActive)
        return;
    ScopedFlag inProcessSignal(this, mInProcessSignal);
    onStandardError();
    if (exitCode == 0) {
        mSetAside.drop();
        emit compressProcess(1.0f);
        finishRun(0, finishText(0));
        return;
    }
    qDebug() << "onFinished:" << exitCode << "," << exitStatus;
    if (!mToolMessages.trimmed().isEmpty())
        qDebug().noquote() << "ffmpeg:" << QString::fromLocal8Bit(mToolMessages.trimmed());
    stopProgressThread();
    discardRun();
    finishRun(exitCode, finishText(exitCode));
}
