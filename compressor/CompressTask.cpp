#include "CompressTask.h"

CompressTask::CompressTask(const QVariantMap& params) : ICompressTask(nullptr), mParams(params) {}

CompressTask::~CompressTask() = default;

bool CompressTask::startTask()
{
    return false;
}

void CompressTask::abortTask() {}

bool CompressTask::previewTask()
{
    return false;
}
