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

namespace {

constexpr int kExitUnreadable = 1;
constexpr int kExitUsage = 2;

void convert(const cjpeg::Options& options)
{
    auto reader = cjpeg::openImage(options.input);
    cjpeg::OutputFile output(options.output);
    cjpeg::JpegWriter writer(output.stream(), reader->info(), reader->metadata(),
                             cjpeg::EncodeSettings{options.quality, options.progressive});
    for (int y = 0; y < reader->info().height; ++y)
        writer.writeRow(reader->nextRow());
    reader->finish();
    writer.finish();
    output.commit();
}

} // namespace

int main(int argc, char** argv)
{
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
