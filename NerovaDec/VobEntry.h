#pragma once

#include <base/NerovaGlobal.h>

extern "C" {
#include <libavutil/rational.h>
}

#include <QMap>
#include <QSharedPointer>
#include <QString>
#include <QVector>

#include <optional>

namespace Nerova {

class FFDemuxer;

// One run of a stream's packets in a VOB file in which the dts never goes backwards, with its byte range
// and where it lies on the file's continuous timeline.
struct NEROVA_EXPORT VobChapterItem
{
    int streamIndex = 0;
    int mediaType = -1; // AVMediaType of the stream
    // Byte position of the chapter's first packet that has one; -1 while none has.
    qint64 headPosInFile = -1;
    // Byte position of the chapter's latest packet whose position is greater than 0; 0 until there is one.
    qint64 tailPosInFile = 0;
    // Where the chapter's first packet lies on the continuous timeline (stream time base).
    qint64 headPts = 0;
    qint64 headDts = 0;
    // Timestamps as stored in the file: of the chapter's first and of its latest packet. A missing pts is
    // replaced by the packet's dts.
    qint64 firstPts = 0;
    qint64 firstDts = 0;
    qint64 lastPts = 0;
    qint64 lastDts = 0;
    bool firstPtsMissing = false;

    qint64 headPosInMs(const AVRational& timeBase) const;
    // The chapter's length from its first to its latest pts; never below 1.
    qint64 durationMs(const AVRational& timeBase) const;
    qint64 avgBytesPerMs(const AVRational& timeBase) const;
};

// The scanned chapters of one VOB file, laid end to end per stream.
struct NEROVA_EXPORT VobEntry
{
    // Chapters finished by a backward step in the order met, then each stream's last chapter by index.
    QVector<VobChapterItem> chapterItems;
    // The last chapter of some audio stream began without pts: audio pts are then taken from dts.
    bool audioPtsMissing = false;

    // The whole file's duration: the video chapters' sum, or the longest audio stream's without video.
    // demuxer is any open demuxer of the file; only its stream time bases are used.
    qint64 durationMs(FFDemuxer* demuxer) const;
    // The chapter that holds ms when all chapters are laid one after another in chapterItems order.
    std::optional<VobChapterItem> getChapterItem(qint64 ms, FFDemuxer* demuxer) const;
};

// The process-wide cache of scanned VOB files, keyed by the path exactly as given.
class NEROVA_EXPORT VobEntryManager
{
public:
    static VobEntryManager* sharedInstance();

    // The cached entry of path, or a new scan of the file; empty when it cannot be opened or holds no
    // chapter. A failed scan is not cached.
    QSharedPointer<VobEntry> scanVobEntry(const QString& path);
    bool existEntry(const QString& path) const;
    // Drops the cache's reference; demuxers holding the entry keep it.
    void clearEntry(const QString& path);

private:
    VobEntryManager() = default;
    Q_DISABLE_COPY(VobEntryManager)

    QMap<QString, QSharedPointer<VobEntry>> mEntries;
};

} // namespace Nerova
