#include "Error.h"
#include "Readers.h"

#include <cstring>
#include <vector>

#include <webp/decode.h>
#include <webp/demux.h>

namespace cjpeg {

namespace {

// Frees a WebP demuxer.
struct DemuxDeleter
{
    void operator()(WebPDemuxer* demux) const { WebPDemuxDelete(demux); }
};
// Frees a WebP animation decoder.
struct AnimDecoderDeleter
{
    void operator()(WebPAnimDecoder* decoder) const { WebPAnimDecoderDelete(decoder); }
};

std::vector<std::uint8_t> readWholeFile(std::FILE* file)
{
    const std::uint64_t size = bytesRemaining(file);
    // WebP's RIFF size field is 32 bits, so nothing valid is larger.
    if (size > 0xFFFFFFFFull)
        throw Error("WebP file too large");
    std::vector<std::uint8_t> data(static_cast<std::size_t>(size));
    readExact(file, data.data(), data.size(), "WebP file");
    return data;
}

const char kXmpNamespace[] = "http://ns.adobe.com/xap/1.0/"; // the JPEG payload keeps its NUL

Metadata readMetadata(const WebPData& data)
{
    Metadata metadata;
    std::unique_ptr<WebPDemuxer, DemuxDeleter> demux(WebPDemux(&data));
    if (!demux || !(WebPDemuxGetI(demux.get(), WEBP_FF_FORMAT_FLAGS) & (ICCP_FLAG | EXIF_FLAG | XMP_FLAG)))
        return metadata;
    WebPChunkIterator chunk;
    if (WebPDemuxGetChunk(demux.get(), "ICCP", 1, &chunk)) {
        metadata.icc.assign(chunk.chunk.bytes, chunk.chunk.bytes + chunk.chunk.size);
        WebPDemuxReleaseChunkIterator(&chunk);
    }
    if (WebPDemuxGetChunk(demux.get(), "EXIF", 1, &chunk)) {
        metadata.exif = exifPayload(chunk.chunk.bytes, chunk.chunk.size);
        WebPDemuxReleaseChunkIterator(&chunk);
    }
    if (WebPDemuxGetChunk(demux.get(), "XMP ", 1, &chunk)) {
        metadata.xmp.assign(kXmpNamespace, kXmpNamespace + sizeof kXmpNamespace);
        metadata.xmp.insert(metadata.xmp.end(), chunk.chunk.bytes, chunk.chunk.bytes + chunk.chunk.size);
        WebPDemuxReleaseChunkIterator(&chunk);
    }
    return metadata;
}

} // namespace

// Holds the file and libwebp's animation decoder; frames come out fully composed on the canvas.
struct WebpFrames::Decoder
{
    std::vector<std::uint8_t> bytes;
    std::unique_ptr<WebPAnimDecoder, AnimDecoderDeleter> decoder;
};

WebpFrames::WebpFrames(FilePtr file) : WebpFrames(readWholeFile(file.get())) {}

WebpFrames::WebpFrames(std::vector<std::uint8_t> bytes) : decoder_(std::make_unique<Decoder>())
{
    decoder_->bytes = std::move(bytes);
    const WebPData data{decoder_->bytes.data(), decoder_->bytes.size()};
    WebPBitstreamFeatures features;
    if (WebPGetFeatures(data.bytes, data.size, &features) != VP8_STATUS_OK)
        throw Error("damaged WebP header");
    // The canvas size comes from the container; check it before the decoder allocates it.
    std::unique_ptr<WebPDemuxer, DemuxDeleter> demux(WebPDemux(&data));
    if (!demux)
        throw Error("damaged WebP container");
    checkDimensions(WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_WIDTH),
                    WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_HEIGHT), "WebP");
    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options))
        throw Error("WebP library version mismatch");
    options.color_mode = MODE_RGBA;
    options.use_threads = 0;
    decoder_->decoder.reset(WebPAnimDecoderNew(&data, &options));
    WebPAnimInfo info;
    if (!decoder_->decoder || !WebPAnimDecoderGetInfo(decoder_->decoder.get(), &info) ||
        info.frame_count == 0)
        throw Error("damaged animated WebP");
    width_ = static_cast<int>(info.canvas_width);
    height_ = static_cast<int>(info.canvas_height);
    frameCount_ = static_cast<int>(info.frame_count);
    loopCount_ = static_cast<int>(info.loop_count);
    hasAlpha_ = features.has_alpha;
    metadata_ = readMetadata(data);
}

WebpFrames::~WebpFrames() = default;

const std::uint8_t* WebpFrames::next(int* timestampMs)
{
    std::uint8_t* rgba = nullptr;
    if (!WebPAnimDecoderHasMoreFrames(decoder_->decoder.get()))
        return nullptr;
    if (!WebPAnimDecoderGetNext(decoder_->decoder.get(), &rgba, timestampMs))
        throw Error("damaged animated WebP frame");
    return rgba;
}

// Decodes a still WebP, or the first frame of an animated one, keeping alpha when the file has it.
std::unique_ptr<ImageReader> readWebp(FilePtr file)
{
    std::vector<std::uint8_t> bytes = readWholeFile(file.get());
    file.reset();
    WebPBitstreamFeatures features;
    if (WebPGetFeatures(bytes.data(), bytes.size(), &features) != VP8_STATUS_OK)
        throw Error("damaged WebP header");
    const WebPData data{bytes.data(), bytes.size()};
    if (features.has_animation) {
        WebpFrames frames(std::move(bytes));
        int timestamp = 0;
        const std::uint8_t* rgba = frames.next(&timestamp);
        if (!rgba)
            throw Error("animated WebP without frames");
        const int channels = frames.hasAlpha() ? 4 : 3;
        auto image = std::make_unique<BufferedImage>(frames.width(), frames.height(), channels);
        const std::size_t pixels = image->pixelCount();
        std::uint8_t* out = image->data();
        for (std::size_t i = 0; i < pixels; ++i, rgba += 4, out += channels)
            std::memcpy(out, rgba, static_cast<std::size_t>(channels));
        image->setMetadata(frames.metadata());
        return image;
    }
    checkDimensions(features.width, features.height, "WebP");
    const bool alpha = features.has_alpha;
    auto image = std::make_unique<BufferedImage>(features.width, features.height, alpha ? 4 : 3);
    const std::size_t size = image->pixelCount() * (alpha ? 4 : 3);
    const int stride = features.width * (alpha ? 4 : 3);
    const std::uint8_t* ok = alpha
                                 ? WebPDecodeRGBAInto(bytes.data(), bytes.size(), image->data(), size, stride)
                                 : WebPDecodeRGBInto(bytes.data(), bytes.size(), image->data(), size, stride);
    if (!ok)
        throw Error("damaged WebP image data");
    image->setMetadata(readMetadata(data));
    return image;
}

} // namespace cjpeg
