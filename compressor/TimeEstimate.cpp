#include "TimeEstimate.h"

#include <MediaGlue/MediaGlue.h>
#include <base/Helpers.h>

#include <QMap>
#include <base/LogCategories.h>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/time.h>
}

void timeEstimate(QSharedPointer<AVFormatContext> formatCtx, long long& durationMs)
{
    if (durationMs > 0 || !formatCtx)
        return;

    const int64_t limitUs = formatCtx->duration > 0 ? 3000000 : 6000000;
    const int64_t startUs = av_gettime_relative();
    bool complete = true;
    QMap<int, qint64> firstPts;
    QMap<int, qint64> lastEnd;
    for (;;) {
        const QSharedPointer<AVPacket> packet = Nerova::makeAVPacketPtr(av_packet_alloc());
        if (!packet || av_read_frame(formatCtx.data(), packet.data()) < 0)
            break;
        const int index = packet->stream_index;
        // Raw streams carry no timestamps at all, only packet durations: such a packet starts where the
        // stream's previous one ended, instead of at a marker value that would wreck the arithmetic.
        qint64 start = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        if (start == AV_NOPTS_VALUE)
            start = lastEnd.value(index, 0);
        if (!firstPts.contains(index))
            firstPts.insert(index, start);
        const qint64 end = start + packet->duration;
        if (lastEnd.value(index, 0) < end)
            lastEnd.insert(index, end);
        if (av_gettime_relative() - startUs > limitUs) {
            qCDebug(lcCompressor) << "InfoEstimate timeOut";
            complete = false;
            break;
        }
    }

    for (unsigned int i = 0; i < formatCtx->nb_streams; ++i) {
        const AVRational timeBase = formatCtx->streams[i]->time_base;
        // A stream without a usable time base says nothing about the duration.
        if (timeBase.den == 0)
            continue;
        const int index = int(i);
        const qint64 span = lastEnd.value(index, 0) - firstPts.value(index, 0);
        const qint64 streamMs = qint64(double(span) * (double(timeBase.num) / double(timeBase.den) * 1000.0));
        if (streamMs != 0) {
            durationMs = complete ? streamMs : 0;
            return;
        }
    }
}

int closestNumber(int n, int m)
{
    return Nerova::closestNumber(n, m);
}
