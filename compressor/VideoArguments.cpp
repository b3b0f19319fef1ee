#include "VideoArguments.h"

#include "FormatTable.h"
#include "TimeEstimate.h"

#include <NerovaDec/StreamInfo.h>
#include <base/Helpers.h>
#include <base/LogCategories.h>

#include <algorithm>
#include <cmath>
#include <thread>

ToolCommand VideoArguments::encode(const VideoRequest& request, const Nerova::ContainerInfo& info,
                                   Encoder encoder, qint64 bitRate, const QString& progressPath)
{
    const OutputFormat& format = FormatTable::instance().forOutputPath(request.outputPath);
    ToolCommand command;
    command.words(QStringLiteral("-i")).ffmpegPath(request.inputPath);
    appendVideoEncoder(command, format, encoder);
    command.words(QStringLiteral("-pix_fmt yuv420p"));
    if (!format.audioEncoder.isEmpty())
        command.words(QStringLiteral("-c:a ") + format.audioEncoder);
    appendStreamMapping(command, info);
    command.words(QStringLiteral("-preset")).value(request.preset);
    if (encoder == Encoder::Software) {
        command.words(QStringLiteral("-crf")).value(request.quality);
        // VP9 keeps a constant quality only without a target bit rate.
        if (format.videoEncoder == QLatin1String("libvpx-vp9"))
            command.words(QStringLiteral("-b:v 0"));
    } else {
        const float kbps = float(bitRate / 1000);
        const QString rate = QStringLiteral("%1k").arg(double(request.quality.toFloat() * kbps));
        command.words(QStringLiteral("-vb"))
            .value(rate)
            .words(QStringLiteral("-minrate ") + rate)
            .words(QStringLiteral("-maxrate ") + rate)
            .words(QStringLiteral("-bufsize ") + rate);
    }

    const QSize size = referenceDisplaySize(info);
    int width = size.width();
    int height = size.height();
    const QString& scale = request.scale;
    if (scale == QLatin1String("1") || scale == QLatin1String("2") || scale == QLatin1String("4")) {
        const int divisor = scale.toInt();
        width = closestNumber(width / divisor, 4);
        height = closestNumber(height / divisor, 4);
    }
    command.words(QStringLiteral("-vf")).words(QStringLiteral("scale=%1:%2").arg(width).arg(height));
    command.words(QStringLiteral("-y"));
    appendThreads(command, request);
    if (encoder == Encoder::Hardware)
        qCDebug(lcCompressor) << "bitrate:" << bitRate;
    appendOutput(command, request, progressPath);
    return command;
}

ToolCommand VideoArguments::preview(const VideoRequest& request, const Nerova::ContainerInfo& info,
                                    const QString& progressPath)
{
    ToolCommand command;
    command.words(QStringLiteral("-i"))
        .ffmpegPath(request.inputPath)
        .words(QStringLiteral("-c:v libx264"))
        .words(QStringLiteral("-preset"))
        .value(request.preset)
        .words(QStringLiteral("-crf"))
        .value(request.quality);
    if (request.scale == QLatin1String("2") || request.scale == QLatin1String("4")) {
        const QSize size = referenceDisplaySize(info);
        const int divisor = request.scale.toInt();
        command.words(QStringLiteral("-vf"))
            .words(QStringLiteral("scale=%1:%2")
                       .arg(closestNumber(size.width() / divisor, 4))
                       .arg(closestNumber(size.height() / divisor, 4)));
    }
    command.words(QStringLiteral("-y")).words(QStringLiteral("-t 15"));
    appendOutput(command, request, progressPath);
    return command;
}

QSize VideoArguments::referenceDisplaySize(const Nerova::ContainerInfo& info)
{
    const auto& video = info.videoStreams;
    if (video.isEmpty())
        return {0, 0};
    if (video.at(0)->isAttachedPic && video.size() >= 2)
        return video.at(1)->displaySize();
    return video.at(0)->displaySize();
}

void VideoArguments::appendVideoEncoder(ToolCommand& command, const OutputFormat& format, Encoder encoder)
{
    if (encoder == Encoder::Software) {
        command.words(QStringLiteral("-c:v ") + format.videoEncoder);
        return;
    }
    const QVariantList gpus = Nerova::GpuModel::gpuModelNameList();
    const QString gpuName =
        gpus.isEmpty() ? QString() : gpus.first().toMap().value(QStringLiteral("name")).toString();
    if (gpuName.contains(QLatin1String("Intel"), Qt::CaseInsensitive)) {
        command.words(QStringLiteral("-c:v h264_qsv"));
        qCDebug(lcCompressor) << "isHardware";
    } else if (gpuName.contains(QLatin1String("NVIDIA"), Qt::CaseInsensitive)) {
        command.words(QStringLiteral("-c:v h264_nvenc"));
        qCDebug(lcCompressor) << "isHardware";
    } else {
        command.words(QStringLiteral("-c:v h264"));
        qCDebug(lcCompressor) << "noHardware";
    }
}

void VideoArguments::appendStreamMapping(ToolCommand& command, const Nerova::ContainerInfo& info)
{
    const int audioCount = info.audioStreams.size();
    const auto& subtitles = info.subtitleStreams;
    if (audioCount >= 2 && subtitles.isEmpty()) {
        command.words(QStringLiteral("-map 0:v:0 -map 0:a"));
    } else if (audioCount >= 2) {
        command.words(QStringLiteral("-map 0:v:0 -map 0:a -map 0:s -c:s copy"));
        // A bitmap subtitle cannot be copied into every container: keep video and audio only.
        const bool hasBitmap = std::any_of(subtitles.cbegin(), subtitles.cend(),
                                           [](const auto& subtitle) { return !subtitle->isTextSub; });
        if (hasBitmap)
            command.blankLast().words(QStringLiteral("-map 0:v:0 -map 0:a"));
    } else if (subtitles.size() == 1 && subtitles.at(0)->isTextSub) {
        command.words(QStringLiteral("-c:s copy"));
    }
}

void VideoArguments::appendThreads(ToolCommand& command, const VideoRequest& request)
{
    // A host that runs nothing beside the encode may give ffmpeg the whole machine.
    if (!request.threads.isEmpty()) {
        command.words(QStringLiteral("-threads")).value(request.threads);
        return;
    }
    // Otherwise ffmpeg gets a third of the machine, so the host stays responsive.
    const unsigned int hardwareThreads = std::thread::hardware_concurrency();
    const float threads = std::ceil(float(hardwareThreads) / 3.0f);
    qCDebug(lcCompressor) << "threadCount:" << hardwareThreads;
    qCDebug(lcCompressor) << "currenThreadCount:" << threads;
    command.words(QStringLiteral("-threads")).value(QString::number(int(threads)));
}

void VideoArguments::appendOutput(ToolCommand& command, const VideoRequest& request,
                                  const QString& progressPath)
{
    command.ffmpegPath(request.outputPath).words(QStringLiteral("-progress")).path(progressPath);
}
