#include "VobEntry.h"

#include "FFDemuxer.h"
#include "TimestampMath.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/avutil.h>
#include <libavutil/mathematics.h>
}

#include <QHash>
#include <base/LogCategories.h>

#include <algorithm>
#include <map>

namespace Nerova {

namespace {

constexpr AVRational kMilliseconds{1, 1000};

qint64 toMs(qint64 value, const AVRational& timeBase)
{
    // A zero time base would divide by zero inside the rescale; such a stream has no usable time.
    if (timeBase.num == 0 || timeBase.den == 0)
        return 0;
    return av_rescale_q(value, timeBase, kMilliseconds);
}

// Looks each stream's time base up once from one description of the demuxer's container.
class TimeBases
{
public:
    explicit TimeBases(FFDemuxer* demuxer) : mInfo(demuxer ? demuxer->containerInfo() : nullptr) {}

    AVRational of(int streamIndex)
    {
        const auto found = mCache.constFind(streamIndex);
        if (found != mCache.constEnd())
            return *found;
        const AVRational timeBase = mInfo ? mInfo->getStreamTimeBase(streamIndex) : AVRational{1, 1000000};
        mCache.insert(streamIndex, timeBase);
        return timeBase;
    }

private:
    QSharedPointer<ContainerInfo> mInfo;
    QHash<int, AVRational> mCache;
};

VobChapterItem openChapter(const AVPacket& packet, int mediaType, qint64 pts)
{
    VobChapterItem chapter;
    chapter.streamIndex = packet.stream_index;
    chapter.mediaType = mediaType;
    // A packet without a position leaves the head open for the chapter's first packet that has one, so
    // seeks and byte ranges never start at -1.
    chapter.headPosInFile = packet.pos >= 0 ? packet.pos : -1;
    chapter.tailPosInFile = 0;
    chapter.headPts = chapter.firstPts = chapter.lastPts = pts;
    chapter.headDts = chapter.firstDts = chapter.lastDts = packet.dts;
    chapter.firstPtsMissing = packet.pts == AV_NOPTS_VALUE;
    return chapter;
}

} // namespace

qint64 VobChapterItem::headPosInMs(const AVRational& timeBase) const
{
    return toMs(headPts, timeBase);
}

qint64 VobChapterItem::durationMs(const AVRational& timeBase) const
{
    const qint64 d = toMs(TimestampMath::sub(lastPts, firstPts), timeBase);
    qCDebug(lcDemux) << "chapter len: " << d << "ms";
    return d > 0 ? d : 1;
}

qint64 VobChapterItem::avgBytesPerMs(const AVRational& timeBase) const
{
    const qint64 size = TimestampMath::sub(tailPosInFile, headPosInFile);
    const qint64 perMs = size / durationMs(timeBase);
    qCDebug(lcDemux) << "tailPosInFile : " << tailPosInFile << "headPosInFile : " << headPosInFile
                     << "sz / durationMs(timeBase) : " << perMs;
    return perMs;
}

qint64 VobEntry::durationMs(FFDemuxer* demuxer) const
{
    TimeBases timeBases(demuxer);
    qint32 videoTotal = 0;
    std::map<int, qint32> audioTotals;
    for (const VobChapterItem& chapter : chapterItems) {
        if (chapter.mediaType == AVMEDIA_TYPE_VIDEO) {
            videoTotal = TimestampMath::wrap32(
                TimestampMath::add(videoTotal, chapter.durationMs(timeBases.of(chapter.streamIndex))));
        } else if (chapter.mediaType == AVMEDIA_TYPE_AUDIO) {
            qint32& total = audioTotals[chapter.streamIndex];
            total = TimestampMath::wrap32(
                TimestampMath::add(total, chapter.durationMs(timeBases.of(chapter.streamIndex))));
        }
    }
    if (videoTotal != 0)
        return videoTotal;

    qint32 audioDuration = 0;
    if (!audioTotals.empty()) {
        audioDuration =
            std::max_element(audioTotals.cbegin(), audioTotals.cend(), [](const auto& a, const auto& b) {
                return a.second < b.second;
            })->second;
    }
    qCDebug(lcDemux) << "audio duration (ms) : " << audioDuration;
    return audioDuration;
}

std::optional<VobChapterItem> VobEntry::getChapterItem(qint64 ms, FFDemuxer* demuxer) const
{
    TimeBases timeBases(demuxer);
    qint32 acc = 0;
    for (const VobChapterItem& chapter : chapterItems) {
        const qint64 duration = chapter.durationMs(timeBases.of(chapter.streamIndex));
        if (acc <= ms && TimestampMath::add(acc, duration) >= ms)
            return chapter;
        acc = TimestampMath::wrap32(TimestampMath::add(acc, duration));
    }
    return std::nullopt;
}

VobEntryManager* VobEntryManager::sharedInstance()
{
    // Never destroyed: entries may be used by demuxers until the process ends.
    static VobEntryManager* const instance = new VobEntryManager();
    return instance;
}

QSharedPointer<VobEntry> VobEntryManager::scanVobEntry(const QString& path)
{
    const QSharedPointer<VobEntry> cached = mEntries.value(path);
    if (cached)
        return cached;

    // The plain demuxer: the scan needs the timestamps as they are stored.
    FFDemuxer demuxer;
    if (!demuxer.open(path))
        return {};

    auto entry = QSharedPointer<VobEntry>::create();
    QHash<int, int> mediaTypes;
    if (const QSharedPointer<ContainerInfo> info = demuxer.containerInfo()) {
        for (const QSharedPointer<CStreamInfo>& stream : info->streams)
            mediaTypes.insert(stream->index, stream->mediaType);
    }

    // Ordered by stream index, the order in which the chapters still open at the end are appended.
    std::map<int, VobChapterItem> openChapters;
    while (const QSharedPointer<AVPacket> packet = demuxer.readPacket()) {
        const auto mediaType = mediaTypes.constFind(packet->stream_index);
        if (mediaType == mediaTypes.constEnd())
            continue;
        // Without a dts nothing tells whether time went backwards: such a packet takes no part in
        // finding chapters (nor does it move one's range).
        if (packet->dts == AV_NOPTS_VALUE)
            continue;
        const qint64 pts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;

        auto open = openChapters.find(packet->stream_index);
        if (open == openChapters.end()) {
            open = openChapters.emplace(packet->stream_index, openChapter(*packet, *mediaType, pts)).first;
        } else if (packet->dts < open->second.lastDts) {
            const VobChapterItem finished = open->second;
            entry->chapterItems.append(finished);
            VobChapterItem next = openChapter(*packet, *mediaType, pts);
            // The new chapter continues where the finished one's latest packet stood; its dts one tick
            // later, so that dts keep rising.
            next.headPts =
                TimestampMath::add(finished.headPts, TimestampMath::sub(finished.lastPts, finished.firstPts));
            next.headDts = TimestampMath::add(
                TimestampMath::add(finished.headDts, TimestampMath::sub(finished.lastDts, finished.firstDts)),
                1);
            open->second = next;
        }

        VobChapterItem& chapter = open->second;
        chapter.lastPts = pts;
        chapter.lastDts = packet->dts;
        if (chapter.headPosInFile < 0 && packet->pos >= 0)
            chapter.headPosInFile = packet->pos;
        if (packet->pos > 0)
            chapter.tailPosInFile = packet->pos;
    }

    for (const auto& [streamIndex, chapter] : openChapters) {
        Q_UNUSED(streamIndex)
        entry->chapterItems.append(chapter);
        if (chapter.mediaType == AVMEDIA_TYPE_AUDIO && chapter.firstPtsMissing)
            entry->audioPtsMissing = true;
    }
    if (entry->chapterItems.isEmpty())
        return {};

    qCDebug(lcDemux) << "chapter count: " << entry->chapterItems.size();
    mEntries.insert(path, entry);
    return entry;
}

bool VobEntryManager::existEntry(const QString& path) const
{
    return mEntries.contains(path);
}

void VobEntryManager::clearEntry(const QString& path)
{
    mEntries.remove(path);
}

} // namespace Nerova
