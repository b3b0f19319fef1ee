#include "Orientation.h"

#include "TiffView.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace cjpeg {

namespace {

constexpr std::uint16_t kOrientationTag = 0x0112;
constexpr std::uint16_t kShortType = 3;

// Locates the value of IFD0's orientation entry (an offset into the TIFF structure); 0 when there is
// none. Entries are taken one at a time, so a directory cut short after that entry still gives it.
std::size_t orientationValueOffset(const TiffView& tiff)
{
    if (!tiff.valid())
        return 0;
    const std::size_t ifd = tiff.u32(4);
    if (ifd < 8 || !tiff.holds(ifd, 2))
        return 0;
    const std::size_t entries = tiff.u16(ifd);
    for (std::size_t i = 0; i < entries; ++i) {
        const std::size_t entry = ifd + 2 + TiffView::kEntrySize * i;
        if (!tiff.holds(entry, TiffView::kEntrySize))
            return 0;
        if (tiff.u16(entry) == kOrientationTag && tiff.u16(entry + 2) == kShortType &&
            tiff.u32(entry + 4) >= 1)
            return entry + 8;
    }
    return 0;
}

} // namespace

int exifOrientation(const std::vector<std::uint8_t>& exif)
{
    const TiffView tiff(exif);
    const std::size_t at = orientationValueOffset(tiff);
    if (at == 0)
        return 1;
    const int value = tiff.u16(at);
    return value >= 1 && value <= 8 ? value : 1;
}

bool setExifOrientation(std::vector<std::uint8_t>& exif, int orientation)
{
    TiffView tiff(exif);
    const std::size_t at = orientationValueOffset(tiff);
    if (at == 0)
        return false;
    tiff.put16(at, static_cast<std::uint16_t>(orientation));
    return true;
}

namespace {

// How many source rows are gathered before they are placed: enough that a turn by 90 degrees writes
// runs of output pixels, few enough that the band stays in the cache.
constexpr int kBandRows = 64;

// Places a band of source rows [firstRow, firstRow + rows) at their turned positions in `out`.
template <int Channels>
void placeBand(const std::uint8_t* band, int firstRow, int rows, int width, int height, BufferedImage& out,
               bool transpose, bool flipX, bool flipY)
{
    const std::size_t bandStride = static_cast<std::size_t>(width) * Channels;
    if (!transpose) {
        for (int r = 0; r < rows; ++r) {
            const int sy = firstRow + r;
            const std::uint8_t* src = band + bandStride * r;
            std::uint8_t* dst = out.row(flipY ? height - 1 - sy : sy);
            if (!flipX) {
                std::memcpy(dst, src, bandStride);
                continue;
            }
            for (int x = width - 1; x >= 0; --x, src += Channels)
                std::memcpy(dst + static_cast<std::size_t>(x) * Channels, src, Channels);
        }
        return;
    }
    // Source column sx becomes output row y; source row sy becomes output column x.
    for (int sx = 0; sx < width; ++sx) {
        std::uint8_t* dstRow = out.row(flipX ? width - 1 - sx : sx);
        const std::uint8_t* src = band + static_cast<std::size_t>(sx) * Channels;
        for (int r = 0; r < rows; ++r, src += bandStride) {
            const int sy = firstRow + r;
            std::memcpy(dstRow + static_cast<std::size_t>(flipY ? height - 1 - sy : sy) * Channels, src,
                        Channels);
        }
    }
}

} // namespace

std::unique_ptr<BufferedImage> readOriented(ImageReader& reader, int orientation)
{
    const ImageInfo& in = reader.info();
    const bool valid = orientation >= 1 && orientation <= 8;
    const bool transpose = valid && orientation >= 5;
    // Which source axes run backwards, for each orientation 1-8.
    static const bool kFlipX[9] = {false, false, true, true, false, false, false, true, true};
    static const bool kFlipY[9] = {false, false, false, true, true, false, true, true, false};
    const bool flipX = valid && kFlipX[orientation];
    const bool flipY = valid && kFlipY[orientation];
    auto out = std::make_unique<BufferedImage>(transpose ? in.height : in.width,
                                               transpose ? in.width : in.height, in.channels);
    if (in.unusualCoding)
        out->setUnusualCoding();
    const std::size_t stride = static_cast<std::size_t>(in.width) * in.channels;
    std::vector<std::uint8_t> band(stride * kBandRows);
    for (int first = 0; first < in.height; first += kBandRows) {
        const int rows = std::min(kBandRows, in.height - first);
        for (int r = 0; r < rows; ++r)
            std::memcpy(band.data() + stride * r, reader.nextRow(), stride);
        const auto place = in.channels == 1   ? placeBand<1>
                           : in.channels == 2 ? placeBand<2>
                           : in.channels == 3 ? placeBand<3>
                                              : placeBand<4>;
        place(band.data(), first, rows, in.width, in.height, *out, transpose, flipX, flipY);
    }
    reader.finish();
    out->setMetadata(reader.metadata());
    return out;
}

} // namespace cjpeg
