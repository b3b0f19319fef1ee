#pragma once

#include <compressor/CompressTask.h>

#include <QProcess>
#include <QStringList>

#include <memory>

class QTemporaryDir;

// The run every still-image task shares: a private working folder, the tool working on a copy of
// the source, and the user's output replaced only by a finished result that is not larger than the
// source. A concrete task names its tool, builds its parameter list and says which exit code means
// an unreadable source.
class NEROVA_EXPORT ImageCompressTask : public CompressTask
{
    Q_OBJECT
public:
    explicit ImageCompressTask(const QVariantMap& params);
    ~ImageCompressTask() override;

    bool startTask() override;
    void abortTask() override;

protected:
    virtual QString toolPath() const = 0;
    // The tool's parameters; an empty list means the working files could not be prepared.
    virtual QStringList makeToolParams() = 0;
    // The tool's exit code for a source it cannot read.
    virtual int corruptSourceExitCode() const = 0;
    // The request values that end up on the tool's command line.
    virtual QStringList requestValuesForTool() const { return {mQuality}; }

    // Makes a fresh private working folder and copies the source into it as
    // temporaryImage_1.<suffix>; the tool's result goes to temporaryImage_2.<suffix>.
    bool prepareWorkingCopy();

    QString mTempDirPath;
    QString mTempInputPath;
    QString mTempOutputPath;
    QString mInputPath;
    QString mOutputPath;
    QString mQuality;
    std::unique_ptr<QProcess> mProcess;

protected slots:
    void onCompressFinished(int exitCode, QProcess::ExitStatus exitStatus);

private slots:
    void onProcessError(QProcess::ProcessError error);

private:
    void deliverResult(int exitCode);
    void finishRun(int code, const QString& text);

    std::unique_ptr<QTemporaryDir> mWorkDir;
    bool mRunActive = false;
    bool mAborting = false;
    bool mInProcessSignal = false;
};
