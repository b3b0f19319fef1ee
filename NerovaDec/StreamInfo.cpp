#include "StreamInfo.h"

#include "AsfFamily.h"

#include <NerovaDec/FFDemuxer.h>
#include <base/Helpers.h>

#include <MediaGlue/FFmpegDeleters.h>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/display.h>
}

#include <cmath>
#include <limits>

namespace Nerova {

namespace {

// Frame rates above these are taken for broken or variable-rate timing rather than a real rate.
constexpr qint64 kMaxAverageFrameRate = 120;
constexpr qint64 kMaxRealFrameRate = 119;
// An ASF-family video stream with more packets than this is real video, not a cover picture.
constexpr int kMaxCoverPackets = 3;

// Truncates toward zero; values beyond the 64-bit range (a missing duration in a coarse time base)
// saturate instead of being undefined.
qint64 truncateToInt64(double value)
{
    constexpr double kLimit = 9223372036854775808.0; // 2^63
    if (std::isnan(value))
        return 0;
    if (value >= kLimit)
        return std::numeric_limits<qint64>::max();
    if (value < -kLimit)
        return std::numeric_limits<qint64>::min();
    return static_cast<qint64>(value);
}

qint64 streamDurationMs(const AVStream* stream)
{
    const AVRational timeBase = stream->time_base;
    const double factor = timeBase.den == 0 ? 0.0 : double(timeBase.num) / double(timeBase.den) * 1000.0;
    return truncateToInt64(double(stream->duration) * factor);
}

// Whether a rate has both parts and its whole-number quotient is at most limit; the quotient is taken in
// 64 bits because a damaged file may hold the one int quotient that overflows.
bool isUsableRate(AVRational rate, qint64 limit)
{
    return rate.num != 0 && rate.den != 0 && qint64(rate.num) / qint64(rate.den) <= limit;
}

int clampToInt(double value)
{
    if (value >= double(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    if (value <= double(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    return static_cast<int>(value);
}

} // namespace

QSize CVideoStreamInfo::displaySize() const
{
    return calcDisplaySize(width, height, rotation, sampleAspectRatio);
}

AVRational ContainerInfo::getStreamTimeBase(int streamIndex) const
{
    for (const QSharedPointer<CStreamInfo>& stream : streams) {
        if (stream->index == streamIndex)
            return stream->timeBase;
    }
    return AVRational{1, 1000000};
}

QSharedPointer<CStreamInfo> makeStreamInfo(AVStream* stream, int index)
{
    auto info = QSharedPointer<CStreamInfo>::create();
    info->index = index;
    info->mediaType = stream->codecpar->codec_type;
    info->codecId = stream->codecpar->codec_id;
    info->timeBase = stream->time_base;
    return info;
}

QSharedPointer<CVideoStreamInfo> makeVideoStreamInfo(AVStream* stream, int index)
{
    const AVCodecParameters* codecpar = stream->codecpar;
    auto info = QSharedPointer<CVideoStreamInfo>::create();
    info->index = index;
    info->width = codecpar->width;
    info->height = codecpar->height;
    info->codecId = codecpar->codec_id;
    info->codecTag = codecpar->codec_tag;
    info->pixelFormat = codecpar->format;
    info->bitRate = codecpar->bit_rate;

    if (isUsableRate(stream->avg_frame_rate, kMaxAverageFrameRate))
        info->frameRate = stream->avg_frame_rate;
    else if (isUsableRate(stream->r_frame_rate, kMaxRealFrameRate))
        info->frameRate = stream->r_frame_rate;
    else
        info->frameRate = stream->avg_frame_rate;

    info->timeBase = stream->time_base;
    info->durationMs = streamDurationMs(stream);

    const AVRational streamAspect = stream->sample_aspect_ratio;
    if (streamAspect.num != 0 && streamAspect.den != 0 && streamAspect.num != streamAspect.den)
        info->sampleAspectRatio = streamAspect;
    else
        info->sampleAspectRatio = codecpar->sample_aspect_ratio;

    // The matrix gives the counter-clockwise angle; turned into a clockwise one in [0, 360) where an angle
    // less than 0.9 degrees below a full turn counts as none.
    size_t matrixSize = 0;
    const uint8_t* matrix = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &matrixSize);
    if (matrix && matrixSize >= 9 * sizeof(int32_t)) {
        const double theta = -av_display_rotation_get(reinterpret_cast<const int32_t*>(matrix));
        const double rotation = theta - 360.0 * std::floor(theta / 360.0 + 0.0025);
        if (rotation > 0)
            info->rotation = static_cast<int>(rotation);
    }

    info->isAttachedPic = (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0;
    return info;
}

QSharedPointer<CAudioStreamInfo> makeAudioStreamInfo(AVStream* stream, int index)
{
    const AVCodecParameters* codecpar = stream->codecpar;
    auto info = QSharedPointer<CAudioStreamInfo>::create();
    info->index = index;
    info->timeBase = stream->time_base;
    info->codecId = codecpar->codec_id;
    info->sampleFormat = codecpar->format;
    // The channel layout as the older count and mask fields gave it: a mask only for a native order.
    info->channels = codecpar->ch_layout.nb_channels;
    info->sampleRate = codecpar->sample_rate;
    info->bitRate = codecpar->bit_rate;
    info->channelLayout =
        codecpar->ch_layout.order == AV_CHANNEL_ORDER_NATIVE ? codecpar->ch_layout.u.mask : 0;
    info->codecTag = codecpar->codec_tag;
    info->durationMs = streamDurationMs(stream);
    return info;
}

QSize calcDisplaySize(int width, int height, int rotation, AVRational sampleAspectRatio)
{
    int w = width;
    int h = height;
    if (sampleAspectRatio.den > 0 && sampleAspectRatio.num > 0 &&
        sampleAspectRatio.num != sampleAspectRatio.den) {
        // The product in 64 bits: a damaged file's aspect ratio must not overflow it.
        const double scaled = double(qint64(sampleAspectRatio.num) * width) / double(sampleAspectRatio.den);
        w = clampToInt(std::round(scaled));
    }
    w = toEvenValue(w);
    h = toEvenValue(h);
    if (rotation == 90 || rotation == 270)
        std::swap(w, h);
    return QSize(w, h);
}

bool isAsfFamily(const AVFormatContext* context)
{
    if (!context || !context->iformat || !context->iformat->name)
        return false;
    const QString name = QString::fromUtf8(context->iformat->name);
    return name.contains(QLatin1String("asf"), Qt::CaseInsensitive) ||
           name.contains(QLatin1String("wmv"), Qt::CaseInsensitive) ||
           name.contains(QLatin1String("wma"), Qt::CaseInsensitive);
}

bool isCoverStream(const QString& path, int streamIndex)
{
    // Counting packets needs no decoder: the container is opened without probing its streams, which would
    // open a decoder per stream only to throw it away. Reading gives the same packets either way: probing
    // reads them through the same path and only holds them back.
    FFDemuxer demuxer;
    if (!demuxer.openContainer(path, Q_FUNC_INFO))
        return false;
    AVFormatContext* context = demuxer.formatCtx().data();
    if (!isAsfFamily(context))
        return false;

    int count = 0;
    for (;;) {
        AVPacketUniquePtr packet(av_packet_alloc());
        if (!packet)
            return false;
        const int result = av_read_frame(context, packet.get());
        if (result == AVERROR_EOF)
            return true;
        if (result < 0)
            return false;
        if (packet->stream_index == streamIndex && ++count > kMaxCoverPackets)
            return false;
    }
}

} // namespace Nerova
