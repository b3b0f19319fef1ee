#include "Image.h"

#include "Error.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <sys/mman.h>

namespace cjpeg {

namespace {
// A JPEG cannot be wider or taller than this.
constexpr long long kMaxJpegSide = 65500;
// Whole-image decoders allocate up to 4 bytes per pixel; this keeps that near 1 GiB. Larger images
// (268,435,456 pixels, e.g. 16384x16384) are refused from their header with exit code 1, before any
// pixel memory is taken; the README states the limit.
constexpr long long kMaxPixels = 1LL << 28;
long long maxPixels = kMaxPixels;
constexpr std::size_t kHugePage = 2 << 20;
const char kExifHeader[6] = {'E', 'x', 'i', 'f', 0, 0};
} // namespace

BufferedImage::BufferedImage(int width, int height, int channels, int bytesPerPixel)
{
    info_ = ImageInfo{width, height, channels};
    const int perPixel = bytesPerPixel > channels ? bytesPerPixel : channels;
    // Not value-initialised: every byte is written by the decoder before it is read.
    const std::size_t size = pixelCount() * static_cast<std::size_t>(perPixel);
    void* memory = nullptr;
    if (size >= kHugePage) {
        // Whole-image buffers of photos take thousands of page faults and TLB misses (a turn by 90
        // degrees writes across all rows); huge pages remove most of that cost where the kernel allows.
        memory = std::aligned_alloc(kHugePage, (size + kHugePage - 1) / kHugePage * kHugePage);
        if (memory)
            madvise(memory, size, MADV_HUGEPAGE);
    } else {
        memory = std::malloc(size > 0 ? size : 1);
    }
    if (!memory)
        throw std::bad_alloc();
    pixels_.reset(static_cast<std::uint8_t*>(memory));
}

void BufferedImage::FreeDeleter::operator()(std::uint8_t* p) const
{
    std::free(p);
}

const std::uint8_t* BufferedImage::nextRow()
{
    if (nextRow_ >= info_.height)
        throw Error("internal error: read past the last row");
    return row(nextRow_++);
}

void checkDimensions(long long width, long long height, const char* format)
{
    if (width <= 0 || height <= 0)
        throw Error(std::string("invalid ") + format + " dimensions");
    if (width > kMaxJpegSide || height > kMaxJpegSide || width * height > maxPixels)
        throw Error(std::string(format) + " image is too large (" + std::to_string(width) + "x" +
                    std::to_string(height) + ")");
}

void limitPixels(long long limit)
{
    if (limit > 0 && limit < maxPixels)
        maxPixels = limit;
}

void compositeOnWhite(const std::uint8_t* src, std::uint8_t* dst, std::size_t pixels, int channelsWithAlpha)
{
    const int colours = channelsWithAlpha - 1;
    for (std::size_t i = 0; i < pixels; ++i) {
        const unsigned alpha = src[colours];
        for (int c = 0; c < colours; ++c)
            dst[c] = overWhite(src[c], alpha);
        src += channelsWithAlpha;
        dst += colours;
    }
}

void applyGamma(std::uint8_t* pixels, std::size_t count, int channels, double fileGamma)
{
    const double exponent = 1.0 / (fileGamma * 2.2);
    std::uint8_t table[256];
    for (int v = 0; v < 256; ++v)
        table[v] = static_cast<std::uint8_t>(std::lround(255.0 * std::pow(v / 255.0, exponent)));
    const int colours = hasAlpha(channels) ? channels - 1 : channels;
    for (std::size_t i = 0; i < count; ++i, pixels += channels)
        for (int c = 0; c < colours; ++c)
            pixels[c] = table[pixels[c]];
}

bool iccColourSpaceIs(const std::vector<std::uint8_t>& icc, const char* signature)
{
    constexpr std::size_t kColourSpaceOffset = 16; // in the 128-byte profile header
    return icc.size() >= 128 && std::memcmp(icc.data() + kColourSpaceOffset, signature, 4) == 0;
}

std::vector<std::uint8_t> exifPayload(const std::uint8_t* data, std::size_t size)
{
    // Some writers already include the APP1 header; do not double it.
    const bool hasHeader =
        size >= sizeof kExifHeader && std::memcmp(data, kExifHeader, sizeof kExifHeader) == 0;
    std::vector<std::uint8_t> payload(hasHeader ? size : sizeof kExifHeader + size);
    std::uint8_t* out = payload.data();
    if (!hasHeader) {
        std::memcpy(out, kExifHeader, sizeof kExifHeader);
        out += sizeof kExifHeader;
    }
    if (size > 0)
        std::memcpy(out, data, size);
    return payload;
}

} // namespace cjpeg
