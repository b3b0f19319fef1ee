#pragma once

#include <compressor/ICompressor.h>

// The plug-in's only service object: turns a request map into the task for its output format.
class NEROVA_EXPORT Compressor : public ICompressor
{
public:
    ~Compressor() override;

    QVariantList getSupportOriginal() override;
    QSharedPointer<ICompressTask> createCompressTask(const QVariantMap& params) override;
};
