#pragma once

#include "CoefficientEncoder.h"
#include "Image.h"
#include "JpegSupport.h"

#include <cstdio>
#include <memory>

namespace cjpeg {

// Encoder choices taken from the command line.
struct EncodeSettings
{
    int quality = 75;
    bool progressive = false;
};

// Encodes scanlines into a JPEG (trellis-quantised, optimised Huffman tables), carrying the source's
// metadata.
class JpegWriter
{
public:
    JpegWriter(std::FILE* out, const ImageInfo& info, const Metadata& metadata,
               const EncodeSettings& settings);
    JpegWriter(const JpegWriter&) = delete;
    JpegWriter& operator=(const JpegWriter&) = delete;

    void writeRow(const std::uint8_t* row);
    void finish();

private:
    void writeMetadata(const Metadata& metadata);

    JpegCompressor jpeg_;
    std::unique_ptr<CoefficientEncoder> encoder_;
};

} // namespace cjpeg
