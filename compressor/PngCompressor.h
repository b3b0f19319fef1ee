#pragma once

#include <compressor/WorkingCopyCompressTask.h>

// Reduces a still image to a palette PNG with pngquant, found next to the host application.
class NEROVA_EXPORT PngCompressor : public WorkingCopyCompressTask
{
    Q_OBJECT
public:
    explicit PngCompressor(const QVariantMap& params);

    // Prepares the working copy and returns pngquant's parameters: the quality range 0 to the requested
    // quality, the input and the output, paths wrapped in double quotes. The map is not consulted.
    QStringList makePngCompressParam(const QVariantMap& params);

protected:
    QString toolPath() const override;
    ToolCommand toolCommand() const override;
    std::optional<ToolStep> prepareRun(int kind, Outcome* refusal) override;
    // pngquant cannot read the source as an image.
    int corruptSourceExitCode() const override { return 25; }
    // pngquant could not meet the quality floor: the source stays the better picture.
    bool keepsSourceOnExit(int exitCode) const override { return exitCode == 99; }
};
