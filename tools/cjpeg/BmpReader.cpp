#include "Error.h"
#include "Readers.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace cjpeg {

namespace {

constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiRle8 = 1;
constexpr std::uint32_t kBiRle4 = 2;
constexpr std::uint32_t kBiBitfields = 3;
constexpr std::uint32_t kBiAlphaBitfields = 6;

std::uint32_t le16(const std::uint8_t* p)
{
    return p[0] | (p[1] << 8);
}
std::uint32_t le32(const std::uint8_t* p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// Extracts one colour channel described by a bit mask and widens it to 8 bits.
class MaskChannel
{
public:
    explicit MaskChannel(std::uint32_t mask = 0) : mask_(mask)
    {
        if (!mask_)
            return;
        while (!((mask_ >> shift_) & 1u))
            ++shift_;
        max_ = mask_ >> shift_;
    }
    bool present() const { return max_ != 0; }
    std::uint8_t operator()(std::uint32_t pixel) const
    {
        if (!max_)
            return 0;
        const std::uint64_t value = (pixel & mask_) >> shift_;
        return static_cast<std::uint8_t>((value * 255 + max_ / 2) / max_);
    }

private:
    std::uint32_t mask_;
    int shift_ = 0;
    std::uint32_t max_ = 0;
};

// The fields of the file and DIB headers that decoding needs.
struct BmpHeader
{
    long long width = 0;
    long long height = 0;
    bool topDown = false;
    int bitsPerPixel = 0;
    std::uint32_t compression = kBiRgb;
    std::uint32_t colorsUsed = 0;
    std::uint32_t pixelOffset = 0;
    std::uint32_t headerSize = 0;
    std::array<std::uint32_t, 4> masks{}; // red, green, blue, alpha
};

BmpHeader readHeader(std::FILE* file)
{
    std::uint8_t fileHeader[14];
    readExact(file, fileHeader, sizeof fileHeader, "BMP header");
    BmpHeader h;
    h.pixelOffset = le32(fileHeader + 10);

    std::uint8_t dib[124] = {};
    readExact(file, dib, 4, "BMP header");
    h.headerSize = le32(dib);
    if (h.headerSize != 12 && (h.headerSize < 40 || h.headerSize > sizeof dib))
        throw Error("unsupported BMP header size " + std::to_string(h.headerSize));
    readExact(file, dib + 4, h.headerSize - 4, "BMP header");

    if (h.headerSize == 12) { // OS/2 1.x
        h.width = le16(dib + 4);
        h.height = le16(dib + 6);
        h.bitsPerPixel = static_cast<int>(le16(dib + 10));
    } else {
        h.width = static_cast<std::int32_t>(le32(dib + 4));
        h.height = static_cast<std::int32_t>(le32(dib + 8));
        h.bitsPerPixel = static_cast<int>(le16(dib + 14));
        h.compression = le32(dib + 16);
        h.colorsUsed = le32(dib + 32);
    }
    h.topDown = h.height < 0;
    h.height = std::llabs(h.height);

    if (h.compression == kBiBitfields || h.compression == kBiAlphaBitfields) {
        if (h.headerSize >= 52) {
            for (int i = 0; i < (h.headerSize >= 56 ? 4 : 3); ++i)
                h.masks[i] = le32(dib + 40 + 4 * i);
        } else {
            // A plain 40-byte header is followed by the masks.
            std::uint8_t masks[16];
            const int count = h.compression == kBiAlphaBitfields ? 4 : 3;
            readExact(file, masks, 4 * count, "BMP colour masks");
            for (int i = 0; i < count; ++i)
                h.masks[i] = le32(masks + 4 * i);
        }
    } else if (h.compression != kBiRgb && h.compression != kBiRle8 && h.compression != kBiRle4) {
        throw Error("unsupported BMP compression " + std::to_string(h.compression));
    }

    // Run-length coding exists only for palette images: deeper pixels have no palette to look indices up in.
    if ((h.compression == kBiRle8 || h.compression == kBiRle4) && h.bitsPerPixel > 8)
        throw Error("unsupported BMP compression for this bit depth");
    switch (h.bitsPerPixel) {
    case 4:
    case 8:
        if (h.compression == (h.bitsPerPixel == 8 ? kBiRle8 : kBiRle4))
            break;
        [[fallthrough]];
    case 1:
    case 24:
        if (h.compression != kBiRgb)
            throw Error("unsupported BMP compression for this bit depth");
        break;
    case 16:
        if (h.compression == kBiRgb)
            h.masks = {0x7C00, 0x03E0, 0x001F, 0};
        break;
    case 32:
        // The fourth byte of plain 32-bit pixels may be alpha or padding; decided after decoding.
        if (h.compression == kBiRgb)
            h.masks = {0xFF0000, 0xFF00, 0xFF, 0xFF000000};
        break;
    default:
        throw Error("unsupported BMP bit depth " + std::to_string(h.bitsPerPixel));
    }
    return h;
}

std::vector<std::array<std::uint8_t, 3>> readPalette(std::FILE* file, const BmpHeader& h)
{
    std::vector<std::array<std::uint8_t, 3>> palette;
    if (h.bitsPerPixel > 8)
        return palette;
    const std::size_t entrySize = h.headerSize == 12 ? 3 : 4;
    std::size_t count = h.colorsUsed ? h.colorsUsed : (1u << h.bitsPerPixel);
    if (count > 256)
        count = 256;
    std::vector<std::uint8_t> raw(count * entrySize);
    readExact(file, raw.data(), raw.size(), "BMP palette");
    palette.resize(256, {0, 0, 0}); // out-of-range indices show black rather than reading past the table
    for (std::size_t i = 0; i < count; ++i)
        palette[i] = {raw[i * entrySize + 2], raw[i * entrySize + 1], raw[i * entrySize]};
    return palette;
}

bool isGrayPalette(const std::vector<std::array<std::uint8_t, 3>>& palette)
{
    if (palette.empty())
        return false;
    for (const auto& c : palette)
        if (c[0] != c[1] || c[1] != c[2])
            return false;
    return true;
}

// Expands RLE8/RLE4 data into one palette index per pixel, rows bottom-up as stored. Pixels the
// escapes skip (delta, early end of line or bitmap) keep index 0, as other decoders leave them.
std::vector<std::uint8_t> expandRle(const std::vector<std::uint8_t>& d, int width, int height, bool rle4)
{
    std::vector<std::uint8_t> indices(static_cast<std::size_t>(width) * height, 0);
    long long x = 0, y = 0;
    auto put = [&](unsigned index) {
        if (x < width && y < height)
            indices[static_cast<std::size_t>(y) * width + static_cast<std::size_t>(x)] =
                static_cast<std::uint8_t>(index);
        ++x;
    };
    std::size_t pos = 0;
    while (pos + 1 < d.size() && y < height) {
        const unsigned count = d[pos], value = d[pos + 1];
        pos += 2;
        if (count > 0) { // a run of one index (RLE4: two alternating indices)
            for (unsigned i = 0; i < count; ++i)
                put(rle4 ? (i % 2 ? value & 0x0F : value >> 4) : value);
        } else if (value == 0) { // end of line
            x = 0;
            ++y;
        } else if (value == 1) { // end of bitmap
            break;
        } else if (value == 2) { // delta: move right and up
            if (pos + 1 >= d.size())
                throw Error("truncated BMP RLE data");
            x += d[pos];
            y += d[pos + 1];
            pos += 2;
        } else { // literal run, padded to a 16-bit boundary
            const std::size_t bytes = rle4 ? (value + 1) / 2 : value;
            if (d.size() - pos < bytes)
                throw Error("truncated BMP RLE data");
            for (unsigned i = 0; i < value; ++i)
                put(rle4 ? (i % 2 ? d[pos + i / 2] & 0x0F : d[pos + i / 2] >> 4) : d[pos + i]);
            pos += bytes + (bytes & 1);
        }
    }
    return indices;
}

} // namespace

// Decodes an uncompressed, RLE or bit-field BMP (1/4/8-bit palette, 16/24/32-bit) into memory.
std::unique_ptr<ImageReader> readBmp(FilePtr owned)
{
    std::FILE* file = owned.get();
    const BmpHeader h = readHeader(file);
    const auto palette = readPalette(file, h);
    checkDimensions(h.width, h.height, "BMP");

    const std::uint64_t stride = ((static_cast<std::uint64_t>(h.width) * h.bitsPerPixel + 31) / 32) * 4;
    if (std::fseek(file, 0, SEEK_SET) != 0 || std::fseek(file, h.pixelOffset, SEEK_SET) != 0)
        throw Error("truncated BMP");
    const int width = static_cast<int>(h.width);
    const int height = static_cast<int>(h.height);
    const bool gray = isGrayPalette(palette);
    auto image = std::make_unique<BufferedImage>(width, height, gray ? 1 : 3);

    if (h.compression == kBiRle8 || h.compression == kBiRle4) {
        std::vector<std::uint8_t> packed(static_cast<std::size_t>(bytesRemaining(file)));
        readExact(file, packed.data(), packed.size(), "BMP RLE data");
        const auto indices = expandRle(packed, width, height, h.compression == kBiRle4);
        for (int r = 0; r < height; ++r) {
            const std::uint8_t* in = indices.data() + static_cast<std::size_t>(r) * width;
            std::uint8_t* out = image->row(h.topDown ? r : height - 1 - r);
            for (int x = 0; x < width; ++x) {
                const auto& c = palette[in[x]];
                out = std::copy(c.begin(), c.begin() + (gray ? 1 : 3), out);
            }
        }
        image->setUnusualCoding();
        return image;
    }
    if (bytesRemaining(file) < stride * h.height)
        throw Error("truncated BMP pixel data");
    const MaskChannel red(h.masks[0]), green(h.masks[1]), blue(h.masks[2]), alpha(h.masks[3]);
    std::vector<std::uint8_t> alphaPlane;
    if (alpha.present())
        alphaPlane.resize(image->pixelCount());
    bool anyAlpha = false;

    std::vector<std::uint8_t> raw(stride);
    for (int r = 0; r < height; ++r) {
        readExact(file, raw.data(), raw.size(), "BMP pixel data");
        const int y = h.topDown ? r : height - 1 - r;
        std::uint8_t* out = image->row(y);
        if (h.bitsPerPixel <= 8) {
            const int bits = h.bitsPerPixel;
            const unsigned valueMask = (1u << bits) - 1;
            for (int x = 0; x < width; ++x) {
                const std::size_t bit = static_cast<std::size_t>(x) * bits;
                const unsigned index = (raw[bit / 8] >> (8 - bits - bit % 8)) & valueMask;
                const auto& c = palette[index];
                if (gray) {
                    *out++ = c[0];
                } else {
                    *out++ = c[0];
                    *out++ = c[1];
                    *out++ = c[2];
                }
            }
        } else if (h.bitsPerPixel == 24) {
            for (int x = 0; x < width; ++x) {
                const std::uint8_t* p = raw.data() + 3 * x;
                *out++ = p[2];
                *out++ = p[1];
                *out++ = p[0];
            }
        } else {
            const int bytes = h.bitsPerPixel / 8;
            std::uint8_t* a =
                alphaPlane.empty() ? nullptr : alphaPlane.data() + static_cast<std::size_t>(y) * width;
            for (int x = 0; x < width; ++x) {
                const std::uint8_t* p = raw.data() + bytes * x;
                const std::uint32_t pixel = bytes == 2 ? le16(p) : le32(p);
                *out++ = red(pixel);
                *out++ = green(pixel);
                *out++ = blue(pixel);
                if (a) {
                    a[x] = alpha(pixel);
                    anyAlpha = anyAlpha || a[x] != 0;
                }
            }
        }
    }

    // An all-zero alpha channel is padding written by tools that ignore alpha, not a transparent image.
    if (!anyAlpha)
        return image;
    auto withAlpha = std::make_unique<BufferedImage>(width, height, 4);
    const std::uint8_t* rgb = image->data();
    std::uint8_t* rgba = withAlpha->data();
    for (std::size_t i = 0; i < alphaPlane.size(); ++i, rgb += 3, rgba += 4) {
        std::memcpy(rgba, rgb, 3);
        rgba[3] = alphaPlane[i];
    }
    withAlpha->setUnusualCoding(); // decoders often take the fourth byte for padding
    return withAlpha;
}

} // namespace cjpeg
