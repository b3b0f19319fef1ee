#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/mem.h>
}

#include <memory>

namespace Nerova {

// Deleters that hand FFmpeg objects back to the function that frees them, for std::unique_ptr and
// QSharedPointer alike. Every FFmpeg object this code base owns goes through one of these.
struct AVInputFormatContextDeleter
{
    // An input context is closed, which also frees it; a custom I/O context stays with its owner.
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};

struct AVPacketDeleter
{
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};

struct AVFrameDeleter
{
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};

struct AVCodecContextDeleter
{
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};

struct AVIOContextDeleter
{
    // Frees the context and whatever buffer it holds at the time (it may have replaced ours).
    void operator()(AVIOContext* context) const
    {
        if (context)
            av_freep(&context->buffer);
        avio_context_free(&context);
    }
};

struct AVMemoryDeleter
{
    void operator()(void* memory) const { av_free(memory); }
};

using AVFramePtr = std::unique_ptr<AVFrame, AVFrameDeleter>;
using AVCodecContextPtr = std::unique_ptr<AVCodecContext, AVCodecContextDeleter>;
using AVIOContextPtr = std::unique_ptr<AVIOContext, AVIOContextDeleter>;
using AVPacketUniquePtr = std::unique_ptr<AVPacket, AVPacketDeleter>;

} // namespace Nerova
