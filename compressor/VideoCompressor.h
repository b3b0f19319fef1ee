#pragma once

#include <compressor/CompressTask.h>
#include <compressor/OutputSetAside.h>

#include <QProcess>
#include <QSize>
#include <QStringList>

#include <memory>

class ProgressThread;

namespace Nerova {
struct ContainerInfo;
class FFDemuxer;
} // namespace Nerova

// Re-encodes a video with ffmpeg (libx264), or a 15-second preview of it, and reports progress from
// ffmpeg's progress file. A file the user already had at the output is set aside for the run and comes
// back unless the run succeeds.
class NEROVA_EXPORT VideoCompressor : public CompressTask
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
    void abortTask() override;
    bool previewTask() override;

    // The folder of this process's progress files, private to it and removed when it ends.
    static QString progressDirectory();

protected slots:
    void onCompressProgress(float progress);
    void onCompressFinished(int exitCode, QProcess::ExitStatus exitStatus);

private slots:
    void onProcessError(QProcess::ProcessError error);
    void onStandardError();

private:
    enum class Encoder { Software, Hardware };

    QSharedPointer<Nerova::ContainerInfo> probeSource(QSharedPointer<Nerova::FFDemuxer>* demuxer) const;
    // Sets mDuration by the stream rules (estimating when needed) and returns the bit rate of the
    // stream or container the duration came from.
    qint64 chooseDuration(const Nerova::ContainerInfo& info, Nerova::FFDemuxer& demuxer);
    QStringList makeEncodeParam(Encoder encoder);
    bool isWebm() const;
    QString softwareCodecElement() const;
    QString audioCodecElement() const;
    void appendStreamMapping(QStringList& params, const Nerova::ContainerInfo& info) const;
    static QSize referenceDisplaySize(const Nerova::ContainerInfo& info);
    void appendThreads(QStringList& params) const;
    void appendProgress(QStringList& params);

    // Starts ffmpeg for a full encode or a preview, with the progress thread beside it.
    bool run(bool preview);
    void stopProgressThread();
    // Ends the current run: what it wrote goes, the user's earlier output comes back.
    void discardRun();
    void finishRun(int code, const QString& text);

    QString mInputPath;
    QString mOutputPath;
    QString mQuality;
    QString mPreset;
    QString mScale;
    qint64 mDuration = 0;
    QString mProgressPath;
    std::unique_ptr<QProcess> mProcess;
    std::unique_ptr<ProgressThread> mProgressThread;

    OutputSetAside mSetAside;
    QByteArray mToolMessages;
    bool mRunActive = false;
    bool mInProcessSignal = false;
};
