#pragma once

#include <NerovaDec/FFDemuxer.h>

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

// The input bytes served to every demuxer under path while it lives, without a copy or a file.
class MemoryInput
{
public:
    MemoryInput(const QString& path, const uint8_t* data, size_t size) : mPath(path)
    {
        Nerova::FFDemuxer::addMemoryFile(
            mPath, QByteArray::fromRawData(reinterpret_cast<const char*>(data), int(size)));
    }
    ~MemoryInput() { Nerova::FFDemuxer::removeMemoryFile(mPath); }
    MemoryInput(const MemoryInput&) = delete;
    MemoryInput& operator=(const MemoryInput&) = delete;

    const QString& path() const { return mPath; }

private:
    QString mPath;
};
