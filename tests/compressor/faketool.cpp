// A stand-in for cJpeg, pngquant and ffmpeg that misbehaves on request, for the faults a real tool
// cannot be made to show. It reads the encoder's command line (-outfile OUT -quality Q ... IN),
// pngquant's (--quality 0-Q --force IN -o OUT) or ffmpeg's (-i IN ... -quality Q OUT, or -crf Q ... OUT
// -progress FILE) and does what Q (or $FAKE_TOOL_BEHAVIOUR, when set) says:
//   exit:N      write a small result, exit with N      nooutput:N  write nothing, exit with N
//   big         write a result larger than the input   empty       write an empty result, exit 0
//   hang        never finish                           crash       abort
//   copy        write a copy of the input, exit 0 (a video result that reads back as the source)
// With $FAKE_TOOL_ARGV set it first writes the arguments it received to that file, each followed by
// a NUL byte, so tests see exactly what reached the process (and $OMP_NUM_THREADS to that file + ".omp").
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

long fileSize(const std::string& path)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    return in ? long(in.tellg()) : 0;
}

// A WebP output is given a RIFF header that matches its length, as a complete file has.
void writeBytes(const std::string& path, long count)
{
    std::ofstream out(path, std::ios::binary);
    const bool webp = path.size() > 5 && path.compare(path.size() - 5, 5, ".webp") == 0;
    if (webp && count > 0 && count < 12)
        count = 12;
    long written = 0;
    if (webp && count >= 12) {
        const unsigned long riffSize = static_cast<unsigned long>(count - 8);
        out << "RIFF";
        for (int shift = 0; shift < 32; shift += 8)
            out.put(char((riffSize >> shift) & 0xff));
        out << "WEBP";
        written = 12;
    }
    for (long i = written; i < count; ++i)
        out.put(char(i & 0x7f));
}

void recordArguments(int argc, char* argv[])
{
    const char* file = std::getenv("FAKE_TOOL_ARGV");
    if (!file || !*file)
        return;
    std::ofstream out(file, std::ios::binary);
    for (int i = 1; i < argc; ++i)
        out << argv[i] << '\0';
    if (const char* threads = std::getenv("OMP_NUM_THREADS"))
        std::ofstream(std::string(file) + ".omp") << threads;
}

} // namespace

int main(int argc, char* argv[])
{
    recordArguments(argc, argv);
    const std::vector<std::string> args(argv + 1, argv + argc);
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

    if (quality.rfind("exit:", 0) == 0) {
        writeBytes(outFile, 10);
        return std::atoi(quality.c_str() + 5);
    }
    if (quality.rfind("nooutput:", 0) == 0)
        return std::atoi(quality.c_str() + 9);
    if (quality == "big") {
        writeBytes(outFile, fileSize(inFile) + 1);
        return 0;
    }
    if (quality == "copy") {
        std::ifstream in(inFile, std::ios::binary);
        std::ofstream(outFile, std::ios::binary) << in.rdbuf();
        return 0;
    }
    if (quality == "empty") {
        writeBytes(outFile, 0);
        return 0;
    }
    if (quality == "hang") {
        writeBytes(outFile, 10); // a partial result that must never reach the user
        for (;;)
            std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    if (quality == "crash") {
        writeBytes(outFile, 10);
        std::abort();
    }
    std::fprintf(stderr, "fake tool: unknown behaviour '%s'\n", quality.c_str());
    return 3;
}
