#include "SourceDuration.h"

#include "TimeEstimate.h"

#include <NerovaDec/FFDemuxer.h>
#include <NerovaDec/FFVobDemuxer.h>
#include <NerovaDec/StreamInfo.h>

SourceDuration SourceDuration::choose(const Nerova::ContainerInfo& info, Nerova::FFDemuxer& demuxer)
{
    const auto& video = info.videoStreams;
    SourceDuration result;
    bool fromContainerOrAudio = true;
    if (!video.isEmpty() && video.at(0)->durationMs > 0 && !video.at(0)->isAttachedPic) {
        result = {video.at(0)->durationMs, video.at(0)->bitRate};
        fromContainerOrAudio = false;
    } else if (video.size() >= 2 && video.at(1)->durationMs > 0) {
        result = {video.at(1)->durationMs, video.at(1)->bitRate};
        fromContainerOrAudio = false;
    } else if (video.isEmpty() && !info.audioStreams.isEmpty()) {
        result = {info.audioStreams.at(0)->durationMs, info.audioStreams.at(0)->bitRate};
    } else {
        // Video without a usable stream duration, or neither video nor audio: the container's.
        result = {info.durationMs, info.bitRate};
    }
    // A VOB's streams restart their clocks at every chapter: its demuxer knows the whole length.
    if (const auto* vob = qobject_cast<const Nerova::FFVobDemuxer*>(&demuxer);
        vob && demuxer.durationMs() > 0) {
        result.durationMs = demuxer.durationMs();
    } else if (fromContainerOrAudio && result.durationMs <= 0) {
        long long estimated = result.durationMs;
        timeEstimate(demuxer.formatCtx(), estimated);
        result.durationMs = estimated;
    }
    return result;
}
