// cJpeg: converts JPEG, PNG, BMP, PPM/PGM, GIF, TIFF or WebP images into an optimised JPEG.

#include "Error.h"
#include "JpegWriter.h"
#include "Options.h"
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

void convert(const cjpeg::Options& options)
{
    auto reader = cjpeg::openImage(options.input);
    // JPEG has no alpha: transparent areas are shown over white, as on a page.
    cjpeg::ImageInfo info = reader->info();
    const bool alpha = cjpeg::hasAlpha(info.channels);
    const int channelsWithAlpha = info.channels;
    if (alpha)
        --info.channels;
    std::vector<std::uint8_t> flat(alpha ? static_cast<std::size_t>(info.width) * info.channels : 0);
    cjpeg::OutputFile output(options.output);
    cjpeg::JpegWriter writer(output.stream(), info, reader->metadata(),
                             cjpeg::EncodeSettings{options.quality, options.progressive});
    for (int y = 0; y < info.height; ++y) {
        const std::uint8_t* row = reader->nextRow();
        if (alpha) {
            cjpeg::compositeOnWhite(row, flat.data(), static_cast<std::size_t>(info.width),
                                    channelsWithAlpha);
            row = flat.data();
        }
        writer.writeRow(row);
    }
    reader->finish();
    writer.finish();
    output.commit();
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
                     "[-progressive|-sequential] [-optimize] IN; output is progressive unless -sequential, "
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
