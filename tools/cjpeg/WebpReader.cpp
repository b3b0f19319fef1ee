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

Metadata readMetadata(const WebPData& data)
{
    Metadata metadata;
    std::unique_ptr<WebPDemuxer, DemuxDeleter> demux(WebPDemux(&data));
    if (!demux || !(WebPDemuxGetI(demux.get(), WEBP_FF_FORMAT_FLAGS) & (ICCP_FLAG | EXIF_FLAG)))
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
    return metadata;
}

// Animated files need the animation decoder to build the first frame on the canvas.
void decodeFirstFrame(const WebPData& data, BufferedImage& image)
{
    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options))
        throw Error("WebP library version mismatch");
    options.color_mode = MODE_RGBA;
    options.use_threads = 0;
    std::unique_ptr<WebPAnimDecoder, AnimDecoderDeleter> decoder(WebPAnimDecoderNew(&data, &options));
    std::uint8_t* rgba = nullptr;
    int timestamp = 0;
    if (!decoder || !WebPAnimDecoderGetNext(decoder.get(), &rgba, &timestamp))
        throw Error("damaged animated WebP");
    compositeOnWhite(rgba, image.data(), image.pixelCount(), 4);
}

} // namespace

// Decodes a still or animated (first frame) WebP into memory, blending any alpha over white.
std::unique_ptr<ImageReader> readWebp(FilePtr file)
{
    const std::vector<std::uint8_t> bytes = readWholeFile(file.get());
    file.reset();
    WebPBitstreamFeatures features;
    if (WebPGetFeatures(bytes.data(), bytes.size(), &features) != VP8_STATUS_OK)
        throw Error("damaged WebP header");
    checkDimensions(features.width, features.height, "WebP");
    const WebPData data{bytes.data(), bytes.size()};

    const bool alpha = features.has_alpha && !features.has_animation;
    auto image = std::make_unique<BufferedImage>(features.width, features.height, 3, alpha ? 4 : 3);
    if (features.has_animation) {
        decodeFirstFrame(data, *image);
    } else {
        const std::size_t size = image->pixelCount() * (alpha ? 4 : 3);
        const int stride = features.width * (alpha ? 4 : 3);
        const std::uint8_t* ok =
            alpha ? WebPDecodeRGBAInto(bytes.data(), bytes.size(), image->data(), size, stride)
                  : WebPDecodeRGBInto(bytes.data(), bytes.size(), image->data(), size, stride);
        if (!ok)
            throw Error("damaged WebP image data");
        if (alpha)
            compositeOnWhite(image->data(), image->data(), image->pixelCount(), 4);
    }
    image->setMetadata(readMetadata(data));
    return image;
}

} // namespace cjpeg
