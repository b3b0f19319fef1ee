#include "VideoResultCheck.h"

#include <NerovaDec/FFDemuxer.h>
#include <NerovaDec/StreamInfo.h>

#include <MediaGlue/FFmpegDeleters.h>
#include <MediaGlue/MediaGlue.h>

#include <QFileInfo>

#include <algorithm>

namespace {

// Packets read in search of a first picture before the stream counts as undecodable.
constexpr int kMaxPacketsForFirstFrame = 2000;

// Whether at least one picture of the stream decodes.
bool decodesAFrame(Nerova::FFDemuxer& demuxer, int streamIndex, QString* why)
{
    const QSharedPointer<AVFormatContext> context = demuxer.formatCtx();
    const AVCodecParameters* parameters = context->streams[streamIndex]->codecpar;
    const AVCodec* codec = avcodec_find_decoder(parameters->codec_id);
    if (!codec) {
        *why = QStringLiteral("no decoder for its video");
        return false;
    }
    Nerova::AVCodecContextPtr decoder(avcodec_alloc_context3(codec));
    Nerova::AVFramePtr frame(av_frame_alloc());
    if (!decoder || !frame)
        return false;
    int result = avcodec_parameters_to_context(decoder.get(), parameters);
    if (result >= 0)
        result = avcodec_open2(decoder.get(), codec, nullptr);
    if (result < 0) {
        *why = QStringLiteral("its video decoder does not open: ") + Nerova::ffmpegErrorText(result);
        return false;
    }
    for (int packets = 0; packets < kMaxPacketsForFirstFrame; ++packets) {
        const QSharedPointer<AVPacket> packet = demuxer.readPacket(streamIndex);
        // At the end the decoder is drained: a short file may hold its only picture back until then.
        avcodec_send_packet(decoder.get(), packet ? packet.data() : nullptr);
        if (avcodec_receive_frame(decoder.get(), frame.get()) >= 0)
            return true;
        if (!packet)
            break;
    }
    *why = QStringLiteral("no picture of its video decodes");
    return false;
}

} // namespace

qint64 VideoResultCheck::toleranceMs(qint64 durationMs)
{
    return std::max<qint64>(500, durationMs / 50);
}

QString VideoResultCheck::verify(const QString& outputPath, QString* formatName) const
{
    if (QFileInfo(outputPath).size() <= 0)
        return QStringLiteral("the output is empty or missing");
    const QSharedPointer<Nerova::FFDemuxer> demuxer = Nerova::FFDemuxer::createDemuxer(outputPath, false);
    if (!demuxer || !demuxer->open(outputPath))
        return QStringLiteral("the output does not open");
    const QSharedPointer<Nerova::ContainerInfo> info = demuxer->containerInfo();
    if (!info)
        return QStringLiteral("the output does not open");
    if (formatName)
        *formatName = info->formatName;

    if (info->audioStreams.size() != audioTracks)
        return QStringLiteral("%1 audio track(s) instead of %2")
            .arg(info->audioStreams.size())
            .arg(audioTracks);
    if (durationMs > 0 && std::abs(info->durationMs - durationMs) > toleranceMs(durationMs))
        return QStringLiteral("%1 ms long instead of %2 ms").arg(info->durationMs).arg(durationMs);
    if (video) {
        const auto& streams = info->videoStreams;
        const auto moving = std::find_if(streams.cbegin(), streams.cend(),
                                         [](const auto& stream) { return !stream->isAttachedPic; });
        if (moving == streams.cend())
            return QStringLiteral("no video stream");
        QString why;
        if (!decodesAFrame(*demuxer, (*moving)->index, &why))
            return why;
    }
    return {};
}
