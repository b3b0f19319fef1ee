#pragma once

#include <compressor/ToolCommand.h>

#include <QSize>
#include <QString>

struct OutputFormat;

namespace Nerova {
struct ContainerInfo;
}

// What a video request asks for, as text: the values go to ffmpeg as they are.
struct VideoRequest
{
    QString inputPath;
    QString outputPath;
    QString quality;
    QString preset;
    QString scale;
    QString threads; // empty: a third of the processors, so that the host stays responsive
};

// Builds ffmpeg's command line for a video request from the probe of its source and the output
// format's entry in the format table: a full software or hardware encode, or a 15-second preview.
class NEROVA_EXPORT VideoArguments
{
public:
    enum class Encoder { Software, Hardware };

    // bitRate: the source rate a hardware encode scales by the quality.
    static ToolCommand encode(const VideoRequest& request, const Nerova::ContainerInfo& info, Encoder encoder,
                              qint64 bitRate, const QString& progressPath);
    static ToolCommand preview(const VideoRequest& request, const Nerova::ContainerInfo& info,
                               const QString& progressPath);

    // The display size of the stream that is the video: the first, or the second one when the first is
    // a cover picture.
    static QSize referenceDisplaySize(const Nerova::ContainerInfo& info);

private:
    static void appendVideoEncoder(ToolCommand& command, const OutputFormat& format, Encoder encoder);
    static void appendStreamMapping(ToolCommand& command, const Nerova::ContainerInfo& info);
    static void appendThreads(ToolCommand& command, const VideoRequest& request);
    static void appendOutput(ToolCommand& command, const VideoRequest& request, const QString& progressPath);
};
