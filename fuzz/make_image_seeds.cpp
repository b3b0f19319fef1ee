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

void writeBytesTo(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() || std::fclose(file) != 0)
        fail(path);
}

void writeBytes(const std::string& name, const std::vector<std::uint8_t>& bytes)
{
    writeBytesTo(gFolder + "/" + name, bytes);
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

// An EXIF payload as cJpeg keeps it ("Exif\0\0" and a TIFF structure): IFD0 with orientation 6 and
// pointers to an EXIF directory (pixel width and height) and a GPS directory (latitude and its hemisphere).
std::vector<std::uint8_t> exifPayload(bool bigEndian)
{
    std::vector<std::uint8_t> t;
    auto p16 = [&](unsigned v) {
        const std::uint8_t hi = static_cast<std::uint8_t>(v >> 8), lo = static_cast<std::uint8_t>(v);
        t.push_back(bigEndian ? hi : lo);
        t.push_back(bigEndian ? lo : hi);
    };
    auto p32 = [&](std::uint32_t v) {
        p16(bigEndian ? v >> 16 : v & 0xFFFF);
        p16(bigEndian ? v & 0xFFFF : v >> 16);
    };
    auto entry = [&](unsigned tag, unsigned type, std::uint32_t count, std::uint32_t value, bool shortValue) {
        p16(tag);
        p16(type);
        p32(count);
        if (shortValue) {
            p16(value);
            p16(0);
        } else {
            p32(value);
        }
    };
    const std::uint32_t exifIfd = 50, gpsIfd = 80, latitude = 110;
    t.push_back(bigEndian ? 'M' : 'I');
    t.push_back(bigEndian ? 'M' : 'I');
    p16(42);
    p32(8);
    p16(3); // IFD0
    entry(0x0112, 3, 1, 6, true);
    entry(0x8769, 4, 1, exifIfd, false);
    entry(0x8825, 4, 1, gpsIfd, false);
    p32(0);
    p16(2); // EXIF directory
    entry(0xA002, 4, 1, 4000, false);
    entry(0xA003, 3, 1, 3000, true);
    p32(0);
    p16(2); // GPS directory
    entry(0x0001, 2, 2, 'N' << (bigEndian ? 24 : 0), false);
    entry(0x0002, 5, 3, latitude, false);
    p32(0);
    for (const std::uint32_t value : {48u, 1u, 51u, 1u, 30u, 1u})
        p32(value);
    std::vector<std::uint8_t> payload{'E', 'x', 'i', 'f', 0, 0};
    payload.insert(payload.end(), t.begin(), t.end());
    return payload;
}

// The metadata target's seeds: a first byte that picks the kind (0 EXIF, 1 XMP, 2 IPTC), then the payload.
void writeMetadataSeeds(const std::string& folder)
{
    auto seed = [&folder](const std::string& name, std::uint8_t kind,
                          const std::vector<std::uint8_t>& payload) {
        std::vector<std::uint8_t> bytes{kind};
        bytes.insert(bytes.end(), payload.begin(), payload.end());
        writeBytesTo(folder + "/" + name, bytes);
    };
    seed("exif-big-endian", 0, exifPayload(true));
    seed("exif-little-endian", 3, exifPayload(false));

    const std::string xmp =
        std::string("http://ns.adobe.com/xap/1.0/", 29) +
        "<?xpacket begin='' id='W5M0MpCehiHzreSzNTczkc9d'?>"
        "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF "
        "xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
        "<rdf:Description rdf:about='' exif:GPSLatitude='48,51.5N'\n photoshop:City=\"Paris\">"
        "<exif:GPSLongitude>2,21.1E</exif:GPSLongitude><photoshop:Country>France"
        "</photoshop:Country><Iptc4xmpCore:Location/><Iptc4xmpExt:LocationShown><rdf:Bag>"
        "<rdf:li Iptc4xmpExt:City='Paris'/></rdf:Bag></Iptc4xmpExt:LocationShown>"
        "<dc:title><rdf:Alt><rdf:li xml:lang='x-default'>A title</rdf:li></rdf:Alt>"
        "</dc:title></rdf:Description></rdf:RDF></x:xmpmeta><?xpacket end='w'?>";
    seed("xmp", 1, std::vector<std::uint8_t>(xmp.begin(), xmp.end()));

    // A Photoshop block: the IPTC datasets (city, country, a keyword, and a caption with an extended
    // length), then the digest that vouches for them.
    std::vector<std::uint8_t> datasets;
    auto dataset = [&](std::uint8_t number, const std::string& text, bool extended) {
        datasets.insert(datasets.end(), {0x1C, 2, number});
        if (extended) {
            datasets.insert(datasets.end(), {0x80, 0x02});
            datasets.push_back(0);
        }
        datasets.push_back(static_cast<std::uint8_t>(text.size() >> 8));
        datasets.push_back(static_cast<std::uint8_t>(text.size()));
        datasets.insert(datasets.end(), text.begin(), text.end());
    };
    dataset(90, "Paris", false);
    dataset(101, "France", false);
    dataset(25, "bridge", false);
    dataset(120, "A caption", true);
    std::vector<std::uint8_t> iptc{'P', 'h', 'o', 't', 'o', 's', 'h', 'o', 'p', ' ', '3', '.', '0', 0};
    auto resource = [&](unsigned id, const std::vector<std::uint8_t>& data) {
        iptc.insert(iptc.end(), {'8', 'B', 'I', 'M', static_cast<std::uint8_t>(id >> 8),
                                 static_cast<std::uint8_t>(id), 0, 0});
        for (int shift = 24; shift >= 0; shift -= 8)
            iptc.push_back(static_cast<std::uint8_t>(data.size() >> shift));
        iptc.insert(iptc.end(), data.begin(), data.end());
        if (data.size() & 1)
            iptc.push_back(0);
    };
    resource(0x0404, datasets);
    resource(0x0425, std::vector<std::uint8_t>(16, 0xAB));
    seed("iptc", 2, iptc);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_image_seeds READERS_FOLDER METADATA_FOLDER\n");
        return 2;
    }
    gFolder = argv[1];
    writeMetadataSeeds(argv[2]);

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
