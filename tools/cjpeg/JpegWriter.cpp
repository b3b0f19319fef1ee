#include "JpegWriter.h"

#include <vector>

namespace cjpeg {

namespace {
// An APP marker's length field counts itself, leaving this much room for data.
constexpr std::size_t kMaxMarkerPayload = 65533;
} // namespace

JpegWriter::JpegWriter(std::FILE* out, const ImageInfo& info, const Metadata& metadata,
                       const EncodeSettings& settings)
{
    jpeg_compress_struct& cinfo = jpeg_.cinfo;
    jpegGuard(jpeg_.errors, [&] { jpeg_stdio_dest(&cinfo, out); });
    encoder_ = std::make_unique<CoefficientEncoder>(jpeg_, info, settings.quality, settings.progressive);
    transform_ = std::make_unique<BlockTransform>(
        info, CoefficientEncoder::subsampledAt(settings.quality, info.channels), *encoder_);
    writeMetadata(jpeg_, metadata);
}

void writeMetadata(JpegCompressor& jpeg, const Metadata& metadata)
{
    jpeg_compress_struct& cinfo = jpeg.cinfo;
    // EXIF goes first so readers that only look at the first APP1 still find the orientation.
    // A block too large for one marker cannot be split, so it is dropped rather than cut.
    const Metadata* m = &metadata;
    jpegGuard(jpeg.errors, [&] {
        if (!m->exif.empty() && m->exif.size() <= kMaxMarkerPayload)
            jpeg_write_marker(&cinfo, JPEG_APP0 + 1, m->exif.data(), static_cast<unsigned>(m->exif.size()));
        if (!m->icc.empty())
            jpeg_write_icc_profile(&cinfo, m->icc.data(), static_cast<unsigned>(m->icc.size()));
        if (!m->xmp.empty() && m->xmp.size() <= kMaxMarkerPayload)
            jpeg_write_marker(&cinfo, JPEG_APP0 + 1, m->xmp.data(), static_cast<unsigned>(m->xmp.size()));
        // Captions, keywords and copyright live in the Photoshop/IPTC block.
        if (!m->iptc.empty() && m->iptc.size() <= kMaxMarkerPayload)
            jpeg_write_marker(&cinfo, JPEG_APP0 + 13, m->iptc.data(), static_cast<unsigned>(m->iptc.size()));
        for (const auto& comment : m->comments)
            if (comment.size() <= kMaxMarkerPayload)
                jpeg_write_marker(&cinfo, JPEG_COM, comment.data(), static_cast<unsigned>(comment.size()));
    });
}

void JpegWriter::writeRow(const std::uint8_t* row)
{
    transform_->addRow(row);
}

void JpegWriter::finish()
{
    transform_->finish();
    encoder_->finish();
}

} // namespace cjpeg

namespace cjpeg {

ImageInfo opaqueInfo(const ImageInfo& info)
{
    ImageInfo opaque = info;
    if (hasAlpha(info.channels))
        --opaque.channels;
    return opaque;
}

void feedOpaqueRows(ImageReader& reader, const std::function<void(const std::uint8_t*)>& take)
{
    const ImageInfo& info = reader.info();
    const bool alpha = hasAlpha(info.channels);
    std::vector<std::uint8_t> flat(alpha ? static_cast<std::size_t>(info.width) * (info.channels - 1) : 0);
    for (int y = 0; y < info.height; ++y) {
        const std::uint8_t* row = reader.nextRow();
        if (alpha) {
            compositeOnWhite(row, flat.data(), static_cast<std::size_t>(info.width), info.channels);
            row = flat.data();
        }
        take(row);
    }
    reader.finish();
}

} // namespace cjpeg
