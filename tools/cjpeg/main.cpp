// cJpeg: converts JPEG, PNG, BMP, PPM/PGM, GIF, TIFF or WebP images into an optimised JPEG.

#include "Error.h"
#include "FittedImage.h"
#include "JpegWriter.h"
#include "MetadataPolicy.h"
#include "Options.h"
#include "Orientation.h"
#include "OutputFile.h"
#include "Readers.h"

#include <cstdio>
#include <exception>
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
    // JPEG has no alpha: transparent areas are shown over white, as on a page.
    cjpeg::ImageInfo info = pixels.info();
    const bool alpha = cjpeg::hasAlpha(info.channels);
    const int channelsWithAlpha = info.channels;
    if (alpha)
        --info.channels;
    std::vector<std::uint8_t> flat(alpha ? static_cast<std::size_t>(info.width) * info.channels : 0);
    cjpeg::OutputFile output(options.output);
    cjpeg::JpegWriter writer(output.stream(), info, metadata,
                             cjpeg::EncodeSettings{options.quality, options.progressive});
    for (int y = 0; y < info.height; ++y) {
        const std::uint8_t* row = pixels.nextRow();
        if (alpha) {
            cjpeg::compositeOnWhite(row, flat.data(), static_cast<std::size_t>(info.width),
                                    channelsWithAlpha);
            row = flat.data();
        }
        writer.writeRow(row);
    }
    pixels.finish();
    writer.finish();
    output.commit();
}

void convert(const cjpeg::Options& options)
{
    auto reader = cjpeg::openImage(options.input);
    cjpeg::Metadata metadata = reader->metadata();
    const int orientation = cjpeg::exifOrientation(metadata.exif);
    cjpeg::applyStripPolicy(metadata, options.strip);
    const bool boxed = options.maxWidth > 0 || options.maxHeight > 0;
    // Without EXIF nothing would turn the picture upright any more, so its pixels must be turned.
    const bool turn = orientation != 1 && options.strip == cjpeg::StripPolicy::All;
    if (!boxed && !turn) {
        encode(*reader, metadata, options);
        return;
    }
    // A resize works on the picture as it is seen, so a turned photo fits the box the way it shows.
    cjpeg::PixelSize resized;
    auto image = cjpeg::readUprightFitted(*reader, turn || boxed ? orientation : 1, options.maxWidth,
                                          options.maxHeight, &resized);
    reader.reset();
    // The stored pixels are now upright and maybe smaller; the EXIF must say so.
    if (orientation != 1)
        cjpeg::setExifOrientation(metadata.exif, 1);
    cjpeg::setExifPixelSize(metadata.exif, image->info().width, image->info().height);
    encode(*image, metadata, options);
    // The caller learns that the picture was made smaller than its source.
    if (resized.width > 0)
        std::printf("resized=%dx%d\n", resized.width, resized.height);
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
        std::fprintf(stderr,
                     "cJpeg: %s (usage: cJpeg -outfile OUT [-quality 0..100] [-baseline] "
                     "[-progressive|-sequential] [-optimize] [-maxsize WxH] [-strip gps|all] IN; output is "
                     "progressive unless -sequential, "
                     "-baseline keeps 8-bit quantisation tables, which are always used)\n",
                     e.what());
        return kExitUsage;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "cJpeg: %s\n", e.what());
        return kExitUsage;
    }

    try {
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
