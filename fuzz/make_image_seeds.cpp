// Writes the small images of the kinds ffmpeg cannot make into a folder, for the readers fuzz target:
// CMYK and Lab TIFFs, tiled TIFF, RLE and OS/2 BMPs, a PGM with comments, and progressive, arithmetic-coded
// and CMYK JPEGs with metadata markers.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <tiffio.h>

namespace {

constexpr int kWidth = 13;
constexpr int kHeight = 7;

std::string gFolder;

[[noreturn]] void fail(const std::string& what)
{
    std::fprintf(stderr, "make_image_seeds: cannot write %s\n", what.c_str());
    std::exit(1);
}

void writeBytes(const std::string& name, const std::vector<std::uint8_t>& bytes)
{
    std::FILE* file = std::fopen((gFolder + "/" + name).c_str(), "wb");
    if (!file || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() || std::fclose(file) != 0)
        fail(name);
}

// A pattern sample for channel c of pixel (x, y).
std::uint8_t sample(int x, int y, int c)
{
    return static_cast<std::uint8_t>(x * 19 + y * 31 + c * 67);
}

void writeTiff(const std::string& name, std::uint16_t photometric, std::uint16_t samples, std::uint16_t bits,
               bool tiled = false, bool alpha = false)
{
    TIFF* tiff = TIFFOpen((gFolder + "/" + name).c_str(), "w");
    if (!tiff)
        fail(name);
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, kWidth);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, kHeight);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, bits);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, photometric);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    if (photometric == PHOTOMETRIC_SEPARATED)
        TIFFSetField(tiff, TIFFTAG_INKSET, INKSET_CMYK);
    if (alpha) {
        const std::uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};
        TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, extra);
    }
    const std::size_t rowBytes = static_cast<std::size_t>(kWidth) * samples * bits / 8;
    std::vector<std::uint8_t> image(rowBytes * kHeight);
    for (int y = 0; y < kHeight; ++y)
        for (std::size_t i = 0; i < rowBytes; ++i)
            image[y * rowBytes + i] = sample(static_cast<int>(i), y, 0);
    if (tiled) {
        TIFFSetField(tiff, TIFFTAG_TILEWIDTH, 16);
        TIFFSetField(tiff, TIFFTAG_TILELENGTH, 16);
        const std::size_t tileRow = 16 * rowBytes / kWidth;
        std::vector<std::uint8_t> tile(tileRow * 16, 0);
        for (int y = 0; y < kHeight; ++y)
            std::copy(image.begin() + y * rowBytes, image.begin() + (y + 1) * rowBytes,
                      tile.begin() + y * tileRow);
        if (TIFFWriteTile(tiff, tile.data(), 0, 0, 0, 0) < 0)
            fail(name);
    } else {
        TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 4);
        for (int y = 0; y < kHeight; ++y)
            if (TIFFWriteScanline(tiff, image.data() + y * rowBytes, static_cast<std::uint32_t>(y), 0) < 0)
                fail(name);
    }
    TIFFClose(tiff);
}

