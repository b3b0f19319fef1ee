#pragma once

#include <compressor/WorkingCopyCompressTask.h>

// Re-encodes a still image to JPEG with the cJpeg encoder that sits next to the host application. With
// a target size cJpeg itself searches the quality (one decode for every try) and says which it chose.
class NEROVA_EXPORT JpegCompressor : public WorkingCopyCompressTask
{
    Q_OBJECT
public:
    explicit JpegCompressor(const QVariantMap& params);

    // Prepares the working copy and returns the encoder's parameters: the output, the quality and the
    // input, paths wrapped in double quotes. Works from the members; the map is not consulted.
    QStringList makeJpegCompressParam(const QVariantMap& params);

protected:
    QString toolPath() const override;
    ToolCommand toolCommand() const override;
    std::optional<ToolStep> prepareRun(int kind, Outcome* refusal) override;
    int corruptSourceExitCode() const override { return 1; }
    std::optional<ToolStep> followUpStep(int exitCode, const QByteArray& output) override;
    Outcome deliverRun(int exitCode) override;

private:
    int mTargetQuality = 0;
    int mTargetEncodes = 0;
};
