#pragma once

#include <compressor/DirectOutputCompressTask.h>

class ToolCommand;

// Converts a still image to WebP with ffmpeg's libwebp encoder. ffmpeg writes the output path itself;
// a file the user already had there is set aside for the run and comes back unless the run succeeds.
class NEROVA_EXPORT WebpCompressor : public DirectOutputCompressTask
{
    Q_OBJECT
public:
    explicit WebpCompressor(const QVariantMap& params);

    bool startTask() override;

    // ffmpeg's parameters: the input, the libwebp encoder with the quality, the output, paths wrapped
    // in double quotes. Touches no file; the map is not consulted.
    QStringList makeWebpCompressParam(const QVariantMap& params);

protected:
    QString toolPath() const override;
    QStringList requestValuesForTool() const override { return {mQuality, mThreads}; }
    std::optional<ToolStep> firstStep(int kind, Outcome* refusal) override;
    Outcome deliverRun(int exitCode) override;

private:
    ToolCommand command() const;
};
