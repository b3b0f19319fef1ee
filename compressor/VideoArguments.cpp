#include "VideoArguments.h"

#include "FormatTable.h"
#include "TimeEstimate.h"

#include <NerovaDec/StreamInfo.h>
#include <base/Helpers.h>
#include <base/LogCategories.h>

#include <algorithm>
#include <cmath>
#include <thread>

namespace {

const QString kVp9 = QStringLiteral("libvpx-vp9");

// The rate of the format's list closest to the source's, preferring one at or above it; 0 when the
// source's rate is fine as it is.
int fittingSampleRate(const OutputFormat& format, int sourceRate)
{
    const QVector<int>& rates = format.audioSampleRates;
    if (rates.isEmpty() || rates.contains(sourceRate))
        return 0;
    int best = 0;
    for (const int rate : rates) {
        const bool better = best == 0 || (rate >= sourceRate && (best < sourceRate || rate < best)) ||
                            (rate < sourceRate && best < sourceRate && rate > best);
        if (better)
            best = rate;
    }
    return best;
}

const Nerova::CVideoStreamInfo* videoStream(const Nerova::ContainerInfo& info, int index)
{
    for (const auto& video : info.videoStreams) {
        if (video->index == index)
            return video.data();
    }
    return nullptr;
}

} // namespace

ToolCommand VideoArguments::encode(const VideoRequest& request, const Nerova::ContainerInfo& info,
                                   const StreamPlan& plan, Encoder encoder, qint64 bitRate,
                                   const QString& progressPath)
{
    return build(request, info, plan, encoder, bitRate, progressPath, Length::Full);
}

ToolCommand VideoArguments::preview(const VideoRequest& request, const Nerova::ContainerInfo& info,
                                    const StreamPlan& plan, const QString& progressPath)
{
    return build(request, info, plan, Encoder::Software, 0, progressPath, Length::Preview);
}

ToolCommand VideoArguments::build(const VideoRequest& request, const Nerova::ContainerInfo& info,
                                  const StreamPlan& plan, Encoder encoder, qint64 bitRate,
                                  const QString& progressPath, Length length)
{
    const OutputFormat& format = FormatTable::instance().forOutputPath(request.outputPath);
    for (const QString& stream : plan.leftOut)
        qCInfo(lcCompressor).noquote() << "Left out of" << format.suffix << "output:" << stream;
    // The GPU encoders write H.264 only; other containers' codecs are encoded in software.
    if (format.videoEncoder != QLatin1String("libx264"))
        encoder = Encoder::Software;
    const bool hasVideo = plan.videoIndex >= 0;
    // With a cover beside it, the video's own options name the first video stream only.
    const bool coverAsStream = plan.coverIndex >= 0 && !format.holdsAttachments;
    const QString videoOnly = coverAsStream ? QStringLiteral(":v:0") : QString();

    ToolCommand command;
    command.words(QStringLiteral("-i")).ffmpegPath(request.inputPath);
    if (hasVideo) {
        appendVideoEncoder(command, QStringLiteral("-c:v") + videoOnly, format, encoder);
        command.words(QStringLiteral("-pix_fmt%1 yuv420p").arg(videoOnly));
    }
    appendAudio(command, plan, info, format);
    appendStreamMapping(command, plan);
    appendCover(command, plan, request);
    if (hasVideo) {
        appendRateControl(command, request, format, encoder, bitRate);
        const auto* video = videoStream(info, plan.videoIndex);
        const FrameSize frame = frameSize(request, info, plan, length);
        const QString filterOption =
            videoOnly.isEmpty() ? QStringLiteral("-vf") : QStringLiteral("-filter:v:0");
        const bool boxWithoutSize =
            frame.width <= 0 && (request.maxWidth > 0 || request.maxHeight > 0) && !frame.scaled;
        // A full encode always names its size; 4:2:0 needs at least two pixels each way (0 keeps the
        // source's size where the probe knew none).
        const bool onePixel = frame.width == 1 || frame.height == 1;
        if (boxWithoutSize) {
            // The probe knew no size: ffmpeg fits the frame into the box itself, never enlarging.
            const QString w = request.maxWidth > 0 ? QStringLiteral("min(%1,iw)").arg(request.maxWidth)
                                                   : QStringLiteral("iw");
            const QString h = request.maxHeight > 0 ? QStringLiteral("min(%1,ih)").arg(request.maxHeight)
                                                    : QStringLiteral("ih");
            command.words(filterOption)
                .words(QStringLiteral("scale=w='%1':h='%2':force_original_aspect_ratio=decrease:"
                                      "force_divisible_by=2")
                           .arg(w, h));
        } else if (frame.scaled || frame.boxed || length == Length::Full || onePixel) {
            const auto fit = [](int pixels) {
                return pixels == 1 ? 2 : pixels;
            };
            command.words(filterOption)
                .words(QStringLiteral("scale=%1:%2").arg(fit(frame.width)).arg(fit(frame.height)));
        }
        // A container without per-frame timing gets evenly spaced frames at the source's rate, with
        // frames repeated over gaps, so the length stays the source's.
        if (!format.holdsVariableFrameRate) {
            command.words(QStringLiteral("-fps_mode%1 cfr").arg(videoOnly));
            if (video && video->frameRate.num > 0)
                command.words(QStringLiteral("-r%1 %2/%3")
                                  .arg(videoOnly)
                                  .arg(video->frameRate.num)
                                  .arg(video->frameRate.den));
        }
    }
    appendMetadataPolicy(command, request);
    command.words(QStringLiteral("-y"));
    if (length == Length::Preview)
        command.words(QStringLiteral("-t %1").arg(previewSeconds));
    appendThreads(command, request);
    if (encoder == Encoder::Hardware)
        qCDebug(lcCompressor) << "bitrate:" << bitRate;
    appendOutput(command, request, progressPath);
    return command;
}

