#include "MediaKind.h"

MediaKind::MediaKind(const QStringList& videoSuffixes)
{
    for (const QString& suffix : videoSuffixes)
        mVideoSuffixes << suffix.toLower();
    // The video task also writes WebM (with VP9), so WebM sources are worth taking too.
    if (!mVideoSuffixes.contains(QLatin1String("webm")))
        mVideoSuffixes << QStringLiteral("webm");
}

bool MediaKind::isImageFormat(const QString& suffix)
{
    const QString lower = suffix.toLower();
    return lower == QLatin1String("jpg") || lower == QLatin1String("jpeg") || lower == QLatin1String("png") ||
           lower == QLatin1String("webp");
}

bool MediaKind::isVideo(const QString& suffix) const
{
    return mVideoSuffixes.contains(suffix.toLower());
}
