#pragma once

#include <compressor/DirectOutputCompressTask.h>

#include <memory>

class QTemporaryDir;
namespace cjpeg {
class QualitySearch;
}
class ToolCommand;

// Converts a still or animated image to WebP with ffmpeg's libwebp encoder, which writes the output
// path itself; a file the user already had there is set aside for the run and comes back unless the
// run succeeds. A source ffmpeg cannot read right reaches it as a lossless intermediate made by
// cImage, which afterwards also puts the source's metadata and loop count into the WebP. With a target
// size only the encode (and cImage's finish) is repeated per quality tried, each result kept in the
// private folder; the chosen one goes to the output.
class NEROVA_EXPORT WebpCompressor : public DirectOutputCompressTask
{
    Q_OBJECT
public:
    explicit WebpCompressor(const QVariantMap& params);
    ~WebpCompressor() override;

    bool startTask() override;

    // ffmpeg's parameters: the input, the libwebp encoder with the quality, the output, paths wrapped
    // in double quotes. Touches no file; the map is not consulted.
    QStringList makeWebpCompressParam(const QVariantMap& params);

protected:
    QString toolPath() const override;
    QStringList requestValuesForTool() const override { return {mQuality, mThreads}; }
    std::optional<ToolStep> firstStep(int kind, Outcome* refusal) override;
    std::optional<ToolStep> followUpStep(int exitCode, const QByteArray& output) override;
    Outcome deliverRun(int exitCode) override;
    void cleanUpRun() override;

private:
    enum class Stage { Prepare, Encode, Finish };

    ToolCommand command(const QString& input) const;
    // Where ffmpeg writes: the output, or with a target size one file per quality tried.
    QString encodeOutput() const;
    // A tried quality's result is complete: the next encode, or nothing once the chosen result is at
    // the output.
    std::optional<ToolStep> recordTrial();

    Stage mStage = Stage::Encode;
    std::unique_ptr<QTemporaryDir> mWorkDir;
    QString mEncodeInput;
    QString mFrameSize; // "W:H" that ffmpeg shrinks an animation's frames to; empty: their own size
    int mEncodeExitCode = 0;
    std::unique_ptr<cjpeg::QualitySearch> mSearch; // only with a target size
    int mTrialQuality = 0;
};
