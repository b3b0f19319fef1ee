#pragma once

#include <QString>
#include <QStringList>

// Which file suffixes the host treats as images and videos.
class MediaKind
{
public:
    // videoSuffixes: the containers the plug-in reports as supported sources.
    explicit MediaKind(const QStringList& videoSuffixes);

    // The formats the plug-in writes as still images; every other output suffix is a video job.
    static bool isImageFormat(const QString& suffix);
    bool isVideo(const QString& suffix) const;
    // Whether a file found in a folder is one to compress.
    bool isMedia(const QString& suffix) const { return isImageFormat(suffix) || isVideo(suffix); }
    QStringList videoSuffixes() const { return mVideoSuffixes; }

private:
    QStringList mVideoSuffixes;
};
