#pragma once

#include "BlockTransform.h"
#include "CoefficientEncoder.h"
#include "Image.h"
#include "JpegSupport.h"

#include <cstdio>
#include <functional>
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
    JpegCompressor jpeg_;
    std::unique_ptr<CoefficientEncoder> encoder_;
    std::unique_ptr<BlockTransform> transform_;
};

// JPEG has no alpha: the image's layout once transparent areas are shown over white, as on a page.
ImageInfo opaqueInfo(const ImageInfo& info);
// Hands every row of the reader to `take` in opaqueInfo's layout, then lets the reader check the rest.
void feedOpaqueRows(ImageReader& reader, const std::function<void(const std::uint8_t*)>& take);

// Writes the source's metadata markers into a file `jpeg` has started.
void writeMetadata(JpegCompressor& jpeg, const Metadata& metadata);

} // namespace cjpeg
