#pragma once

#include "Image.h"
#include "Resampler.h"

#include <memory>

namespace cjpeg {

// Decodes the rest of `reader` as a viewer shows it (turned by the EXIF orientation) and, when that
// does not fit inside maxWidth x maxHeight (0: no limit on that side), shrinks it to fit. A JPEG is
// first scaled down by its decoder as long as that leaves at least twice the final size, so the
// Lanczos filter always does the last step. `resized` receives the new size, or {0, 0} when the
// picture already fitted.
std::unique_ptr<BufferedImage> readUprightFitted(ImageReader& reader, int orientation, int maxWidth,
                                                 int maxHeight, PixelSize* resized);

} // namespace cjpeg
