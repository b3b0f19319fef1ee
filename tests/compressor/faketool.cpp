// A stand-in for cJpeg, pngquant and ffmpeg that misbehaves on request, for faults a real tool cannot show.
// It finds the output, input and quality on each tool's command line and does what the quality (or
// $FAKE_TOOL_BEHAVIOUR, when set) says:
//   exit:N      write a small result, exit with N      nooutput:N  write nothing, exit with N
//   big         write a result larger than the input   empty       write an empty result, exit 0
//   hang        never finish                           crash       abort
//   copy        write a copy of the input, exit 0 (a video result that reads back as the source)
// With $FAKE_TOOL_ARGV set it writes the arguments it received to that file, each followed by a NUL byte,
// and $OMP_NUM_THREADS to that file + ".omp".
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

// A WebP result gets a RIFF header that matches its length, as a complete file has.
void writeBytes(const std::string& path, long count)
{
    std::ofstream out(path, std::ios::binary);
    long written = 0;
    if (path.size() > 5 && path.compare(path.size() - 5, 5, ".webp") == 0 && count > 0) {
        count = std::max(count, 12L);
        out << "RIFF";
        for (int shift = 0; shift < 32; shift += 8)
            out.put(char(((count - 8) >> shift) & 0xff));
        out << "WEBP";
        written = 12;
    }
    for (long i = written; i < count; ++i)
        out.put(char(i & 0x7f));
}

} // namespace

int main(int argc, char* argv[])
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (const char* file = std::getenv("FAKE_TOOL_ARGV"); file && *file) {
        std::ofstream out(file, std::ios::binary);
        for (const std::string& arg : args)
            out << arg << '\0';
        if (const char* threads = std::getenv("OMP_NUM_THREADS"))
            std::ofstream(std::string(file) + ".omp") << threads;
    }
    std::string outFile, quality, inFile, progressFile;
    bool ffmpeg = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if ((arg == "-outfile" || arg == "-o") && hasValue)
            outFile = args[++i];
        else if ((arg == "-quality" || arg == "-crf") && hasValue)
            quality = args[++i];
        else if (arg == "--quality" && hasValue)
            quality = args[++i].substr(2); // after pngquant's "0-"
        else if (arg == "-i" && hasValue)
            inFile = args[++i], ffmpeg = true;
        else if (arg == "-progress" && hasValue)
            progressFile = args[++i];
        else if (ffmpeg && arg[0] != '-' && (i == 0 || args[i - 1][0] != '-'))
            outFile = arg; // ffmpeg's output: a word that is no option's value
        else if (!ffmpeg && arg[0] != '-')
            inFile = arg;
    }
    if (const char* behaviour = std::getenv("FAKE_TOOL_BEHAVIOUR"); behaviour && *behaviour)
        quality = behaviour;
    if (!progressFile.empty())
        std::ofstream(progressFile) << "out_time_us=1000\nprogress=end\n";

    if (quality.rfind("exit:", 0) == 0)
        writeBytes(outFile, 10);
    if (quality.rfind("exit:", 0) == 0 || quality.rfind("nooutput:", 0) == 0)
        return std::atoi(quality.c_str() + quality.find(':') + 1);
    if (quality == "big" || quality == "empty") {
        std::ifstream in(inFile, std::ios::binary | std::ios::ate);
        writeBytes(outFile, quality == "big" ? long(in.tellg()) + 1 : 0);
        return 0;
    }
    if (quality == "copy") {
        std::ifstream in(inFile, std::ios::binary);
        std::ofstream(outFile, std::ios::binary) << in.rdbuf();
        return 0;
    }
    if (quality == "hang" || quality == "crash") {
        writeBytes(outFile, 10); // a partial result that must never reach the user
        if (quality == "crash")
            std::abort();
        for (;;)
            std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    std::fprintf(stderr, "fake tool: unknown behaviour '%s'\n", quality.c_str());
    return 3;
}
