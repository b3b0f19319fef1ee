#include "Options.h"

#include <algorithm>
#include <cctype>

namespace cjpeg {

namespace {
constexpr int kDefaultQuality = 75;

bool isInteger(const std::string& text)
{
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

int clampedQuality(const std::string& digits)
{
    // More than three digits is above 100 whatever they are; this also avoids overflow.
    if (digits.size() > 3)
        return 100;
    return std::clamp(std::stoi(digits), 1, 100);
}
} // namespace

Options parseOptions(const std::vector<std::string>& args)
{
    Options options;
    const std::size_t count = args.size();
    for (std::size_t i = 0; i < count; ++i) {
        const std::string& arg = args[i];
        const bool last = i + 1 == count;
        if (arg == "-outfile") {
            if (last)
                throw UsageError("-outfile needs a file name");
            options.output = args[++i];
        } else if (arg == "-quality") {
            // An empty quality from the caller usually arrives as no token at all, so only a number that
            // is not the final (input) argument is taken as the value; an explicit empty token is skipped.
            if (i + 2 < count && isInteger(args[i + 1])) {
                options.quality = clampedQuality(args[++i]);
            } else {
                options.quality = kDefaultQuality;
                if (i + 2 < count && args[i + 1].empty())
                    ++i;
            }
        } else if (arg == "-maxsize") {
            if (last || !parseBox(args[i + 1], options.maxWidth, options.maxHeight))
                throw UsageError("-maxsize needs a box WxH (either side may be left out)");
            ++i;
        } else if (arg == "-strip") {
            if (last || !parseStripPolicy(args[i + 1], options.strip))
                throw UsageError("-strip needs gps or all");
            ++i;
        } else if (arg == "-targetsize") {
            // Up to 15 digits: far beyond any file, and no overflow.
            if (last || !isInteger(args[i + 1]) || args[i + 1].size() > 15 || std::stoll(args[i + 1]) <= 0)
                throw UsageError("-targetsize needs a positive number of bytes");
            options.targetSize = std::stoll(args[++i]);
        } else if (arg == "-baseline") {
            // As in libjpeg's tools: quantisation tables a baseline decoder accepts (8-bit), which they
            // always are here. It does not turn progressive scans off.
        } else if (arg == "-sequential") {
            options.progressive = false;
        } else if (arg == "-progressive") {
            options.progressive = true;
        } else if (arg == "-optimize") {
            // Huffman tables are always optimised.
        } else if (!arg.empty() && arg[0] == '-') {
            throw UsageError("unknown option " + arg);
        } else if (last) {
            options.input = arg;
        } else {
            throw UsageError("unexpected argument " + arg + " (the input file must come last)");
        }
    }
    if (options.output.empty())
        throw UsageError("missing -outfile");
    if (options.input.empty())
        throw UsageError("missing input file");
    return options;
}

} // namespace cjpeg
