#include "FFVobDemuxer.h"

#include "TimestampMath.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/avutil.h>
}

#include <algorithm>
#include <map>

namespace Nerova {

namespace {

bool matches(const VobChapterItem& chapter, int streamIndex, qint64 pos)
{
    // A chapter none of whose packets had a position has no byte range at all.
    return chapter.streamIndex == streamIndex && chapter.headPosInFile >= 0 && pos >= 0 &&
           chapter.headPosInFile <= pos && pos <= chapter.tailPosInFile;
}

} // namespace

FFVobDemuxer::FFVobDemuxer(QObject* parent) : FFDemuxer(parent) {}

FFVobDemuxer::~FFVobDemuxer() = default;

bool FFVobDemuxer::open(const QString& path)
{
    const bool opened = FFDemuxer::open(path);
    mVobEntry = VobEntryManager::sharedInstance()->scanVobEntry(path);
    mCurrentChapter.reset();
    mCurrentChapterIndex = -1;
    forgetPlaces();
    mLastPos = -1;
    return opened;
}

void FFVobDemuxer::close()
{
    FFDemuxer::close();
    mVobEntry.reset();
    mCurrentChapter.reset();
    mCurrentChapterIndex = -1;
    forgetPlaces();
    mLastPos = -1;
}

void FFVobDemuxer::seek(qint64 ms)
{
    if (!mVobEntry) {
        FFDemuxer::seek(ms);
        return;
    }
    const QSharedPointer<ContainerInfo> info = containerInfo();
    const auto timeBaseOf = [&info](int streamIndex) {
        return info ? info->getStreamTimeBase(streamIndex) : AVRational{1, 1000000};
    };

    // ms is a time on the timeline durationMs() measures: the chapters of the streams it counts, laid end
    // to end from 0. Walking every stream's chapters, or measuring from a chapter's own timestamps, would
    // put the target on another axis (several times as long, offset by the file's start time).
    const int counted = countedMediaType();
    const int audioStream = counted == AVMEDIA_TYPE_AUDIO ? longestAudioStream() : -1;
    qint64 acc = 0;
    const VobChapterItem* chapter = nullptr;
    for (const VobChapterItem& item : mVobEntry->chapterItems) {
        if (item.mediaType != counted || (audioStream >= 0 && item.streamIndex != audioStream))
            continue;
        const qint64 length = item.durationMs(timeBaseOf(item.streamIndex));
        if (acc <= ms && TimestampMath::add(acc, length) >= ms) {
            chapter = &item;
            break;
        }
        acc = TimestampMath::add(acc, length);
    }
    if (!chapter)
        return;

    const qint64 rel = ms - acc;
    // Half a second early, so that reading reaches the target from before it.
    const qint64 back = rel > 500 ? rel - 500 : rel;
    const qint64 target = TimestampMath::add(
        chapter->headPosInFile,
        TimestampMath::mul(back, chapter->avgBytesPerMs(timeBaseOf(chapter->streamIndex))));
    // Never before the chapter's head, nor before the file.
    const qint64 lowest = std::max<qint64>(chapter->headPosInFile, 0);
    const qint64 bytePos = std::max(target, lowest);
    seekByFilePos(bytePos);
    // Packets after the seek have no predecessor in their stream any more; until one has, the position
    // sought stands for where reading is.
    forgetPlaces();
    mLastPos = bytePos;
}

void FFVobDemuxer::seekByStream(qint64 ms, int streamIndex)
{
    Q_UNUSED(streamIndex)
    seek(ms);
}

QSharedPointer<AVPacket> FFVobDemuxer::readPacket()
{
    QSharedPointer<AVPacket> packet = FFDemuxer::readPacket();
    if (packet)
        adjustPacketPtsDts(packet);
    return packet;
}

qint64 FFVobDemuxer::durationMs()
{
    return mVobEntry ? mVobEntry->durationMs(this) : FFDemuxer::durationMs();
}

void FFVobDemuxer::adjustPacketPtsDts(QSharedPointer<AVPacket> packet)
{
    if (!packet || !mVobEntry)
        return;
    const int streamIndex = packet->stream_index;
    const bool hasDts = packet->dts != AV_NOPTS_VALUE;
    StreamPlace* place = nullptr;
    if (const auto found = mStreamPlaces.find(streamIndex); found != mStreamPlaces.end())
        place = &found.value();

    int chapterIndex = -1;
    if (packet->pos >= 0) {
        if (mCurrentChapter && matches(*mCurrentChapter, streamIndex, packet->pos)) {
            chapterIndex = mCurrentChapterIndex;
        } else {
            mCurrentChapter.reset();
            mCurrentChapterIndex = -1;
            chapterIndex = findChapter(streamIndex, packet->pos);
        }
        mLastPos = packet->pos;
    } else if (place) {
        // FFmpeg's parsers give many packets no position: such a packet belongs to the chapter of the
        // previous packet of its stream, or to that stream's next chapter when its dts stepped back.
        chapterIndex = place->chapter;
        if (hasDts && place->hasDts && packet->dts < place->lastDts) {
            const int next = nextChapterOfStream(chapterIndex);
            if (next >= 0)
                chapterIndex = next;
        }
    } else if (mLastPos >= 0) {
        // The stream's first packet since opening or seeking: it lies after the latest known position.
        chapterIndex = chapterAtOrBefore(streamIndex, mLastPos);
    }
    if (hasDts) {
        StreamPlace& stored = mStreamPlaces[streamIndex];
        stored.lastDts = packet->dts;
        stored.hasDts = true;
        stored.chapter = chapterIndex;
    } else if (place) {
        place->chapter = chapterIndex;
    }
    if (chapterIndex < 0)
        return;

    const VobChapterItem& chapter = mVobEntry->chapterItems.at(chapterIndex);
    // A missing timestamp stays missing: shifting the marker would make a meaningless number.
    if (packet->pts != AV_NOPTS_VALUE)
        packet->pts = TimestampMath::add(TimestampMath::sub(packet->pts, chapter.firstPts), chapter.headPts);
    if (hasDts)
        packet->dts = TimestampMath::add(TimestampMath::sub(packet->dts, chapter.firstDts), chapter.headDts);
    if (chapter.mediaType == AVMEDIA_TYPE_AUDIO && mVobEntry->audioPtsMissing && hasDts)
        packet->pts = packet->dts;

    if (mCurrentChapterIndex != chapterIndex) {
        mCurrentChapter = chapter;
        mCurrentChapterIndex = chapterIndex;
    }
}

int FFVobDemuxer::findChapter(int streamIndex, qint64 pos) const
{
    const QVector<VobChapterItem>& chapters = mVobEntry->chapterItems;
    for (int i = 0; i < chapters.size(); ++i) {
        if (matches(chapters.at(i), streamIndex, pos))
            return i;
    }
    return -1;
}

int FFVobDemuxer::chapterAtOrBefore(int streamIndex, qint64 pos) const
{
    const QVector<VobChapterItem>& chapters = mVobEntry->chapterItems;
    int found = -1;
    for (int i = 0; i < chapters.size(); ++i) {
        const VobChapterItem& chapter = chapters.at(i);
        if (chapter.streamIndex == streamIndex && chapter.headPosInFile >= 0 && chapter.headPosInFile <= pos)
            found = i;
    }
    return found;
}

int FFVobDemuxer::countedMediaType() const
{
    for (const VobChapterItem& chapter : mVobEntry->chapterItems) {
        if (chapter.mediaType == AVMEDIA_TYPE_VIDEO)
            return AVMEDIA_TYPE_VIDEO;
    }
    return AVMEDIA_TYPE_AUDIO;
}

int FFVobDemuxer::longestAudioStream()
{
    const QSharedPointer<ContainerInfo> info = containerInfo();
    std::map<int, qint64> totals;
    for (const VobChapterItem& chapter : mVobEntry->chapterItems) {
        if (chapter.mediaType == AVMEDIA_TYPE_AUDIO) {
            const AVRational timeBase =
                info ? info->getStreamTimeBase(chapter.streamIndex) : AVRational{1, 1000000};
            totals[chapter.streamIndex] =
                TimestampMath::add(totals[chapter.streamIndex], chapter.durationMs(timeBase));
        }
    }
    int longest = -1;
    qint64 longestTotal = 0;
    for (const auto& [stream, total] : totals) {
        if (longest < 0 || total > longestTotal) {
            longest = stream;
            longestTotal = total;
        }
    }
    return longest;
}

int FFVobDemuxer::nextChapterOfStream(int chapter) const
{
    // A stream's chapters stand in chapterItems in the order of the file.
    const QVector<VobChapterItem>& chapters = mVobEntry->chapterItems;
    if (chapter < 0 || chapter >= chapters.size())
        return -1;
    const int streamIndex = chapters.at(chapter).streamIndex;
    for (int i = chapter + 1; i < chapters.size(); ++i) {
        if (chapters.at(i).streamIndex == streamIndex)
            return i;
    }
    return -1;
}

void FFVobDemuxer::forgetPlaces()
{
    mStreamPlaces.clear();
}

} // namespace Nerova
