// Opens a damaged media file with FFDemuxer, describes it, reads every packet, seeks back to the middle and
// reads on. The input is the whole file, read from memory through the demuxer's own custom I/O.
#include "FuzzPackets.h"

#include <NerovaDec/FFDemuxer.h>

namespace {

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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const MemoryInput input(QStringLiteral("memory-input"), data, size);
    const QString& path = input.path();
    Nerova::FFDemuxer demuxer;
    if (!demuxer.open(path)) {
        check(demuxer.containerInfo().isNull() && !demuxer.readPacket() && demuxer.durationMs() == 0);
        return 0;
    }
    describe(demuxer);
    const qint64 duration = demuxer.durationMs();
    check(duration >= 0);
    readPackets(demuxer, kMaxPackets);

    demuxer.seek(duration / 2);
    readPackets(demuxer, 16);
    demuxer.seekByStream(duration / 3, 0);
    readPackets(demuxer, 16);
    demuxer.seekByFilePos(qint64(size / 2));
    readPackets(demuxer, 16);

    // The container outlives the demuxer's own reference.
    const QSharedPointer<AVFormatContext> context = demuxer.formatCtx();
    demuxer.close();
    check(!demuxer.readPacket());
    check(!context.isNull());
    return 0;
}
