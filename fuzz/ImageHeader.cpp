#include "ImageHeader.h"

#include <webp/decode.h>

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace {

std::uint32_t be32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

std::uint32_t le32(const std::uint8_t* p)
{
    return std::uint32_t(p[3]) << 24 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[1]) << 8 | p[0];
}

unsigned le16(const std::uint8_t* p)
{
    return unsigned(p[1]) << 8 | p[0];
}

bool sizeIs(const cjpeg::ImageInfo& info, long long width, long long height)
{
    return info.width == width && info.height == height;
}

bool bmpAgrees(const std::uint8_t* data, std::size_t size, const cjpeg::ImageInfo& info)
{
    if (size < 26)
        return false;
    if (le32(data + 14) == 12)
        return sizeIs(info, le16(data + 18), le16(data + 20));
    return sizeIs(info, static_cast<std::int32_t>(le32(data + 18)),
                  std::llabs(static_cast<std::int32_t>(le32(data + 22))));
}

// The width and height after "P5"/"P6", comments and whitespace skipped.
bool pnmAgrees(const std::uint8_t* data, std::size_t size, const cjpeg::ImageInfo& info)
{
    std::size_t at = 2;
    long long numbers[2] = {};
    for (long long& number : numbers) {
        while (at < size && (std::isspace(data[at]) || data[at] == '#')) {
            if (data[at] == '#')
                while (at < size && data[at] != '\n' && data[at] != '\r')
                    ++at;
            else
                ++at;
        }
        while (at < size && std::isdigit(data[at]) && number < 100000000)
            number = number * 10 + (data[at++] - '0');
    }
    return sizeIs(info, numbers[0], numbers[1]) && info.channels == (data[1] == '5' ? 1 : 3);
}

} // namespace

bool headerAgrees(cjpeg::ImageFormat format, const std::uint8_t* data, std::size_t size,
                  const cjpeg::ImageInfo& info)
{
    switch (format) {
    case cjpeg::ImageFormat::Png:
        return size >= 24 && sizeIs(info, be32(data + 16), be32(data + 20));
    case cjpeg::ImageFormat::Bmp:
        return bmpAgrees(data, size, info);
    case cjpeg::ImageFormat::Pnm:
        return pnmAgrees(data, size, info);
    case cjpeg::ImageFormat::Gif:
        // The canvas is the logical screen, widened when the first frame reaches beyond it.
        return size >= 10 && info.width >= static_cast<int>(le16(data + 6)) &&
               info.height >= static_cast<int>(le16(data + 8));
    case cjpeg::ImageFormat::Webp: {
        WebPBitstreamFeatures features;
        if (WebPGetFeatures(data, size, &features) != VP8_STATUS_OK)
            return true; // only the demuxer reads this one
        return sizeIs(info, features.width, features.height);
    }
    case cjpeg::ImageFormat::Jpeg:
    case cjpeg::ImageFormat::Tiff:
        return true;
    }
    return false;
}
