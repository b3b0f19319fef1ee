#pragma once

#include <compressor/DirectOutputCompressTask.h>
#include <compressor/VideoArguments.h>
#include <compressor/VideoResultCheck.h>

#include <QStringList>

#include <memory>

class ProgressThread;

namespace Nerova {
struct ContainerInfo;
}

// Re-encodes a video with ffmpeg, or a 15-second preview of it, and reports progress from ffmpeg's
// progress file. ffmpeg's result is read back and counts only when it holds what the source has. A file
// the user already had at the output is set aside for the run and comes back unless the run succeeds.
// A full encode that comes out larger than a source in the same container delivers the source's bytes
// and says so through the dynamic property "sourceKept", set before compressFinished.
class NEROVA_EXPORT VideoCompressor : public DirectOutputCompressTask
{
    Q_OBJECT
public:
    explicit VideoCompressor(const QMap<QString, QVariant>& params);
    ~VideoCompressor() override;

    // ffmpeg's parameters for a full software encode; sets the source duration and the progress file.
    // Empty when the source cannot be opened. The map is not consulted.
    QStringList makeVideoCompressParam(const QMap<QString, QVariant>& params);
    // The same for a GPU encoder chosen by the GPU model, controlled by bit rate instead of CRF.
    QStringList makeVideoHardwareParam(const QMap<QString, QVariant>& params);
    // ffmpeg's parameters for the first 15 seconds with the task's settings; sets the progress file.
    QStringList makeVideoPreviewParam(const QMap<QString, QVariant>& params);

    // The source duration the last encode builder found, in milliseconds: a full encode's progress total.
    qint64 sourceDurationMs() const { return mDuration; }

    bool startTask() override;
    bool previewTask() override;

    // The folder of this process's progress files, private to it and removed when it ends.
    static QString progressDirectory();

protected slots:
    void onCompressProgress(float progress);

protected:
    QString toolPath() const override;
    QStringList requestValuesForTool() const override { return {mQuality, mPreset, mScale, mThreads}; }
    std::optional<ToolStep> firstStep(int kind, Outcome* refusal) override;
    Outcome deliverRun(int exitCode) override;
    void cleanUpRun() override;
    void runStarted() override;
    Outcome crashOutcome(int exitCode) const override;
    Outcome abortOutcome(int exitCode) const override;
    void abortWithoutRun() override;

private:
    enum RunKind { FullEncode = 0, Preview = 1 };
    enum class Build { Software, Hardware, Preview };

    // Probes the source and builds the command; empty when the source cannot be opened.
    ToolCommand build(Build build);
    void stopProgressThread();
    void removeCoverFile();
    // Puts the source's bytes at the output when the result is larger and in the same container.
    void keepSourceWhenSmaller(const QString& outputFormat);

    QString mPreset;
    QString mScale;
    qint64 mDuration = 0;
    QString mProgressPath;
    // Matroska takes a cover as an attached file: the source's picture, written out for the run.
    QString mCoverPath;
    QString mSourceFormat;
    VideoResultCheck mCheck;
    std::unique_ptr<ProgressThread> mProgressThread;
    bool mPreviewRun = false;
    bool mSucceeded = false;
};
