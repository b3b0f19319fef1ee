#include "MediaGlue.h"

#include "FFmpegDeleters.h"

extern "C" {
#include <libavutil/error.h>
}

namespace Nerova {

QSharedPointer<AVFormatContext> makeAVFormatContextPtr(AVFormatContext* context)
{
    if (!context)
        return {};
    return QSharedPointer<AVFormatContext>(context, AVInputFormatContextDeleter());
}

QSharedPointer<AVPacket> makeAVPacketPtr(AVPacket* packet)
{
    if (!packet)
        return {};
    return QSharedPointer<AVPacket>(packet, AVPacketDeleter());
}

QString ffmpegErrorText(int errorCode)
{
    char buffer[256] = {};
    av_strerror(errorCode, buffer, sizeof(buffer));
    return QString::fromUtf8(buffer);
}

} // namespace Nerova