void put16(std::vector<std::uint8_t>& out, unsigned v)
{
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

// A BMP with a 40-byte header (12 for OS/2), a 16-entry palette and the given pixel data.
void writeBmp(const std::string& name, int bits, std::uint32_t compression,
              const std::vector<std::uint8_t>& pixels, bool os2 = false)
{
    const std::uint32_t headerSize = os2 ? 12 : 40;
    const std::uint32_t colours = 1u << bits;
    const std::uint32_t paletteSize = colours * (os2 ? 3 : 4);
    const std::uint32_t offset = 14 + headerSize + paletteSize;
    std::vector<std::uint8_t> out{'B', 'M'};
    put32(out, offset + static_cast<std::uint32_t>(pixels.size()));
    put32(out, 0);
    put32(out, offset);
    put32(out, headerSize);
    if (os2) {
        put16(out, kWidth);
        put16(out, kHeight);
        put16(out, 1);
        put16(out, bits);
    } else {
        put32(out, kWidth);
        put32(out, kHeight);
        put16(out, 1);
        put16(out, bits);
        put32(out, compression);
        put32(out, static_cast<std::uint32_t>(pixels.size()));
        put32(out, 2835);
        put32(out, 2835);
        put32(out, colours);
        put32(out, 0);
    }
    for (std::uint32_t i = 0; i < colours; ++i) {
        out.push_back(sample(static_cast<int>(i), 0, 0));
        out.push_back(sample(static_cast<int>(i), 0, 1));
        out.push_back(sample(static_cast<int>(i), 0, 2));
        if (!os2)
            out.push_back(0);
    }
    out.insert(out.end(), pixels.begin(), pixels.end());
    writeBytes(name, out);
}

// RLE8 or RLE4 rows: runs, an absolute run, a delta and the end-of-line and end-of-bitmap codes.
std::vector<std::uint8_t> rlePixels(bool rle4)
{
    std::vector<std::uint8_t> d;
    for (int y = 0; y < kHeight; ++y) {
        if (y == 3) {
            const std::uint8_t delta[] = {0, 2, 4, 1}; // skip 4 right and one row up
            d.insert(d.end(), delta, delta + 4);
            continue;
        }
        d.push_back(5);
        d.push_back(rle4 ? 0x12 : static_cast<std::uint8_t>(y + 1));
        // Four literal pixels: two bytes of nibbles in RLE4, four bytes in RLE8 (both word-aligned).
        const std::uint8_t absolute[] = {0, 4, 0x34, 0x56, 0x78, 0x9A};
        d.insert(d.end(), absolute, absolute + (rle4 ? 4 : 6));
        d.push_back(4);
        d.push_back(rle4 ? 0xAB : 9);
        d.push_back(0);
        d.push_back(0);
    }
    d.push_back(0);
    d.push_back(1);
    return d;
}

void writeJpeg(const std::string& name, J_COLOR_SPACE space, int components, bool progressive,
               bool arithmetic)
{
    std::FILE* file = std::fopen((gFolder + "/" + name).c_str(), "wb");
    if (!file)
        fail(name);
    jpeg_compress_struct cinfo;
    jpeg_error_mgr errors;
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, file);
    cinfo.image_width = kWidth;
    cinfo.image_height = kHeight;
    cinfo.input_components = components;
    cinfo.in_color_space = space;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 80, TRUE);
    if (progressive)
        jpeg_simple_progression(&cinfo);
    cinfo.arith_code = arithmetic ? TRUE : FALSE;
    jpeg_start_compress(&cinfo, TRUE);
    // EXIF with orientation 6 (big-endian TIFF), a comment and a tiny ICC header-only profile.
    const std::uint8_t exif[] = {'E',  'x',  'i', 'f', 0, 0, 'M', 'M', 0, 42, 0, 0, 0, 8, 0, 1,
                                 0x01, 0x12, 0,   3,   0, 0, 0,   1,   0, 6,  0, 0, 0, 0, 0, 0};
    jpeg_write_marker(&cinfo, JPEG_APP0 + 1, exif, sizeof exif);
    const char comment[] = "seed";
    jpeg_write_marker(&cinfo, JPEG_COM, reinterpret_cast<const JOCTET*>(comment), sizeof comment - 1);
    std::vector<std::uint8_t> icc(128, 0);
    icc[3] = 128;
    const char* colourSpace = space == JCS_CMYK ? "CMYK" : components == 1 ? "GRAY" : "RGB ";
    std::copy(colourSpace, colourSpace + 4, icc.begin() + 16);
    const std::string signature = "acsp";
    std::copy(signature.begin(), signature.end(), icc.begin() + 36);
    jpeg_write_icc_profile(&cinfo, icc.data(), static_cast<unsigned>(icc.size()));
    std::vector<JSAMPLE> row(static_cast<std::size_t>(kWidth) * components);
    while (cinfo.next_scanline < cinfo.image_height) {
        for (int x = 0; x < kWidth; ++x)
            for (int c = 0; c < components; ++c)
                row[x * components + c] = sample(x, static_cast<int>(cinfo.next_scanline), c);
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    if (std::fclose(file) != 0)
        fail(name);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_image_seeds FOLDER\n");
        return 2;
    }
    gFolder = argv[1];

    writeTiff("cmyk.tif", PHOTOMETRIC_SEPARATED, 4, 8);
    writeTiff("cmyk16.tif", PHOTOMETRIC_SEPARATED, 4, 16);
    writeTiff("lab.tif", PHOTOMETRIC_CIELAB, 3, 8);
    writeTiff("lab16.tif", PHOTOMETRIC_CIELAB, 3, 16);
    writeTiff("icclab-alpha.tif", PHOTOMETRIC_ICCLAB, 4, 8, false, true);
    writeTiff("tiled.tif", PHOTOMETRIC_RGB, 3, 8, true);

    writeBmp("rle8.bmp", 8, 1, rlePixels(false));
    writeBmp("rle4.bmp", 4, 2, rlePixels(true));
    std::vector<std::uint8_t> rows;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < 16; ++x) // 13 pixels of 8 bits padded to 16 bytes
            rows.push_back(static_cast<std::uint8_t>(x < kWidth ? sample(x, y, 0) : 0));
    writeBmp("os2.bmp", 8, 0, rows, true);

    std::string pgm = "P5\n# a comment\n13 7\n# another\n255\n";
    for (int i = 0; i < kWidth * kHeight; ++i)
        pgm.push_back(static_cast<char>(sample(i, 0, 0)));
    writeBytes("comments.pgm", std::vector<std::uint8_t>(pgm.begin(), pgm.end()));

    writeJpeg("progressive.jpg", JCS_RGB, 3, true, false);
    writeJpeg("arithmetic.jpg", JCS_RGB, 3, false, true);
    writeJpeg("cmyk.jpg", JCS_CMYK, 4, false, false);
    writeJpeg("gray-progressive.jpg", JCS_GRAYSCALE, 1, true, false);
    return 0;
}
