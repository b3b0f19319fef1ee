#pragma once

#include <Image.h>
#include <Readers.h>

#include <cstddef>
#include <cstdint>

// Whether the size a reader reports agrees with the image's header, read here independently of the
// reader: the same for PNG, BMP, PNM and WebP, at least the logical screen for GIF. JPEG (whose damaged
// segment lengths the reader repairs first) and TIFF (whose header only libtiff reads) always agree;
// libjpeg-turbo's decoding of the written JPEG checks those.
bool headerAgrees(cjpeg::ImageFormat format, const std::uint8_t* data, std::size_t size,
                  const cjpeg::ImageInfo& info);
