#pragma once

#include <compressor/ToolCommand.h>
#include <compressor/ToolRunTask.h>

class QTemporaryDir;

// A still-image task whose tool works on a copy of the source in a private working folder: the result
// replaces the user's output only when it is finished and not larger than the source (otherwise the
// source's bytes are delivered), so several tasks may run at once and a task may compress in place.
class NEROVA_EXPORT WorkingCopyCompressTask : public ToolRunTask
{
    Q_OBJECT
public:
    explicit WorkingCopyCompressTask(const QVariantMap& params);
    ~WorkingCopyCompressTask() override;

protected:
    // The tool's exit code for a source it cannot read.
    virtual int corruptSourceExitCode() const = 0;
    // An exit code that says the tool could not do better than the source itself.
    virtual bool keepsSourceOnExit(int exitCode) const
    {
        Q_UNUSED(exitCode)
        return false;
    }
    // The tool's command line, built after the working copy exists.
    virtual ToolCommand toolCommand() const = 0;
    // Whether the source's bytes may stand in for a larger result: only when the source already is the
    // output's format (by content), so the output is always the format its name says.
    virtual bool sourceMayStandIn() const;

    // Makes a fresh private working folder and puts the source into it as temporaryImage_1.<suffix>
    // (a link to it, or a copy where no link can be made); the tool's result goes to
    // temporaryImage_2.<suffix>.
    bool prepareWorkingCopy();
    // The same for a run: a failure becomes the run's refusal.
    bool prepareWorkingCopy(Outcome* refusal);

    QStringList requestValuesForTool() const override { return {mQuality, mThreads}; }
    std::optional<ToolStep> prepareRun(int kind, Outcome* refusal) override;
    Outcome deliverRun(int exitCode) override;
    void discardRun() override {}
    void cleanUpRun() override;

    QString mTempDirPath;
    QString mTempInputPath;
    QString mTempOutputPath;

private:
    std::unique_ptr<QTemporaryDir> mWorkDir;
};
