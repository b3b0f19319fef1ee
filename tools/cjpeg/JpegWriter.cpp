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
    cinfo.image_width = static_cast<JDIMENSION>(info.width);
    cinfo.image_height = static_cast<JDIMENSION>(info.height);
    cinfo.input_components = info.channels;
    cinfo.in_color_space = info.channels == 1 ? JCS_GRAYSCALE : JCS_RGB;
    const int quality = settings.quality;
    const bool progressive = settings.progressive;
    jpegGuard(jpeg_.errors, [&] {
        jpeg_stdio_dest(&cinfo, out);
        jpeg_set_defaults(&cinfo);
        jpeg_set_quality(&cinfo, quality, TRUE);
        cinfo.optimize_coding = TRUE;
        if (progressive)
            jpeg_simple_progression(&cinfo);
        jpeg_start_compress(&cinfo, TRUE);
    });
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
    // libjpeg only reads the row, its API just is not const-correct.
    JSAMPROW samples = const_cast<JSAMPROW>(row);
    JDIMENSION written = 0;
    jpegGuard(jpeg_.errors, [&] { written = jpeg_write_scanlines(&jpeg_.cinfo, &samples, 1); });
    if (written != 1)
        throw Error("JPEG encoder refused a scanline");
}

void JpegWriter::finish()
{
    jpegGuard(jpeg_.errors, [&] { jpeg_finish_compress(&jpeg_.cinfo); });
}

} // namespace cjpeg
