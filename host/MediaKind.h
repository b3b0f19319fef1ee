#pragma once

#include <QString>
#include <QStringList>

class FormatTable;

// Which files the host treats as images and videos, as the plug-in's format table says.
class MediaKind
{
public:
    explicit MediaKind(const FormatTable& table);

    // A format the plug-in writes as a still image; every other output suffix is a video job.
    bool isImageOutput(const QString& suffix) const;
    // A format --to may name.
    bool isKnownOutput(const QString& suffix) const;
    // Sources found in a folder that are worth compressing.
    bool isImageSource(const QString& suffix) const;
    bool isVideoSource(const QString& suffix) const;
    bool isMedia(const QString& suffix) const { return isImageSource(suffix) || isVideoSource(suffix); }
    QStringList imageOutputs() const;
    QStringList videoOutputs() const;
    const FormatTable& table() const { return mTable; }

private:
    const FormatTable& mTable;
};
