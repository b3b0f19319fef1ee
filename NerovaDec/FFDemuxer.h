#pragma once

#include <NerovaDec/StreamInfo.h>
#include <base/BasicObject.h>
#include <base/NerovaGlobal.h>

#include <QSharedPointer>
#include <QString>

#include <atomic>
#include <cstdint>

struct AVFormatContext;
struct AVPacket;
class QByteArray;
class QIODevice;

namespace Nerova {

// Opens a media container (a file or a Qt resource) through libavformat and hands out its packets, seeks
// in it and describes it.
class NEROVA_EXPORT FFDemuxer : public BasicObject
{
    Q_OBJECT

public:
    explicit FFDemuxer(QObject* parent = nullptr);
    ~FFDemuxer() override;

    // Opens path (":/..." reads a Qt resource, a path given to addMemoryFile reads those bytes); on success
    // it replaces whatever was open.
    virtual bool open(const QString& path);
    // Drops this demuxer's reference to the open container.
    virtual void close();
    // Seeks all streams to ms after the start of the presentation.
    virtual void seek(qint64 ms);
    virtual void seekByStream(qint64 ms, int streamIndex);
    // The next packet of any stream; empty at the end, on an error or when nothing is open.
    virtual QSharedPointer<AVPacket> readPacket();
    // The container's duration; 0 when it gives none or nothing is open.
    virtual qint64 durationMs();

    // The next packet of streamIndex; packets of other streams read on the way are dropped.
    QSharedPointer<AVPacket> readPacket(int streamIndex);
    void seekByFilePos(qint64 bytePos);
    // A further reference to the open container; it keeps the container (and its resource) readable
    // after close() or the demuxer's destruction.
    QSharedPointer<AVFormatContext> formatCtx() const;

    // A fresh description of the open container; empty when nothing is open.
    QSharedPointer<ContainerInfo> containerInfo() const;
    QSharedPointer<CVideoStreamInfo> videoStreamInfo(int streamIndex) const;
    QSharedPointer<CAudioStreamInfo> audioStreamInfo(int streamIndex) const;

    // An unopened demuxer suited to path; the caller opens it with the same path.
    static QSharedPointer<FFDemuxer> createDemuxer(const QString& path, bool forceVob);

    // Serves path from bytes in memory until removeMemoryFile(path): every open of it, by any demuxer (the
    // VOB scan and the cover check included), reads them through the custom I/O that Qt resources use,
    // without touching the file system. For inputs that exist only in memory (the fuzz targets'); any
    // thread may call these.
    static void addMemoryFile(const QString& path, const QByteArray& bytes);
    static void removeMemoryFile(const QString& path);

protected:
    QSharedPointer<AVFormatContext> mFormatCtx;
    // The Qt resource or in-memory file being read; shared with the open container that reads it, so that
    // it outlives every holder of that container.
    QSharedPointer<QIODevice> mQrcFile;
    QString mFilePath;

private:
    // Opens path's container without probing its streams: the first half of open(). Failures are logged
    // under caller, the signature of the public function that was asked.
    bool openContainer(const QString& path, const char* caller);
    int openResource();
    // The cover check only counts packets, which needs no stream probing.
    friend bool isCoverStream(const QString& path, int streamIndex);

    // Whether the first video stream of an open ASF-family file is only a cover picture (1) or not (0),
    // -1 until a description asks: finding out reads the whole file again.
    mutable std::atomic<int> mCoverVerdict{-1};
};

// Custom I/O callbacks over a QIODevice given as opaque pointer, used for Qt resources and in-memory files.
// Reads up to size bytes; AVERROR_EOF at the end of the data, -1 for a null device or a read error.
NEROVA_EXPORT int qrc_read_packet(void* opaque, uint8_t* buffer, int size);
// Seeks from the start (whence 0), the current position (1) or the end (2) and returns the new position;
// -1 for a null device, a failed seek and every other whence, the size query included.
NEROVA_EXPORT int64_t qrc_seek(void* opaque, int64_t offset, int whence);

} // namespace Nerova
