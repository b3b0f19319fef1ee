// Opens a damaged VOB file with FFVobDemuxer, which scans it for chapters; asks the scanned entry for its
// duration and chapters, then reads the whole file (every packet moved onto the continuous timeline),
// seeks by chapter and reads on. Every input is read from memory under the same path, so the scan cache
// is emptied after each.
#include "FuzzPackets.h"

#include <NerovaDec/FFVobDemuxer.h>
#include <NerovaDec/VobEntry.h>

namespace {

// The demuxer is open on the entry's file; only its stream time bases are used.
void inspectEntry(const Nerova::VobEntry& entry, Nerova::FFDemuxer& demuxer)
{
    const QSharedPointer<Nerova::ContainerInfo> info = demuxer.containerInfo();
    check(!info.isNull());
    for (const Nerova::VobChapterItem& chapter : entry.chapterItems) {
        const AVRational timeBase = info->getStreamTimeBase(chapter.streamIndex);
        chapter.headPosInMs(timeBase);
        check(chapter.durationMs(timeBase) >= 1);
        chapter.avgBytesPerMs(timeBase);
    }
    const qint64 duration = entry.durationMs(&demuxer);
    for (const qint64 ms : {qint64(-1), qint64(0), duration / 2, duration, duration + 1})
        entry.getChapterItem(ms, &demuxer);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const MemoryInput input(QStringLiteral("memory-input.vob"), data, size);
    const QString& path = input.path();
    Nerova::VobEntryManager* manager = Nerova::VobEntryManager::sharedInstance();
    manager->clearEntry(path);

    // Opening scans the file once; the entry then comes from the cache.
    Nerova::FFVobDemuxer demuxer;
    if (demuxer.open(path)) {
        if (const QSharedPointer<Nerova::VobEntry> entry = manager->scanVobEntry(path)) {
            check(!entry->chapterItems.isEmpty() && manager->existEntry(path));
            inspectEntry(*entry, demuxer);
        }
        const qint64 duration = demuxer.durationMs();
        check(duration >= 0);
        readPackets(demuxer, kMaxPackets);
        for (const qint64 ms : {duration / 2, qint64(0), duration}) {
            demuxer.seek(ms);
            readPackets(demuxer, 16);
        }
        demuxer.seekByStream(duration / 3, 0);
        readPackets(demuxer, 16);
    }
    demuxer.close();
    manager->clearEntry(path);
    return 0;
}
