#include "MediaKind.h"

#include <compressor/FormatTable.h>

MediaKind::MediaKind(const FormatTable& table) : mTable(table) {}

bool MediaKind::isImageOutput(const QString& suffix) const
{
    return mTable.isKnownOutput(suffix) && mTable.forSuffix(suffix).isImage();
}

bool MediaKind::isKnownOutput(const QString& suffix) const
{
    return mTable.isKnownOutput(suffix);
}

bool MediaKind::isImageSource(const QString& suffix) const
{
    return mTable.imageSourceSuffixes().contains(suffix.toLower());
}

bool MediaKind::isVideoSource(const QString& suffix) const
{
    return mTable.videoSourceSuffixes().contains(suffix.toLower());
}

QStringList MediaKind::imageOutputs() const
{
    return mTable.outputSuffixes(OutputFormat::Kind::Image);
}

QStringList MediaKind::videoOutputs() const
{
    return mTable.outputSuffixes(OutputFormat::Kind::Video);
}
