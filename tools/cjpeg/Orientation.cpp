#include "Orientation.h"

#include <cstring>

namespace cjpeg {

namespace {

constexpr std::size_t kTiffStart = 6; // after "Exif\0\0"
constexpr std::uint16_t kOrientationTag = 0x0112;
constexpr std::uint16_t kShortType = 3;

// Locates the value bytes of IFD0's orientation entry; 0 when there is none.
std::size_t orientationValueOffset(const std::vector<std::uint8_t>& exif, bool& bigEndian)
{
    const std::size_t size = exif.size();
    if (size < kTiffStart + 8 || std::memcmp(exif.data(), "Exif\0\0", 6) != 0)
        return 0;
    const std::uint8_t* t = exif.data() + kTiffStart;
    const std::size_t tiffSize = size - kTiffStart;
    bigEndian = t[0] == 'M';
    if (!((t[0] == 'I' && t[1] == 'I') || (t[0] == 'M' && t[1] == 'M')))
        return 0;
    auto u16 = [&](std::size_t at) {
        return static_cast<std::uint16_t>(bigEndian ? t[at] << 8 | t[at + 1] : t[at + 1] << 8 | t[at]);
    };
    auto u32 = [&](std::size_t at) {
        return bigEndian ? std::uint32_t(u16(at)) << 16 | u16(at + 2)
                         : std::uint32_t(u16(at + 2)) << 16 | u16(at);
    };
    if (u16(2) != 42)
        return 0;
    const std::size_t ifd = u32(4);
    if (ifd < 8 || ifd > tiffSize - 2)
        return 0;
    const std::size_t entries = u16(ifd);
    for (std::size_t i = 0; i < entries; ++i) {
        const std::size_t entry = ifd + 2 + 12 * i;
        if (entry > tiffSize - 12)
            return 0;
        if (u16(entry) == kOrientationTag && u16(entry + 2) == kShortType && u32(entry + 4) >= 1)
            return kTiffStart + entry + 8;
    }
    return 0;
}

} // namespace

int exifOrientation(const std::vector<std::uint8_t>& exif)
{
    bool bigEndian = false;
    const std::size_t at = orientationValueOffset(exif, bigEndian);
    if (at == 0)
        return 1;
    const int value = bigEndian ? exif[at] << 8 | exif[at + 1] : exif[at + 1] << 8 | exif[at];
    return value >= 1 && value <= 8 ? value : 1;
}

bool setExifOrientation(std::vector<std::uint8_t>& exif, int orientation)
{
    bool bigEndian = false;
    const std::size_t at = orientationValueOffset(exif, bigEndian);
    if (at == 0)
        return false;
    exif[at + (bigEndian ? 0 : 1)] = 0;
    exif[at + (bigEndian ? 1 : 0)] = static_cast<std::uint8_t>(orientation);
    return true;
}

std::unique_ptr<BufferedImage> applyOrientation(const BufferedImage& image, int orientation)
{
    const ImageInfo& in = image.info();
    const bool transpose = orientation >= 5 && orientation <= 8;
    // Which source axes run backwards, for each orientation 1-8.
    static const bool kFlipX[9] = {false, false, true, true, false, false, false, true, true};
    static const bool kFlipY[9] = {false, false, false, true, true, false, true, true, false};
    const bool flipX = orientation >= 1 && orientation <= 8 && kFlipX[orientation];
    const bool flipY = orientation >= 1 && orientation <= 8 && kFlipY[orientation];
    const int outWidth = transpose ? in.height : in.width;
    const int outHeight = transpose ? in.width : in.height;
    auto out = std::make_unique<BufferedImage>(outWidth, outHeight, in.channels);
    const std::size_t pixelBytes = static_cast<std::size_t>(in.channels);
    for (int y = 0; y < outHeight; ++y) {
        std::uint8_t* dst = out->row(y);
        for (int x = 0; x < outWidth; ++x, dst += pixelBytes) {
            int sx = transpose ? y : x;
            int sy = transpose ? x : y;
            if (flipX)
                sx = in.width - 1 - sx;
            if (flipY)
                sy = in.height - 1 - sy;
            std::memcpy(dst, image.data() + (static_cast<std::size_t>(sy) * in.width + sx) * pixelBytes,
                        pixelBytes);
        }
    }
    out->setMetadata(image.metadata());
    return out;
}

} // namespace cjpeg
