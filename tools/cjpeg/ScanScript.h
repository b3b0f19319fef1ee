#pragma once

#include <cstddef>
#include <cstdio>

#include <jpeglib.h>

namespace cjpeg {

// Sets the progressive scan sequence: the order and split of coefficient bands that codes smallest.
void setProgressiveScans(jpeg_compress_struct& cinfo);

} // namespace cjpeg
