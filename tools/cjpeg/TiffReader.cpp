#include "CieLab.h"
#include "Error.h"
#include "Readers.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

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

Metadata readMetadata(TIFF* tiff)
{
    Metadata metadata;
    std::uint32_t iccSize = 0;
    void* icc = nullptr;
    if (TIFFGetField(tiff, TIFFTAG_ICCPROFILE, &iccSize, &icc) && icc && iccSize > 0)
        metadata.icc.assign(static_cast<std::uint8_t*>(icc), static_cast<std::uint8_t*>(icc) + iccSize);
    std::uint32_t xmpSize = 0;
    void* xmp = nullptr;
    if (TIFFGetField(tiff, TIFFTAG_XMLPACKET, &xmpSize, &xmp) && xmp && xmpSize > 0) {
        const char ns[] = "http://ns.adobe.com/xap/1.0/"; // the JPEG payload keeps its NUL
        metadata.xmp.assign(ns, ns + sizeof ns);
        metadata.xmp.insert(metadata.xmp.end(), static_cast<std::uint8_t*>(xmp),
                            static_cast<std::uint8_t*>(xmp) + xmpSize);
    }
    return metadata;
}

// Whether the directory is CIELab with interleaved 8- or 16-bit samples in strips, which readLab handles.
bool isPlainLab(TIFF* tiff, std::uint16_t photometric, std::uint16_t samples)
{
    std::uint16_t bits = 8, planar = PLANARCONFIG_CONTIG;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
    return (photometric == PHOTOMETRIC_CIELAB || photometric == PHOTOMETRIC_ICCLAB) &&
           (bits == 8 || bits == 16) && planar == PLANARCONFIG_CONTIG && samples >= 3 && !TIFFIsTiled(tiff);
}

// libtiff's RGBA interface maps Lab to RGB without adapting the D50 white to sRGB's D65, which tints
// every colour; this converts each scanline colorimetrically instead.
void readLab(TIFF* tiff, std::uint16_t photometric, std::uint16_t samples, BufferedImage& image)
{
    std::uint16_t bits = 8;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
    const tmsize_t lineSize = TIFFScanlineSize(tiff);
    const std::size_t expected = static_cast<std::size_t>(image.info().width) * samples * (bits / 8);
    if (lineSize <= 0 || static_cast<std::size_t>(lineSize) < expected)
        fail();
    std::vector<std::uint8_t> line(static_cast<std::size_t>(lineSize));
    const LabToSrgb lab;
    const bool icc = photometric == PHOTOMETRIC_ICCLAB; // a and b stored with an offset, not signed
    const int channels = image.info().channels;
    for (int y = 0; y < image.info().height; ++y) {
        if (TIFFReadScanline(tiff, line.data(), static_cast<std::uint32_t>(y), 0) < 0)
            fail();
        std::uint8_t* out = image.row(y);
        for (int x = 0; x < image.info().width; ++x, out += channels) {
            double v[4] = {0, 0, 0, 255};
            for (int c = 0; c < std::min<int>(samples, 4); ++c) {
                const std::size_t at = (static_cast<std::size_t>(x) * samples + c) * (bits / 8);
                std::uint16_t raw = line[at];
                if (bits == 16)
                    std::memcpy(&raw, &line[at], 2); // libtiff delivers native byte order
                const double scale = bits == 16 ? 256.0 : 1.0;
                if (c == 0 || c == 3)
                    v[c] = raw / scale;
                else
                    v[c] =
                        icc ? raw / scale - 128
                            : static_cast<double>(bits == 16 ? std::int16_t(raw) : std::int8_t(raw)) / scale;
            }
            lab.convert(v[0] * 100 / 255, v[1], v[2], out);
            if (channels == 4)
                out[3] = static_cast<std::uint8_t>(v[3]);
        }
    }
}

// libtiff's client I/O over a stdio stream, for streams without a path (bytes in memory).
tmsize_t readStream(thandle_t handle, void* buffer, tmsize_t size)
{
    return static_cast<tmsize_t>(
        std::fread(buffer, 1, static_cast<std::size_t>(size), static_cast<std::FILE*>(handle)));
}

tmsize_t writeStream(thandle_t, void*, tmsize_t)
{
    return -1;
}

toff_t seekStream(thandle_t handle, toff_t offset, int whence)
{
    auto* file = static_cast<std::FILE*>(handle);
    // An offset beyond what a long holds cannot be in the stream; libtiff takes the failure as damage.
    if (offset > static_cast<toff_t>(std::numeric_limits<long>::max()) ||
        std::fseek(file, static_cast<long>(offset), whence) != 0)
        return static_cast<toff_t>(-1);
    return static_cast<toff_t>(std::ftell(file));
}

