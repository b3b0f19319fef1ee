// Scans a damaged VOB file for chapters, asks the entry for its duration and chapters, then reads the
// whole file through FFVobDemuxer (every packet moved onto the continuous timeline), seeks by chapter and
// reads on. The scan cache is emptied after every input, since every input is written to the same path.
#include "FuzzPackets.h"

#include <NerovaDec/FFVobDemuxer.h>
#include <NerovaDec/VobEntry.h>

namespace {

void inspectEntry(const Nerova::VobEntry& entry, const QString& path)
{
    Nerova::FFDemuxer plain;
    if (!plain.open(path))
        return;
    const QSharedPointer<Nerova::ContainerInfo> info = plain.containerInfo();
    for (const Nerova::VobChapterItem& chapter : entry.chapterItems) {
        const AVRational timeBase = info->getStreamTimeBase(chapter.streamIndex);
        chapter.headPosInMs(timeBase);
        check(chapter.durationMs(timeBase) >= 1);
        chapter.avgBytesPerMs(timeBase);
    }
    const qint64 duration = entry.durationMs(&plain);
    for (const qint64 ms : {qint64(-1), qint64(0), duration / 2, duration, duration + 1})
        entry.getChapterItem(ms, &plain);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString path = FuzzWorkspace::instance().writeFile(QStringLiteral("input.vob"), data, size);
    Nerova::VobEntryManager* manager = Nerova::VobEntryManager::sharedInstance();
    manager->clearEntry(path);

    if (const QSharedPointer<Nerova::VobEntry> entry = manager->scanVobEntry(path)) {
        check(!entry->chapterItems.isEmpty() && manager->existEntry(path));
        inspectEntry(*entry, path);
    }

    Nerova::FFVobDemuxer demuxer;
    if (demuxer.open(path)) {
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
