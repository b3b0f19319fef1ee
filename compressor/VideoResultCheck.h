#pragma once

#include <base/NerovaGlobal.h>

#include <QString>

// What a video run's output must hold, read back with the library's own demuxer before the run may
// count as a success: ffmpeg exits 0 for many a result nobody can play.
struct NEROVA_EXPORT VideoResultCheck
{
    bool video = false;    // a moving picture, at least one frame of which decodes
    int audioTracks = 0;   // exactly this many audio streams
    qint64 durationMs = 0; // within max(0.5 s, 2 %) of this; 0 when the source's length is unknown

    // Empty when the file holds what is expected, otherwise what is wrong with it. formatName receives
    // the demuxer's name for the output's container.
    QString verify(const QString& outputPath, QString* formatName = nullptr) const;

    // The error allowed around an expected length, in milliseconds.
    static qint64 toleranceMs(qint64 durationMs);
};
