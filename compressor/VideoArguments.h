#pragma once

#include <compressor/StreamPlan.h>
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
    // A cover picture written to a file beforehand, for containers that take it as an attachment.
    QString coverFilePath;
    QString threads; // empty: a third of the processors, so that the host stays responsive
    // The box the frame is shrunk to fit (0: no limit on that side) and the metadata left out ("gps",
    // "all" or empty).
    int maxWidth = 0;
    int maxHeight = 0;
    QString strip;
};

// Builds ffmpeg's command line for a video request from the probe of its source and the output
// format's entry in the format table: a full software or hardware encode, or a 15-second preview.
// Both take the same streams and write them the same way; only the length and the rate control differ.
class NEROVA_EXPORT VideoArguments
{
public:
    enum class Encoder { Software, Hardware };

    // The longest a preview runs, in seconds.
    static constexpr int previewSeconds = 15;

    // plan: the streams chosen for the output's format (StreamPlan::choose); bitRate: the source rate
    // a hardware encode scales by the quality.
    static ToolCommand encode(const VideoRequest& request, const Nerova::ContainerInfo& info,
                              const StreamPlan& plan, Encoder encoder, qint64 bitRate,
                              const QString& progressPath);
    static ToolCommand preview(const VideoRequest& request, const Nerova::ContainerInfo& info,
                               const StreamPlan& plan, const QString& progressPath);

    // The frame size an encode writes when the request's box makes it smaller than the "scale" divisor
    // alone would; an invalid size when the box changes nothing (or the source's size is unknown).
    static QSize boxedFrameSize(const VideoRequest& request, const Nerova::ContainerInfo& info,
                                const StreamPlan& plan, bool preview);

private:
    enum class Length { Full, Preview };

    // The frame size chosen from the source's display size, the divisor and the box.
    struct FrameSize
    {
        int width = 0; // 0 or less: the source's size is unknown
        int height = 0;
        bool scaled = false; // the divisor applies
        bool boxed = false;  // the box made the frame smaller still
    };
    static FrameSize frameSize(const VideoRequest& request, const Nerova::ContainerInfo& info,
                               const StreamPlan& plan, Length length);
    static void appendMetadataPolicy(ToolCommand& command, const VideoRequest& request);

    static ToolCommand build(const VideoRequest& request, const Nerova::ContainerInfo& info,
                             const StreamPlan& plan, Encoder encoder, qint64 bitRate,
                             const QString& progressPath, Length length);
    static void appendVideoEncoder(ToolCommand& command, const QString& option, const OutputFormat& format,
                                   Encoder encoder);
    static void appendAudio(ToolCommand& command, const StreamPlan& plan, const Nerova::ContainerInfo& info,
                            const OutputFormat& format);
    static void appendStreamMapping(ToolCommand& command, const StreamPlan& plan);
    static void appendCover(ToolCommand& command, const StreamPlan& plan, const VideoRequest& request);
    static void appendRateControl(ToolCommand& command, const VideoRequest& request,
                                  const OutputFormat& format, Encoder encoder, qint64 bitRate);
    static void appendThreads(ToolCommand& command, const VideoRequest& request);
    static void appendOutput(ToolCommand& command, const VideoRequest& request, const QString& progressPath);
};
