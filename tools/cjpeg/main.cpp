// cJpeg: converts JPEG, PNG, BMP, PPM/PGM, GIF, TIFF or WebP images into an optimised JPEG.

#include "Error.h"
#include "JpegWriter.h"
#include "Options.h"
#include "OutputFile.h"
#include "Readers.h"
#include "TargetEncoder.h"

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
    cjpeg::OutputFile output(options.output);
    cjpeg::JpegWriter writer(output.stream(), cjpeg::opaqueInfo(reader->info()), reader->metadata(),
                             cjpeg::EncodeSettings{options.quality, options.progressive});
    cjpeg::feedOpaqueRows(*reader, [&](const std::uint8_t* row) { writer.writeRow(row); });
    writer.finish();
    output.commit();
}

// Writes the chosen result and tells the caller on standard output, one "key=value" a line, which
// quality it has, whether it fits and how many encodes the search took.
void convertToTarget(const cjpeg::Options& options)
{
    cjpeg::TargetEncoder encoder(options.input, options.quality, options.targetSize, options.progressive);
    encoder.run();
    const std::vector<std::uint8_t>& bytes = encoder.result();
    cjpeg::OutputFile output(options.output);
    if (std::fwrite(bytes.data(), 1, bytes.size(), output.stream()) != bytes.size())
        throw cjpeg::Error("cannot write the output");
    output.commit();
    std::printf("quality=%d\nfits=%d\nencodes=%d\n", encoder.quality(), encoder.fits() ? 1 : 0,
                encoder.encodes());
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
            "[-progressive|-sequential] [-optimize] [-targetsize BYTES] IN; output is progressive unless "
            "-sequential, -baseline keeps 8-bit quantisation tables, which are always used; "
            "-targetsize takes the highest quality up to -quality whose file fits, printing "
            "quality=, fits= and encodes= lines)\n",
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
