#pragma once

#include <base/NerovaGlobal.h>

extern "C" {
#include <libavutil/rational.h>
}

#include <QSharedPointer>
#include <QSize>
#include <QString>
#include <QVector>

struct AVStream;

namespace Nerova {

// The basic description of any stream of a container.
struct NEROVA_EXPORT CStreamInfo
{
    int index = 0;
    int mediaType = -1; // AVMediaType
    int codecId = 0;    // AVCodecID
    AVRational timeBase{0, 0};
};

// A video stream: its coded picture, rates, aspect and orientation.
struct NEROVA_EXPORT CVideoStreamInfo : CStreamInfo
{
    quint32 codecTag = 0;
    int pixelFormat = -1; // AVPixelFormat
    int width = 0;
    int height = 0;
    AVRational frameRate{25, 1};
    qint64 durationMs = 0;
    qint64 bitRate = 0;
    AVRational sampleAspectRatio{1, 1};
    // Clockwise display rotation in whole degrees, 0 up to 359.
    int rotation = 0;
    // A still cover picture rather than a moving video.
    bool isAttachedPic = false;

    // The size the picture is shown at: aspect ratio applied to the width, made even, turned by rotation.
    QSize displaySize() const;
};

// An audio stream: its sample layout, rates and duration.
struct NEROVA_EXPORT CAudioStreamInfo : CStreamInfo
{
    int sampleFormat = -1; // AVSampleFormat
    int channels = 0;
    int sampleRate = 0;
    qint64 durationMs = 0;
    qint64 bitRate = 0;
    quint64 channelLayout = 0;
    quint32 codecTag = 0;
};

// A subtitle stream and whether it carries text rather than pictures.
struct NEROVA_EXPORT CSubtitleStreamInfo
{
    int index = 0;
    bool isTextSub = false;
};

// An opened container as a whole, with its streams sorted by kind.
struct NEROVA_EXPORT ContainerInfo
{
    qint64 durationMs = 0;
    qint64 startTimeSec = 0;
    qint64 bitRate = 0;
    QString formatName;
    QVector<QSharedPointer<CVideoStreamInfo>> videoStreams;
    QVector<QSharedPointer<CAudioStreamInfo>> audioStreams;
    QVector<QSharedPointer<CSubtitleStreamInfo>> subtitleStreams;
    // Every stream of the container, of whatever kind, in index order.
    QVector<QSharedPointer<CStreamInfo>> streams;

    // The time base of the stream with that index; microseconds when there is none.
    AVRational getStreamTimeBase(int streamIndex) const;
};

NEROVA_EXPORT QSharedPointer<CStreamInfo> makeStreamInfo(AVStream* stream, int index);
// The video description of stream; its mediaType is left unset (-1).
NEROVA_EXPORT QSharedPointer<CVideoStreamInfo> makeVideoStreamInfo(AVStream* stream, int index);
// The audio description of stream; its mediaType is left unset (-1).
NEROVA_EXPORT QSharedPointer<CAudioStreamInfo> makeAudioStreamInfo(AVStream* stream, int index);

// The shown size of a width x height picture with the given sample aspect ratio and clockwise rotation.
NEROVA_EXPORT QSize calcDisplaySize(int width, int height, int rotation, AVRational sampleAspectRatio);

// Whether the video stream streamIndex of an ASF-family file is only a cover picture: such files do not
// flag cover art, so a stream with at most 3 packets in the whole file counts as one. Other formats: false.
NEROVA_EXPORT bool isCoverStream(const QString& path, int streamIndex);

} // namespace Nerova
