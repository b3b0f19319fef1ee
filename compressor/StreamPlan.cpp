#include "StreamPlan.h"

#include "FormatTable.h"

#include <NerovaDec/StreamInfo.h>

#include <algorithm>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace {

int codecOf(const Nerova::ContainerInfo& info, int index)
{
    for (const auto& stream : info.streams) {
        if (stream->index == index)
            return stream->codecId;
    }
    return AV_CODEC_ID_NONE;
}

QString describe(int index, int codecId, const char* what)
{
    return QStringLiteral("stream %1 (%2, %3)")
        .arg(index)
        .arg(QLatin1String(avcodec_get_name(AVCodecID(codecId))), QLatin1String(what));
}

// The encoder that writes a text subtitle into the format, empty when the format holds none.
QString textSubtitleEncoder(const OutputFormat& format, int codecId)
{
    switch (format.subtitles) {
    case OutputFormat::Subtitles::Copy:
        // Matroska holds these as they are; any other text kind is turned into SubRip.
        if (codecId == AV_CODEC_ID_SUBRIP || codecId == AV_CODEC_ID_ASS || codecId == AV_CODEC_ID_SSA ||
            codecId == AV_CODEC_ID_WEBVTT || codecId == AV_CODEC_ID_TEXT)
            return QStringLiteral("copy");
        return QStringLiteral("srt");
    case OutputFormat::Subtitles::MovText:
        return QStringLiteral("mov_text");
    case OutputFormat::Subtitles::WebVtt:
        return QStringLiteral("webvtt");
    case OutputFormat::Subtitles::None:
        break;
    }
    return {};
}

bool holdsBitmap(const OutputFormat& format, int codecId)
{
    return (codecId == AV_CODEC_ID_DVD_SUBTITLE && format.holdsDvdSubtitles) ||
           (codecId == AV_CODEC_ID_HDMV_PGS_SUBTITLE && format.holdsPgsSubtitles);
}

} // namespace

StreamPlan StreamPlan::choose(const Nerova::ContainerInfo& info, const OutputFormat& format)
{
    StreamPlan plan;
    // A picture is a cover only beside sound: a file of nothing but "covers" has its first one as video.
    const bool onlyPictures =
        info.audioStreams.isEmpty() && std::all_of(info.videoStreams.cbegin(), info.videoStreams.cend(),
                                                   [](const auto& video) { return video->isAttachedPic; });
    for (const auto& video : info.videoStreams) {
        const bool cover = video->isAttachedPic && !(onlyPictures && plan.videoIndex < 0);
        if (!cover && plan.videoIndex < 0) {
            plan.videoIndex = video->index;
        } else if (cover && plan.coverIndex < 0 && format.holdsCover) {
            plan.coverIndex = video->index;
            // Covers are JPEG or PNG pictures; anything else is turned into PNG.
            const bool plain = video->codecId == AV_CODEC_ID_MJPEG || video->codecId == AV_CODEC_ID_PNG;
            plan.coverEncoder = plain ? QStringLiteral("copy") : QStringLiteral("png");
            plan.coverIsPng = video->codecId != AV_CODEC_ID_MJPEG;
        } else {
            plan.leftOut << describe(video->index, video->codecId, cover ? "cover picture" : "further video");
        }
    }
    for (const auto& audio : info.audioStreams) {
        if (plan.audioIndexes.isEmpty() || format.holdsSeveralAudio)
            plan.audioIndexes << audio->index;
        else
            plan.leftOut << describe(audio->index, audio->codecId, "further audio");
    }
    for (const auto& subtitle : info.subtitleStreams) {
        const int codecId = codecOf(info, subtitle->index);
        QString encoder;
        if (codecId == AV_CODEC_ID_EIA_608)
            encoder.clear(); // caption data inside the video, not a subtitle track of its own
        else if (subtitle->isTextSub)
            encoder = textSubtitleEncoder(format, codecId);
        else if (holdsBitmap(format, codecId))
            encoder = QStringLiteral("copy");
        if (encoder.isEmpty())
            plan.leftOut << describe(subtitle->index, codecId, "subtitle the container cannot hold");
        else
            plan.subtitles << Subtitle{subtitle->index, encoder};
    }
    for (const auto& stream : info.streams) {
        if (stream->mediaType == AVMEDIA_TYPE_ATTACHMENT) {
            if (format.holdsAttachments)
                plan.attachmentIndexes << stream->index;
            else
                plan.leftOut << describe(stream->index, stream->codecId, "attachment");
        } else if (stream->mediaType == AVMEDIA_TYPE_DATA) {
            plan.leftOut << describe(stream->index, stream->codecId, "data");
        }
    }
    return plan;
}
