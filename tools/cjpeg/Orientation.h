#pragma once

#include "Image.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace cjpeg {

// The EXIF orientation (1-8) in an APP1 EXIF payload ("Exif\0\0" + TIFF); 1 when absent or unreadable.
int exifOrientation(const std::vector<std::uint8_t>& exif);

// Rewrites the orientation tag in place; false when the payload has none.
bool setExifOrientation(std::vector<std::uint8_t>& exif, int orientation);

// Decodes the rest of `reader` into memory as a viewer shows it: turned and mirrored by an EXIF
// orientation (1 leaves it as stored). Keeps the reader's metadata.
std::unique_ptr<BufferedImage> readOriented(ImageReader& reader, int orientation);

} // namespace cjpeg