QSize VideoArguments::boxedFrameSize(const VideoRequest& request, const Nerova::ContainerInfo& info,
                                     const StreamPlan& plan, bool preview)
{
    const FrameSize frame = frameSize(request, info, plan, preview ? Length::Preview : Length::Full);
    return frame.boxed ? QSize(frame.width, frame.height) : QSize();
}

VideoArguments::FrameSize VideoArguments::frameSize(const VideoRequest& request,
                                                    const Nerova::ContainerInfo& info, const StreamPlan& plan,
                                                    Length length)
{
    const auto* video = videoStream(info, plan.videoIndex);
    const QSize size = video ? video->displaySize() : QSize();
    FrameSize frame{size.width(), size.height()};
    const QString& scale = request.scale;
    frame.scaled = scale == QLatin1String("2") || scale == QLatin1String("4") ||
                   (length == Length::Full && scale == QLatin1String("1"));
    if (frame.scaled) {
        const int divisor = scale.toInt();
        frame.width = closestNumber(frame.width / divisor, 4);
        frame.height = closestNumber(frame.height / divisor, 4);
    }
    if (frame.width <= 0 || frame.height <= 0)
        return frame;
    // The box applies to the frame as it is shown and after the divisor; the side that limits gets the
    // box (made even for 4:2:0), the other keeps the aspect ratio to the nearest even size.
    const int boxWidth = request.maxWidth, boxHeight = request.maxHeight;
    const bool wide = boxWidth > 0 && frame.width > boxWidth;
    const bool tall = boxHeight > 0 && frame.height > boxHeight;
    if (!wide && !tall)
        return frame;
    const auto even = [](double pixels) {
        return std::max(2, int(std::floor(pixels / 2.0 + 0.5)) * 2);
    };
    const bool widthLimits = boxWidth > 0 && (boxHeight <= 0 || qint64(frame.width) * boxHeight >=
                                                                    qint64(frame.height) * boxWidth);
    // The limiting side is made even first, so the other follows the size that is really written.
    const int width = widthLimits ? std::max(2, boxWidth / 2 * 2)
                                  : even(double(frame.width) * (boxHeight / 2 * 2) / frame.height);
    const int height =
        widthLimits ? even(double(frame.height) * width / frame.width) : std::max(2, boxHeight / 2 * 2);
    // Rounding to even never takes a side past the box or the source.
    const int widthCap = boxWidth > 0 ? std::min(frame.width, boxWidth) : frame.width;
    const int heightCap = boxHeight > 0 ? std::min(frame.height, boxHeight) : frame.height;
    frame.width = std::max(2, std::min(width, widthCap / 2 * 2));
    frame.height = std::max(2, std::min(height, heightCap / 2 * 2));
    frame.boxed = true;
    return frame;
}

void VideoArguments::appendMetadataPolicy(ToolCommand& command, const VideoRequest& request)
{
    // MP4 and MOV keep the place of recording as "location" (the udta ©xyz atom) and its language
    // variant; an empty value removes a tag ffmpeg would otherwise copy from the source.
    if (request.strip == QLatin1String("gps")) {
        command.words(QStringLiteral("-metadata location= -metadata location-eng="));
    } else if (request.strip == QLatin1String("all")) {
        // Only the container's own tags go: the streams keep their language and the like.
        command.words(QStringLiteral("-map_metadata:g -1"));
    }
}

void VideoArguments::appendVideoEncoder(ToolCommand& command, const QString& option,
                                        const OutputFormat& format, Encoder encoder)
{
    if (encoder == Encoder::Software) {
        command.words(option + QLatin1Char(' ') + format.videoEncoder);
        return;
    }
    const QVariantList gpus = Nerova::GpuModel::gpuModelNameList();
    const QString gpuName =
        gpus.isEmpty() ? QString() : gpus.first().toMap().value(QStringLiteral("name")).toString();
    if (gpuName.contains(QLatin1String("Intel"), Qt::CaseInsensitive)) {
        command.words(option + QStringLiteral(" h264_qsv"));
        qCDebug(lcCompressor) << "isHardware";
    } else if (gpuName.contains(QLatin1String("NVIDIA"), Qt::CaseInsensitive)) {
        command.words(option + QStringLiteral(" h264_nvenc"));
        qCDebug(lcCompressor) << "isHardware";
    } else {
        command.words(option + QStringLiteral(" h264"));
        qCDebug(lcCompressor) << "noHardware";
    }
}

