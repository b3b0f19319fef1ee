#pragma once

#include <base/NerovaGlobal.h>

#include <QtGlobal>

namespace Nerova {
struct ContainerInfo;
class FFDemuxer;
} // namespace Nerova

// How long a video source runs, which a full encode measures its progress against, and the bit rate
// of the stream (or container) that length came from, which a bit-rate-controlled encode scales.
struct NEROVA_EXPORT SourceDuration
{
    qint64 durationMs = 0;
    qint64 bitRate = 0;

    // The first video stream's length unless it is a cover picture or has none, then the second video
    // stream's, else the container's (or, without video, the first audio stream's). A container that
    // gives no length is measured by reading packets; a VOB's demuxer knows its whole timeline.
    static SourceDuration choose(const Nerova::ContainerInfo& info, Nerova::FFDemuxer& demuxer);
};
