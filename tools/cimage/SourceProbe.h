#pragma once

#include "Readers.h"

#include <string>

namespace cimage {

// How a source animates: number of frames and how often it plays (0 = forever; 1 for stills).
struct Animation
{
    int frames = 1;
    int loop = 1;
};

// Reads the frame count and loop count from the container without decoding any pixels.
Animation probeAnimation(const std::string& path, cjpeg::ImageFormat format);

} // namespace cimage
