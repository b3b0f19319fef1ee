#pragma once

#include "MediaGlueGlobal.h"

#include <QSharedPointer>
#include <QString>

struct AVFormatContext;
struct AVPacket;

namespace Nerova {

// Owns an input format context: the last reference closes and frees it. A null context gives an empty
// pointer.
MEDIAGLUE_EXPORT QSharedPointer<AVFormatContext> makeAVFormatContextPtr(AVFormatContext* context);

// Owns a packet: the last reference unreferences and frees it. A null packet gives an empty pointer.
MEDIAGLUE_EXPORT QSharedPointer<AVPacket> makeAVPacketPtr(AVPacket* packet);

// FFmpeg's text for an error code, as av_strerror writes it.
MEDIAGLUE_EXPORT QString ffmpegErrorText(int errorCode);

} // namespace Nerova
