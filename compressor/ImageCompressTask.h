#pragma once

#include <compressor/CompressTask.h>

#include <QProcess>
#include <QStringList>

#include <memory>

// The life of a still-image task's tool run: checked request values, the tool launched as program plus
// argument list, one compressFinished for every launched run (also when the tool cannot start, crashes
// or is aborted), and a killed tool on destruction. A concrete task prepares its files, turns a normal
// exit into a result, and undoes a run that delivered nothing.
class NEROVA_EXPORT ImageCompressTask : public CompressTask
{
    Q_OBJECT
public:
    explicit ImageCompressTask(const QVariantMap& params);
    ~ImageCompressTask() override;

    bool startTask() override;
    void abortTask() override;

protected:
    // How a run ended, as compressFinished reports it.
    struct Outcome
    {
        int code = 0;
        QString text;
    };

    virtual QString toolPath() const = 0;
    // The request values that end up on the tool's command line.
    virtual QStringList requestValuesForTool() const { return {mQuality}; }
    // Prepares the run's files and returns the tool's parameters; an empty list ends the run with
    // *refusal without starting anything.
    virtual QStringList prepareRun(Outcome* refusal) = 0;
    // The tool exited normally with exitCode: deliver what it made.
    virtual Outcome deliverRun(int exitCode) = 0;
    // The run delivers nothing (aborted, crashed, never started): leave the user's files as before it.
    virtual void discardRun() = 0;
    // Every run's end, delivered or not.
    virtual void cleanUpRun() {}

    // Stops a running tool without reporting anything; a concrete task's destructor calls it before
    // its own files are cleaned up, so the tool cannot write after that.
    void stopToolForDestruction();
    // True from a start that passed its checks until the run's compressFinished.
    bool isRunActive() const { return mRunActive; }

    QString mInputPath;
    QString mOutputPath;
    QString mQuality;
    std::unique_ptr<QProcess> mProcess;

protected slots:
    void onCompressFinished(int exitCode, QProcess::ExitStatus exitStatus);

private slots:
    void onProcessError(QProcess::ProcessError error);

private:
    void finishRun(const Outcome& outcome);

    bool mRunActive = false;
    bool mAborting = false;
    bool mInProcessSignal = false;
};
