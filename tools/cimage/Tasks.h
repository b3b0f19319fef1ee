#pragma once

#include "MetadataPolicy.h"

#include <string>

namespace cimage {

// The tool a prepared source is meant for.
enum class Target { Png, Webp };

// Reads `input`, writes an intermediate into `outDir` when the target tool cannot take the file as
// it is or the still picture does not fit inside maxWidth x maxHeight (0: no limit on that side), and
// prints input=, format=, frames=, loop= and turned= lines on stdout, and resized=WxH when it shrank
// the picture or, for an animation meant for ffmpeg, the size ffmpeg is to shrink its frames to.
void prepare(Target target, const std::string& input, const std::string& outDir, int maxWidth = 0,
             int maxHeight = 0);

// Copies `source`'s ICC profile, EXIF (orientation reset, as prepare turned the pixels) and XMP into
// `output`, as far as the strip policy keeps them, plus for WebP the animation loop count; leaves
// `output` untouched when nothing changes. With a policy, metadata the encoder copied over from the
// source on its own is replaced or removed as well.
void finish(Target target, const std::string& source, const std::string& output,
            cjpeg::StripPolicy strip = cjpeg::StripPolicy::None);

} // namespace cimage
