// cImage: prepares images for pngquant and ffmpeg and puts the source's metadata back afterwards.
//   cImage -prepare png|webp -outdir DIR [-maxsize WxH] IN
//   cImage -finish png|webp -from IN [-strip gps|all] OUT

#include "Resampler.h"
#include "Tasks.h"

#include <cstdio>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include <png.h>
#include <webp/encode.h>

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// The parsed command line.
struct Command
{
    bool prepare = false;
    cimage::Target target = cimage::Target::Png;
    std::string directory; // -outdir for prepare
    std::string source;    // -from for finish
    int maxWidth = 0;      // -maxsize for prepare
    int maxHeight = 0;
    bool boxed = false;
    cjpeg::StripPolicy strip = cjpeg::StripPolicy::None; // -strip for finish
    std::vector<std::string> files;
};

bool parse(const std::vector<std::string>& args, Command& command)
{
    bool haveMode = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if ((arg == "-prepare" || arg == "-finish") && hasValue && !haveMode) {
            command.prepare = arg == "-prepare";
            const std::string& target = args[++i];
            if (target != "png" && target != "webp")
                return false;
            command.target = target == "png" ? cimage::Target::Png : cimage::Target::Webp;
            haveMode = true;
        } else if (arg == "-outdir" && hasValue) {
            command.directory = args[++i];
        } else if (arg == "-from" && hasValue) {
            command.source = args[++i];
        } else if (arg == "-maxsize" && hasValue) {
            if (!cjpeg::parseBox(args[++i], command.maxWidth, command.maxHeight))
                return false;
            command.boxed = true;
        } else if (arg == "-strip" && hasValue) {
            if (!cjpeg::parseStripPolicy(args[++i], command.strip))
                return false;
        } else if (!arg.empty() && arg[0] == '-') {
            return false;
        } else {
            command.files.push_back(arg);
        }
    }
    if (!haveMode || command.files.size() != 1)
        return false;
    return command.prepare ? !command.directory.empty() && command.source.empty() &&
                                 command.strip == cjpeg::StripPolicy::None
                           : !command.source.empty() && command.directory.empty() && !command.boxed;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && std::string(argv[1]) == "-version") {
        std::printf("cImage %s (libpng %s, libwebp %d.%d.%d)\n", NEROVA_VERSION, PNG_LIBPNG_VER_STRING,
                    WebPGetEncoderVersion() >> 16, (WebPGetEncoderVersion() >> 8) & 0xff,
                    WebPGetEncoderVersion() & 0xff);
        return 0;
    }
    Command command;
    if (!parse(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc), command)) {
        std::fprintf(stderr, "cImage: usage: cImage -prepare png|webp -outdir DIR [-maxsize WxH] IN | "
                             "cImage -finish png|webp -from IN [-strip gps|all] OUT\n");
        return kExitUsage;
    }
    const std::string& subject = command.prepare ? command.files[0] : command.source;
    try {
        if (command.prepare)
            cimage::prepare(command.target, command.files[0], command.directory, command.maxWidth,
                            command.maxHeight);
        else
            cimage::finish(command.target, command.source, command.files[0], command.strip);
        return std::fflush(stdout) == 0 ? 0 : kExitFailed;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "cImage: %s: out of memory\n", subject.c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "cImage: %s: %s\n", subject.c_str(), e.what());
    } catch (...) {
        std::fprintf(stderr, "cImage: %s: unexpected failure\n", subject.c_str());
    }
    return kExitFailed;
}
