#pragma once

#include "MetadataPolicy.h"
#include "Resampler.h"

#include <stdexcept>
#include <string>
#include <vector>

namespace cjpeg {

// What the command line asked for.
struct Options
{
    std::string input;
    std::string output;
    int quality = 75;
    // Progressive scans code smaller and every current decoder reads them; -sequential opts out.
    bool progressive = true;
    // -maxsize WxH: the box the picture is shrunk to fit, 0 = no limit on that side.
    int maxWidth = 0;
    int maxHeight = 0;
    // -strip gps|all: what metadata is left out.
    StripPolicy strip = StripPolicy::None;
    // -targetsize: the highest quality up to `quality` whose file fits this many bytes; 0: off.
    long long targetSize = 0;
};

// A malformed command line; the program prints a one-line usage message and exits with code 2.
class UsageError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Parses the arguments after the program name.
Options parseOptions(const std::vector<std::string>& args);

} // namespace cjpeg
