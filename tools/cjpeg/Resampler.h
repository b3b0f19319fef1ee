#pragma once

#include "Image.h"

#include <memory>
#include <string>

namespace cjpeg {

// A width and height in pixels.
struct PixelSize
{
    int width = 0;
    int height = 0;
};

// Reads a box "WxH" where either side may be empty or 0 (no limit there); false when malformed.
bool parseBox(const std::string& text, int& width, int& height);

// The size that fits width x height inside a box of maxWidth x maxHeight (0: no limit on that side),
// keeping the aspect ratio to within one pixel; {0, 0} when the picture already fits, since a picture
// is never enlarged.
PixelSize fitInside(int width, int height, int maxWidth, int maxHeight);

// Resizes an 8-bit image with a separable Lanczos-3 filter. Colour is weighted by alpha while it is
// filtered, so that the colour of fully transparent pixels does not bleed into the visible edge.
std::unique_ptr<BufferedImage> resampleLanczos(const BufferedImage& source, PixelSize size);

} // namespace cjpeg
