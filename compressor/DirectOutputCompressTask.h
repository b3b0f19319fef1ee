#pragma once

#include <compressor/OutputSetAside.h>
#include <compressor/ToolRunTask.h>

// A task whose tool (ffmpeg) writes the output path itself. It refuses an output that is its own
// source, sets a file the user already has there aside for the run, and brings it back unless the run
// delivers; whatever an undelivered run left at the output goes.
class NEROVA_EXPORT DirectOutputCompressTask : public ToolRunTask
{
    Q_OBJECT
public:
    explicit DirectOutputCompressTask(const QVariantMap& params);
    ~DirectOutputCompressTask() override;

protected:
    // The run's first step, once the output is free for it.
    virtual std::optional<ToolStep> firstStep(int kind, Outcome* refusal) = 0;

    std::optional<ToolStep> prepareRun(int kind, Outcome* refusal) final;
    void discardRun() override;
    // The run delivered: the user's earlier file goes for good.
    void keepOutput();

private:
    OutputSetAside mSetAside;
    bool mOwnsOutput = false;
};
