#pragma once

#include "FuzzWorkspace.h"

#include "MemoryInput.h"

#include <NerovaDec/FFDemuxer.h>

extern "C" {
#include <libavcodec/packet.h>
}

// More packets than any seed holds; a mutated file that never ends is cut here rather than timing out.
constexpr int kMaxPackets = 100000;

// Reads up to limit packets through the demuxer (the VOB demuxer's re-timed ones included); every
// packet handed out carries data.
inline int readPackets(Nerova::FFDemuxer& demuxer, int limit)
{
    int count = 0;
    while (count < limit) {
        const QSharedPointer<AVPacket> packet = demuxer.readPacket();
        if (!packet)
            break;
        check(packet->size > 0);
        ++count;
    }
    return count;
}
