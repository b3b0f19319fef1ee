#pragma once

#include <compressor/CompressTask.h>
#include <compressor/OutputPolicy.h>

#include <QProcess>
#include <QStringList>

#include <memory>
#include <optional>

// The life of every task that runs a tool: request values checked, each tool started as program plus
// argument list, exactly one compressFinished for every run that passed its start checks (also when a
// tool cannot start, crashes or is aborted), the status stored after that signal, and a running tool
// stopped when the task goes away. A run is one or more tool steps; the concrete task prepares its
// files, chooses the steps, turns the last exit into a result and undoes a run that delivers nothing.
// A run that ends with a code other than 0 leaves the failing tool's last line of complaint in the
// dynamic property "toolMessage" (read with property(), no link to the library needed). A run that
// made the picture smaller to fit the request's size limit leaves its new size, "WxH", in the dynamic
// property "resized" (empty otherwise); a tool says so with a line "resized=WxH" on standard output.
class NEROVA_EXPORT ToolRunTask : public CompressTask
{
    Q_OBJECT
public:
    explicit ToolRunTask(const QVariantMap& params);
    ~ToolRunTask() override;

    bool startTask() override;
    void abortTask() override;

protected:
    // How a run ended, as compressFinished reports it; code 0 leaves status 2, any other 3. A run that
    // did not deliver is undone.
    struct Outcome
    {
        int code = 0;
        QString text;
        bool delivered = false;
    };

    // One tool run of a task's run.
    struct ToolStep
    {
        ToolStep(const QString& program, const QStringList& arguments)
            : program(program), arguments(arguments)
        {}

        QString program;
        QStringList arguments;
        // Variables set for this tool on top of the task's own environment.
        QStringList environment;
        // Whether the step's standard output is kept for followUpStep.
        bool keepsOutput = false;
    };

    // Starts a run (kind 0 is startTask's; a subclass may define others); false when nothing was
    // launched, which is also the case when a check ended the run with a compressFinished.
    bool startRun(int kind);

    // The tool that must exist for a start to return true.
    virtual QString toolPath() const = 0;
    // The request values that reach a command line; one that could pass for an option ends the run.
    virtual QStringList requestValuesForTool() const = 0;
    // Prepares the run's files and returns its first step; nothing ends the run with *refusal.
    virtual std::optional<ToolStep> prepareRun(int kind, Outcome* refusal) = 0;
    // A step exited normally: the next step, or nothing to go on to deliverRun.
    virtual std::optional<ToolStep> followUpStep(int exitCode, const QByteArray& output)
    {
        Q_UNUSED(exitCode)
        Q_UNUSED(output)
        return std::nullopt;
    }
    // The last step exited normally with exitCode: deliver what the run made.
    virtual Outcome deliverRun(int exitCode) = 0;
    // The run delivers nothing (failed, aborted, crashed, never started): the user's files as before.
    virtual void discardRun() = 0;
    // Every run's end, delivered or not, before compressFinished.
    virtual void cleanUpRun() {}
    // The first step was launched.
    virtual void runStarted() {}
    // What a tool that died from a signal, or was killed by an abort, reports.
    virtual Outcome crashOutcome(int exitCode) const;
    virtual Outcome abortOutcome(int exitCode) const;
    // abortTask() while no run is active.
    virtual void abortWithoutRun() {}

    // Stops a running tool without reporting anything. Each delivery style's destructor calls it before
    // it undoes the run, so the tool cannot write after that.
    void stopToolForDestruction();

    // A request value as text, or fallback when the request leaves it out or empty.
    static QString requestValueOr(const QVariantMap& params, const QString& key, const QString& fallback);

    // True from a start that passed its checks until the run's compressFinished.
    bool isRunActive() const { return mRunActive; }
    bool hasRunBefore() const { return mProcess != nullptr; }
    // The last lines the current step wrote to standard error.
    QByteArray toolMessages() const { return mToolMessages; }

    // The request keys every task reads. A request that leaves "quality" out (or empty) gets the
    // output format's default, so a tool never sees a missing value.
    const QString mInputPath;
    const QString mOutputPath;
    const QString mQuality;
    // "threads": how many threads a tool that spreads over the processors by itself may use ("0": its
    // own choice); empty when the request leaves it out, and each tool then behaves as it always has.
    const QString mThreads;
    // "maxWidth", "maxHeight" and "strip": the size limit and what metadata the output leaves out.
    const OutputPolicy mPolicy;
    // "targetSize": the bytes an image's result should fit in, reached by choosing the highest quality
    // up to mQuality that fits; 0 when the request leaves it out, -1 when it is no positive integer
    // (the run is then refused as an invalid request).
    const qint64 mTargetSize;

    // Tells the host how a run with a target size went, through the dynamic properties "targetMet"
    // (whether the delivered file fits), "targetQuality" (the quality chosen) and "targetEncodes" (how
    // many encodes the search took); set before compressFinished. Does nothing without a target size.
    void reportTarget(int quality, int encodes);

    // The request's quality as the top of a target-size search (0..100); empty when it is no such number,
    // which refuses the run as an invalid request.
    std::optional<int> targetSearchCeiling() const;

protected slots:
    void onCompressFinished(int exitCode, QProcess::ExitStatus exitStatus);

private slots:
    void onProcessError(QProcess::ProcessError error);
    void onStandardError();

private:
    void launch(const ToolStep& step);
    void endRun(const Outcome& outcome);
    void stopTool();

    std::unique_ptr<QProcess> mProcess;
    QByteArray mToolMessages;
    bool mKeepsOutput = false;
    bool mRunActive = false;
    bool mAborting = false;
    bool mInProcessSignal = false;
};
