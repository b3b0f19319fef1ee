#pragma once

#include <base/NerovaGlobal.h>

#include <QString>

// Where the ffmpeg program is: the folder the suite configuration names (kFFmpegPath), or else the
// host application's folder.
class NEROVA_EXPORT FFmpegLocator
{
public:
    static QString ffmpegPath();
};