void VideoArguments::appendAudio(ToolCommand& command, const StreamPlan& plan,
                                 const Nerova::ContainerInfo& info, const OutputFormat& format)
{
    if (!format.audioEncoder.isEmpty())
        command.words(QStringLiteral("-c:a ") + format.audioEncoder);
    for (int i = 0; i < plan.audioIndexes.size(); ++i) {
        for (const auto& audio : info.audioStreams) {
            if (audio->index != plan.audioIndexes.at(i))
                continue;
            if (const int rate = fittingSampleRate(format, audio->sampleRate))
                command.words(QStringLiteral("-ar:a:%1 %2").arg(i).arg(rate));
        }
    }
}

void VideoArguments::appendStreamMapping(ToolCommand& command, const StreamPlan& plan)
{
    // Every stream is named by its index, so ffmpeg never picks one by its own defaults.
    QVector<int> indexes;
    if (plan.videoIndex >= 0)
        indexes << plan.videoIndex;
    indexes << plan.audioIndexes;
    for (const StreamPlan::Subtitle& subtitle : plan.subtitles)
        indexes << subtitle.index;
    indexes << plan.attachmentIndexes;
    QStringList maps;
    for (const int index : indexes)
        maps << QStringLiteral("-map 0:%1").arg(index);
    if (!maps.isEmpty())
        command.words(maps.join(QLatin1Char(' ')));
    const bool allCopied = std::all_of(plan.subtitles.cbegin(), plan.subtitles.cend(),
                                       [](const StreamPlan::Subtitle& s) { return s.encoder == "copy"; });
    if (!plan.subtitles.isEmpty() && allCopied) {
        command.words(QStringLiteral("-c:s copy"));
    } else {
        for (int i = 0; i < plan.subtitles.size(); ++i)
            command.words(QStringLiteral("-c:s:%1 %2").arg(i).arg(plan.subtitles.at(i).encoder));
    }
    if (!plan.attachmentIndexes.isEmpty())
        command.words(QStringLiteral("-c:t copy"));
}

void VideoArguments::appendCover(ToolCommand& command, const StreamPlan& plan, const VideoRequest& request)
{
    if (plan.coverIndex < 0)
        return;
    const OutputFormat& format = FormatTable::instance().forOutputPath(request.outputPath);
    if (format.holdsAttachments) {
        // Matroska keeps a cover as an attached picture file, named as players look for it.
        if (request.coverFilePath.isEmpty())
            return;
        const QString attachment = QStringLiteral("-metadata:s:t:%1 ").arg(plan.attachmentIndexes.size());
        command.words(QStringLiteral("-attach"))
            .path(request.coverFilePath)
            .words(attachment + (plan.coverIsPng ? QStringLiteral("mimetype=image/png")
                                                 : QStringLiteral("mimetype=image/jpeg")))
            .words(attachment + (plan.coverIsPng ? QStringLiteral("filename=cover.png")
                                                 : QStringLiteral("filename=cover.jpg")));
        return;
    }
    const int output = plan.videoIndex >= 0 ? 1 : 0;
    command.words(QStringLiteral("-map 0:%1 -c:v:%2 %3 -disposition:v:%2 attached_pic")
                      .arg(plan.coverIndex)
                      .arg(output)
                      .arg(plan.coverEncoder));
}

void VideoArguments::appendRateControl(ToolCommand& command, const VideoRequest& request,
                                       const OutputFormat& format, Encoder encoder, qint64 bitRate)
{
    if (format.videoEncoder == kVp9) {
        // libvpx's own defaults encode at a crawl: the good deadline at a middle speed, rows and tiles
        // in parallel. Constant quality needs the target bit rate at zero.
        command.words(QStringLiteral("-deadline good -cpu-used 4 -row-mt 1 -tile-columns 2"))
            .words(QStringLiteral("-crf"))
            .value(request.quality)
            .words(QStringLiteral("-b:v 0"));
        return;
    }
    command.words(QStringLiteral("-preset")).value(request.preset);
    if (encoder == Encoder::Software) {
        command.words(QStringLiteral("-crf")).value(request.quality);
        return;
    }
    const float kbps = float(bitRate / 1000);
    const QString rate = QStringLiteral("%1k").arg(double(request.quality.toFloat() * kbps));
    command.words(QStringLiteral("-vb"))
        .value(rate)
        .words(QStringLiteral("-minrate ") + rate)
        .words(QStringLiteral("-maxrate ") + rate)
        .words(QStringLiteral("-bufsize ") + rate);
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