int closeStream(thandle_t)
{
    return 0; // the stream belongs to the caller
}

toff_t streamSize(thandle_t handle)
{
    auto* file = static_cast<std::FILE*>(handle);
    const long pos = std::ftell(file);
    std::fseek(file, 0, SEEK_END);
    const long end = std::ftell(file);
    std::fseek(file, pos, SEEK_SET);
    return end > 0 ? static_cast<toff_t>(end) : 0;
}

int mapNothing(thandle_t, void**, toff_t*)
{
    return 0;
}

void unmapNothing(thandle_t, void*, toff_t) {}

std::unique_ptr<ImageReader> decode(TiffPtr tiff);

} // namespace

// Decodes the first TIFF directory through libtiff's RGBA interface, which covers every photometric
// (CMYK, CIELab, palette, YCbCr) and bit depth it knows, with alpha when the file has it.
std::unique_ptr<ImageReader> readTiff(const std::string& path)
{
    TIFFSetErrorHandler(onTiffError);
    TIFFSetWarningHandler(onTiffWarning);
    return decode(TiffPtr(TIFFOpen(path.c_str(), "r")));
}

std::unique_ptr<ImageReader> readTiff(FilePtr file)
{
    TIFFSetErrorHandler(onTiffError);
    TIFFSetWarningHandler(onTiffWarning);
    // The whole image is decoded before the stream closes at the end of this call.
    return decode(TiffPtr(TIFFClientOpen("stream", "r", file.get(), readStream, writeStream, seekStream,
                                         closeStream, streamSize, mapNothing, unmapNothing)));
}

namespace {

std::unique_ptr<ImageReader> decode(TiffPtr tiff)
{
    if (!tiff)
        fail();
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
    const bool alpha = extraSamples > 0 && extraTypes &&
                       (extraTypes[0] == EXTRASAMPLE_ASSOCALPHA || extraTypes[0] == EXTRASAMPLE_UNASSALPHA);
    const int channels = (gray ? 1 : 3) + (alpha ? 1 : 0);
    // libtiff's RGBA interface refuses ICC-coded Lab, which readLab converts itself.
    const bool plainLab = isPlainLab(tiff.get(), photometric, samples);
    char why[1024] = {};
    if (!plainLab && !TIFFRGBAImageOK(tiff.get(), why))
        throw Error(std::string("unsupported TIFF: ") + why);

    // The RGBA raster (4 bytes per pixel) is packed down in the same memory afterwards.
    auto image =
        std::make_unique<BufferedImage>(static_cast<int>(width), static_cast<int>(height), channels, 4);
    // Other decoders often get CMYK, Lab, 16-bit or premultiplied TIFFs wrong; this one does not.
    image->setUnusualCoding();
    if (plainLab) {
        readLab(tiff.get(), photometric, samples, *image);
        image->setMetadata(readMetadata(tiff.get()));
        return image;
    }
    auto* raster = reinterpret_cast<std::uint32_t*>(image->data());
    if (!TIFFReadRGBAImageOriented(tiff.get(), width, height, raster, ORIENTATION_TOPLEFT, 1))
        fail();

    std::uint8_t* out = image->data();
    const std::size_t pixels = image->pixelCount();
    for (std::size_t i = 0; i < pixels; ++i) {
        std::uint32_t abgr;
        std::memcpy(&abgr, image->data() + 4 * i, sizeof abgr);
        // libtiff hands out premultiplied colour whatever the file stores; undo it for straight alpha.
        const unsigned a = TIFFGetA(abgr);
        std::uint8_t rgb[3] = {static_cast<std::uint8_t>(TIFFGetR(abgr)),
                               static_cast<std::uint8_t>(TIFFGetG(abgr)),
                               static_cast<std::uint8_t>(TIFFGetB(abgr))};
        if (alpha) {
            for (std::uint8_t& v : rgb)
                v = a == 0 ? 0 : static_cast<std::uint8_t>(std::min(255u, (v * 255u + a / 2) / a));
        }
        *out++ = rgb[0];
        if (!gray) {
            *out++ = rgb[1];
            *out++ = rgb[2];
        }
        if (alpha)
            *out++ = static_cast<std::uint8_t>(a);
    }

    image->setMetadata(readMetadata(tiff.get()));
    return image;
}

} // namespace

} // namespace cjpeg
