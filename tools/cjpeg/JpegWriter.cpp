#include "JpegWriter.h"

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
    writeMetadata(metadata);
}

void JpegWriter::writeMetadata(const Metadata& metadata)
{
    jpeg_compress_struct& cinfo = jpeg_.cinfo;
    // EXIF goes first so readers that only look at the first APP1 still find the orientation.
    // A block too large for one marker cannot be split, so it is dropped rather than cut.
    const Metadata* m = &metadata;
    jpegGuard(jpeg_.errors, [&] {
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
    encoder_->addRow(row);
}

void JpegWriter::finish()
{
    encoder_->finish();
}

} // namespace cjpeg
