#include "Error.h"
#include "Readers.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include <tiffio.h>

namespace cjpeg {

namespace {

// libtiff reports problems through global handlers; keep the last one for the error message.
char lastTiffError[256] = "damaged TIFF";

void onTiffError(const char*, const char* format, va_list args)
{
    std::vsnprintf(lastTiffError, sizeof lastTiffError, format, args);
}

void onTiffWarning(const char*, const char*, va_list) {}

// Closes a libtiff handle.
struct TiffCloser
{
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

[[noreturn]] void fail()
{
    throw Error(std::string("damaged TIFF: ") + lastTiffError);
}

} // namespace

// Decodes the first TIFF directory through libtiff's RGBA interface, which covers every photometric.
std::unique_ptr<ImageReader> readTiff(const std::string& path)
{
    TIFFSetErrorHandler(onTiffError);
    TIFFSetWarningHandler(onTiffWarning);
    TiffPtr tiff(TIFFOpen(path.c_str(), "r"));
    if (!tiff)
        fail();
    char why[1024] = {};
    if (!TIFFRGBAImageOK(tiff.get(), why))
        throw Error(std::string("unsupported TIFF: ") + why);

    std::uint32_t width = 0, height = 0;
    TIFFGetField(tiff.get(), TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tiff.get(), TIFFTAG_IMAGELENGTH, &height);
    checkDimensions(width, height, "TIFF");
    std::uint16_t photometric = PHOTOMETRIC_RGB, samples = 1, extraSamples = 0;
    std::uint16_t* extraTypes = nullptr;
    TIFFGetField(tiff.get(), TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_EXTRASAMPLES, &extraSamples, &extraTypes);
    const bool gray = (photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE) &&
                      samples - extraSamples == 1;

    // The RGBA raster (4 bytes per pixel) is packed down to RGB or gray in the same memory afterwards.
    auto image =
        std::make_unique<BufferedImage>(static_cast<int>(width), static_cast<int>(height), gray ? 1 : 3, 4);
    auto* raster = reinterpret_cast<std::uint32_t*>(image->data());
    if (!TIFFReadRGBAImageOriented(tiff.get(), width, height, raster, ORIENTATION_TOPLEFT, 1))
        fail();

    std::uint8_t* out = image->data();
    const std::size_t pixels = image->pixelCount();
    for (std::size_t i = 0; i < pixels; ++i) {
        std::uint32_t abgr;
        std::memcpy(&abgr, image->data() + 4 * i, sizeof abgr);
        // libtiff hands out premultiplied colour, so blending over white is adding the missing coverage.
        const unsigned cover = 255 - TIFFGetA(abgr);
        const unsigned r = TIFFGetR(abgr) + cover, g = TIFFGetG(abgr) + cover, b = TIFFGetB(abgr) + cover;
        if (gray) {
            *out++ = static_cast<std::uint8_t>(r > 255 ? 255 : r);
        } else {
            *out++ = static_cast<std::uint8_t>(r > 255 ? 255 : r);
            *out++ = static_cast<std::uint8_t>(g > 255 ? 255 : g);
            *out++ = static_cast<std::uint8_t>(b > 255 ? 255 : b);
        }
    }

    Metadata metadata;
    std::uint32_t iccSize = 0;
    void* icc = nullptr;
    if (TIFFGetField(tiff.get(), TIFFTAG_ICCPROFILE, &iccSize, &icc) && icc && iccSize > 0)
        metadata.icc.assign(static_cast<std::uint8_t*>(icc), static_cast<std::uint8_t*>(icc) + iccSize);
    image->setMetadata(std::move(metadata));
    return image;
}

} // namespace cjpeg
