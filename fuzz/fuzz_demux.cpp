// Opens a damaged media file with FFDemuxer, describes it, reads every packet, seeks back to the middle and
// reads on. The input is the whole file; libavformat reads it from a file in a private folder.
#include "FuzzWorkspace.h"

#include <NerovaDec/FFDemuxer.h>

extern "C" {
#include <libavcodec/packet.h>
}

namespace {

// More packets than any seed holds; a mutated file that never ends is cut here rather than timing out.
constexpr int kMaxPackets = 100000;

void describe(Nerova::FFDemuxer& demuxer)
{
    const QSharedPointer<Nerova::ContainerInfo> info = demuxer.containerInfo();
    check(!info.isNull());
    check(info->videoStreams.size() + info->audioStreams.size() + info->subtitleStreams.size() <=
          info->streams.size());
    for (const auto& video : info->videoStreams) {
        check(video->rotation >= 0 && video->rotation < 360);
        video->displaySize();
        demuxer.videoStreamInfo(video->index);
    }
    for (const auto& audio : info->audioStreams)
        demuxer.audioStreamInfo(audio->index);
    for (int i = -1; i <= info->streams.size(); ++i)
        info->getStreamTimeBase(i);
}

int readAll(Nerova::FFDemuxer& demuxer, int limit)
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

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzWorkspace::instance();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString path = FuzzWorkspace::instance().writeFile(QStringLiteral("media"), data, size);
    Nerova::FFDemuxer demuxer;
    if (!demuxer.open(path)) {
        check(demuxer.containerInfo().isNull() && !demuxer.readPacket() && demuxer.durationMs() == 0);
        return 0;
    }
    describe(demuxer);
    const qint64 duration = demuxer.durationMs();
    check(duration >= 0);
    readAll(demuxer, kMaxPackets);

    demuxer.seek(duration / 2);
    readAll(demuxer, 16);
    demuxer.seekByStream(duration / 3, 0);
    readAll(demuxer, 16);
    demuxer.seekByFilePos(qint64(size / 2));
    readAll(demuxer, 16);

    // The container outlives the demuxer's own reference.
    const QSharedPointer<AVFormatContext> context = demuxer.formatCtx();
    demuxer.close();
    check(!demuxer.readPacket());
    check(!context.isNull());
    return 0;
}
