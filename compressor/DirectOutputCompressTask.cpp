#include "DirectOutputCompressTask.h"

#include "FinishCode.h"
#include "OutputFile.h"

#include <QFile>

DirectOutputCompressTask::DirectOutputCompressTask(const QVariantMap& params) : ToolRunTask(params) {}

DirectOutputCompressTask::~DirectOutputCompressTask()
{
    stopToolForDestruction();
    if (isRunActive())
        discardRun();
}

std::optional<ToolRunTask::ToolStep> DirectOutputCompressTask::prepareRun(int kind, Outcome* refusal)
{
    // ffmpeg would truncate its own input before reading it, and a failed run would then delete it.
    if (OutputFile::isSameFile(mInputPath, mOutputPath)) {
        *refusal = {FinishCode::OutputIsSource, FinishCode::outputIsSourceText()};
        return std::nullopt;
    }
    if (!mSetAside.setAside(mOutputPath)) {
        *refusal = {FinishCode::OutputNotSetAside, FinishCode::outputNotSetAsideText()};
        return std::nullopt;
    }
    mOwnsOutput = true;
    return firstStep(kind, refusal);
}

void DirectOutputCompressTask::discardRun()
{
    // Only a run that set the output free may clear it: before that, the path holds the user's file.
    if (!mOwnsOutput)
        return;
    mOwnsOutput = false;
    QFile::remove(mOutputPath);
    mSetAside.restore();
}

void DirectOutputCompressTask::keepOutput()
{
    mOwnsOutput = false;
    mSetAside.drop();
}
