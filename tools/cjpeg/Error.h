#pragma once

#include <stdexcept>

namespace cjpeg {

// A problem with the input or output file; the program reports it and exits with code 1.
class Error : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

} // namespace cjpeg
