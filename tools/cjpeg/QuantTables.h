#pragma once

#include <cstddef>
#include <cstdio>

#include <jpeglib.h>

namespace cjpeg {

// Installs the luma and chroma quantisation tables for a 0-100 quality, always within 8 bits so every
// baseline decoder accepts them.
void setQuantTables(jpeg_compress_struct& cinfo, int quality);

} // namespace cjpeg
