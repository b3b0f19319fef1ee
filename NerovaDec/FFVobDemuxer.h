#pragma once

#include <NerovaDec/FFDemuxer.h>
#include <NerovaDec/VobEntry.h>

#include <QHash>

#include <optional>

namespace Nerova {

// Reads a VOB file like the plain demuxer but lays its restarting timestamps onto one continuous timeline,
// reports the duration of all its chapters and seeks by chapter and byte position.
class NEROVA_EXPORT FFVobDemuxer : public FFDemuxer
{
    Q_OBJECT

public:
    explicit FFVobDemuxer(QObject* parent = nullptr);
    ~FFVobDemuxer() override;

    // Opens the file and takes its scanned chapters (from the cache when the path was scanned before).
    bool open(const QString& path) override;
    void close() override;
    // Seeks to ms on the timeline of durationMs(), by chapter and byte position, half a second early.
    void seek(qint64 ms) override;
    // The same as seek(ms): chapters, not streams, decide where to go.
    void seekByStream(qint64 ms, int streamIndex) override;
    // The next packet, moved onto the continuous timeline.
    QSharedPointer<AVPacket> readPacket() override;
    using FFDemuxer::readPacket;
    qint64 durationMs() override;

    // Moves packet's timestamps onto the continuous timeline of the chapter it belongs to, in place.
    void adjustPacketPtsDts(QSharedPointer<AVPacket> packet);

private:
    // Where reading stands in one stream: the chapter of its latest packet and that packet's stored dts.
    struct StreamPlace
    {
        int chapter = -1;
        qint64 lastDts = 0;
        bool hasDts = false;
    };

    int findChapter(int streamIndex, qint64 pos) const;
    int nextChapterOfStream(int chapter) const;
    // The stream's last chapter (in file order) that begins at or before pos; -1 when none does.
    int chapterAtOrBefore(int streamIndex, qint64 pos) const;
    // The media type whose chapters durationMs() adds up: video when there is any, else audio.
    int countedMediaType() const;
    // The audio stream whose chapters add up to the longest time.
    int longestAudioStream();
    void forgetPlaces();

    QSharedPointer<VobEntry> mVobEntry;
    std::optional<VobChapterItem> mCurrentChapter;
    int mCurrentChapterIndex = -1;
    QHash<int, StreamPlace> mStreamPlaces;
    // Byte position of the latest packet that had one, or of the latest seek; -1 when unknown.
    qint64 mLastPos = -1;
};

} // namespace Nerova
