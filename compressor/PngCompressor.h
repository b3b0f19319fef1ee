#pragma once

#include <compressor/ImageTool.h>
#include <compressor/WorkingCopyCompressTask.h>

// Reduces a still image to a palette PNG with pngquant, found next to the host application. A source
// pngquant cannot take as it is (another format, a turned photo) reaches it as a lossless PNG made by
// cImage, which also puts the source's metadata back into the result.
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
    std::optional<ToolStep> followUpStep(int exitCode, const QByteArray& output) override;
    Outcome deliverRun(int exitCode) override;
    // pngquant cannot read the source as an image.
    int corruptSourceExitCode() const override { return 25; }
    // pngquant could not meet the quality floor: the source stays the better picture.
    bool keepsSourceOnExit(int exitCode) const override { return exitCode == 99; }

private:
    enum class Stage { Prepare, Quantise, Finish };

    ToolStep quantiseStep() const;

    Stage mStage = Stage::Quantise;
    QString mQuantiseInput; // the file pngquant reads: the working copy or cImage's intermediate
    int mQuantiseExitCode = 0;
    bool mFinishFailed = false; // the metadata policy could not be applied to pngquant's result
};
