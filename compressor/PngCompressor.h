#pragma once

#include <compressor/ImageTool.h>
#include <compressor/WorkingCopyCompressTask.h>

#include <memory>

namespace cjpeg {
class QualitySearch;
}

// Reduces a still image to a palette PNG with pngquant, found next to the host application. A source
// pngquant cannot take as it is (another format, a turned photo) reaches it as a lossless PNG made by
// cImage, which also puts the source's metadata back into the result. With a target size the upper end
// of the quality range is searched: pngquant (and cImage) run once per quality tried, each result kept
// in the working folder, and the chosen one is delivered.
class NEROVA_EXPORT PngCompressor : public WorkingCopyCompressTask
{
    Q_OBJECT
public:
    explicit PngCompressor(const QVariantMap& params);
    ~PngCompressor() override;

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
    // Where pngquant writes: the working result, or with a target size one file per quality tried.
    QString quantiseOutput() const;
    // A tried quality's result is complete: the next quality to try, or nothing once the chosen
    // result is the working result.
    std::optional<ToolStep> recordTrial();

    Stage mStage = Stage::Quantise;
    QString mQuantiseInput; // the file pngquant reads: the working copy or cImage's intermediate
    int mQuantiseExitCode = 0;
    bool mFinishFailed = false; // the metadata policy could not be applied to pngquant's result
    std::unique_ptr<cjpeg::QualitySearch> mSearch; // only with a target size
    int mTrialQuality = 0;
};
