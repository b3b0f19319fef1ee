// cJpeg: converts JPEG, PNG, BMP, PPM/PGM, GIF, TIFF or WebP images into an optimised JPEG.

#include "Error.h"
#include "FittedImage.h"
#include "JpegWriter.h"
#include "MetadataPolicy.h"
#include "Options.h"
#include "Orientation.h"
#include "OutputFile.h"
#include "Readers.h"
#include "TargetEncoder.h"

#include <cstdio>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include <jpeglib.h>

namespace {

constexpr int kExitUnreadable = 1;
constexpr int kExitUsage = 2;

// Encodes every row `pixels` still has into the output, with the given metadata.
void encode(cjpeg::ImageReader& pixels, const cjpeg::Metadata& metadata, const cjpeg::Options& options)
{
    cjpeg::OutputFile output(options.output);
    cjpeg::JpegWriter writer(output.stream(), cjpeg::opaqueInfo(pixels.info()), metadata,
                             cjpeg::EncodeSettings{options.quality, options.progressive});
    cjpeg::feedOpaqueRows(pixels, [&](const std::uint8_t* row) { writer.writeRow(row); });
    writer.finish();
    output.commit();
}

// The picture as it is to be written: upright and fitted into the box when asked, with the metadata the
// strip policy keeps.
struct Prepared
{
    std::unique_ptr<cjpeg::ImageReader> pixels;
    cjpeg::Metadata metadata;
    cjpeg::PixelSize resized;
};

Prepared prepare(const cjpeg::Options& options)
{
    Prepared prepared;
    auto reader = cjpeg::openImage(options.input);
    prepared.metadata = reader->metadata();
    const int orientation = cjpeg::exifOrientation(prepared.metadata.exif);
    cjpeg::applyStripPolicy(prepared.metadata, options.strip);
    const bool boxed = options.maxWidth > 0 || options.maxHeight > 0;
    // Without EXIF nothing would turn the picture upright any more, so its pixels must be turned.
    const bool turn = orientation != 1 && options.strip == cjpeg::StripPolicy::All;
    if (!boxed && !turn) {
        prepared.pixels = std::move(reader);
        return prepared;
    }
    // A resize works on the picture as it is seen, so a turned photo fits the box the way it shows.
    auto image = cjpeg::readUprightFitted(*reader, orientation, options.maxWidth, options.maxHeight,
                                          &prepared.resized);
    reader.reset();
    // The stored pixels are now upright and maybe smaller; the EXIF must say so.
    if (orientation != 1)
        cjpeg::setExifOrientation(prepared.metadata.exif, 1);
    cjpeg::setExifPixelSize(prepared.metadata.exif, image->info().width, image->info().height);
    prepared.pixels = std::move(image);
    return prepared;
}

// The caller learns that the picture was made smaller than its source.
void reportResize(const Prepared& prepared)
{
    if (prepared.resized.width > 0)
        std::printf("resized=%dx%d\n", prepared.resized.width, prepared.resized.height);
}

void convert(const cjpeg::Options& options)
{
    Prepared prepared = prepare(options);
    encode(*prepared.pixels, prepared.metadata, options);
    reportResize(prepared);
}

// Writes the chosen result and tells the caller on standard output, one "key=value" a line, which
// quality it has, whether it fits and how many encodes the search took.
void convertToTarget(const cjpeg::Options& options)
{
    Prepared prepared = prepare(options);
    const cjpeg::ImageInfo info = prepared.pixels->info();
    // The search reads the picture once per chroma layout (or per try for a huge one): the first read
    // takes the picture already prepared, later ones prepare it again.
    auto pending = std::make_shared<std::unique_ptr<cjpeg::ImageReader>>(std::move(prepared.pixels));
    cjpeg::TargetEncoder encoder(
        [&options, pending]() -> std::unique_ptr<cjpeg::ImageReader> {
            if (*pending)
                return std::move(*pending);
            return prepare(options).pixels;
        },
        info, prepared.metadata, options.quality, options.targetSize, options.progressive);
    encoder.run();
    const std::vector<std::uint8_t>& bytes = encoder.result();
    cjpeg::OutputFile output(options.output);
    if (std::fwrite(bytes.data(), 1, bytes.size(), output.stream()) != bytes.size())
        throw cjpeg::Error("cannot write the output");
    output.commit();
    std::printf("quality=%d\nfits=%d\nencodes=%d\n", encoder.quality(), encoder.fits() ? 1 : 0,
                encoder.encodes());
    reportResize(prepared);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && std::string(argv[1]) == "-version") {
        std::printf("cJpeg %s (libjpeg-turbo, JPEG library version %d)\n", NEROVA_VERSION, JPEG_LIB_VERSION);
        return 0;
    }
    cjpeg::Options options;
    try {
        options = cjpeg::parseOptions(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
    } catch (const cjpeg::UsageError& e) {
        std::fprintf(
            stderr,
            "cJpeg: %s (usage: cJpeg -outfile OUT [-quality 0..100] [-baseline] "
            "[-progressive|-sequential] [-optimize] [-maxsize WxH] [-strip gps|all] "
            "[-targetsize BYTES] IN; output is progressive unless -sequential, -baseline keeps 8-bit "
            "quantisation tables, which are always used; -targetsize takes the highest quality up to "
            "-quality whose file fits, printing quality=, fits= and encodes= lines)\n",
            e.what());
        return kExitUsage;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "cJpeg: %s\n", e.what());
        return kExitUsage;
    }

    try {
        if (options.targetSize > 0)
            convertToTarget(options);
        else
            convert(options);
        return 0;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "cJpeg: %s: out of memory\n", options.input.c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "cJpeg: %s: %s\n", options.input.c_str(), e.what());
    } catch (...) {
        std::fprintf(stderr, "cJpeg: %s: unexpected failure\n", options.input.c_str());
    }
    return kExitUnreadable;
}
