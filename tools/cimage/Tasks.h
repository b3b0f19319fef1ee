#pragma once

#include <string>

namespace cimage {

// The tool a prepared source is meant for.
enum class Target { Png, Webp };

// Reads `input`, writes an intermediate into `outDir` when the target tool cannot take the file as
// it is, and prints input=, format=, frames=, loop= and turned= lines on stdout.
void prepare(Target target, const std::string& input, const std::string& outDir);

// Copies `source`'s ICC profile, EXIF (orientation reset when prepare turned the pixels) and XMP into
// `output`, plus for WebP the animation loop count; leaves `output` untouched when nothing changes.
void finish(Target target, const std::string& source, const std::string& output);

} // namespace cimage
