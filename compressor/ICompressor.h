#pragma once

#include <base/NerovaGlobal.h>
#include <compressor/ICompressTask.h>

#include <QSharedPointer>
#include <QVariantList>
#include <QVariantMap>

// The plug-in's service interface, shared with the host: the order of the operations is fixed.
class NEROVA_EXPORT ICompressor
{
public:
    virtual ~ICompressor() = default;
    // Source container suffixes the plug-in reports as supported.
    virtual QVariantList getSupportOriginal() = 0;
    // A new task for one request, or an empty pointer when the request names no output.
    virtual QSharedPointer<ICompressTask> createCompressTask(const QVariantMap& params) = 0;
};

// The process-wide compressor; created on first use, never to be deleted by the host.
extern "C" NEROVA_EXPORT ICompressor* CompressorEntry();

// The plug-in's version, "major.minor.patch".
extern "C" NEROVA_EXPORT const char* CompressorVersion();
