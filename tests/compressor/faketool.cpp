// A stand-in for an image tool that misbehaves on request, for the faults a real tool cannot be made to
// show. It reads the encoder's command line (-outfile OUT -quality Q ... IN), pngquant's
// (--quality 0-Q --force IN -o OUT) or ffmpeg's (-i IN ... -quality Q OUT, or -crf Q for video) and
// does what Q says:
//   exit:N      write a small result, exit with N      nooutput:N  write nothing, exit with N
//   big         write a result larger than the input   empty       write an empty result, exit 0
//   hang        never finish                           crash       abort
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

namespace {

long fileSize(const std::string& path)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    return in ? long(in.tellg()) : 0;
}

void writeBytes(const std::string& path, long count)
{
    std::ofstream out(path, std::ios::binary);
    for (long i = 0; i < count; ++i)
        out.put(char(i & 0x7f));
}

} // namespace

int main(int argc, char* argv[])
{
    std::string outFile, quality, inFile;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "-outfile") && i + 1 < argc)
            outFile = argv[++i];
        else if (!std::strcmp(argv[i], "-o") && i + 1 < argc)
            outFile = argv[++i];
        else if ((!std::strcmp(argv[i], "-quality") || !std::strcmp(argv[i], "-crf")) && i + 1 < argc)
            quality = argv[++i];
        else if (!std::strcmp(argv[i], "--quality") && i + 1 < argc)
            quality = std::string(argv[++i]).substr(2); // after pngquant's "0-"
        else if (argv[i][0] == '-')
            continue;
        else
            inFile = argv[i];
    }
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
