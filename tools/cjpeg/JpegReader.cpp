#include "JpegSupport.h"
#include "Readers.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace cjpeg {

namespace {

const char kExifHeader[] = "Exif\0";                      // with the literal's own NUL: "Exif\0\0"
const char kXmpHeader[] = "http://ns.adobe.com/xap/1.0/"; // followed by its NUL

bool markerStartsWith(const jpeg_saved_marker_ptr marker, const char* prefix, std::size_t size)
{
    return marker->data_length >= size && std::memcmp(marker->data, prefix, size) == 0;
}

// Streams a JPEG source one scanline at a time, keeping its EXIF, XMP and ICC profile.
class JpegReader final : public ImageReader
{
public:
    explicit JpegReader(FilePtr file) : file_(std::move(file))
    {
        jpeg_decompress_struct& cinfo = jpeg_.cinfo;
        jpegGuard(jpeg_.errors, [&] {
            jpeg_stdio_src(&cinfo, file_.get());
            jpeg_save_markers(&cinfo, JPEG_APP0 + 1, 0xFFFF);
            jpeg_save_markers(&cinfo, JPEG_APP0 + 2, 0xFFFF);
            jpeg_read_header(&cinfo, TRUE);
        });
        collectMetadata();

        switch (cinfo.jpeg_color_space) {
        case JCS_GRAYSCALE:
            cinfo.out_color_space = JCS_GRAYSCALE;
            break;
        case JCS_CMYK:
        case JCS_YCCK:
            // libjpeg does not convert CMYK to RGB itself.
            cinfo.out_color_space = JCS_CMYK;
            break;
        default:
            cinfo.out_color_space = JCS_RGB;
            break;
        }
        // Checked before decompression starts: for a progressive file libjpeg then allocates
        // coefficient buffers for the whole image, which a forged size makes enormous.
        checkDimensions(cinfo.image_width, cinfo.image_height, "JPEG");
        jpegGuard(jpeg_.errors, [&] { jpeg_start_decompress(&cinfo); });

        info_.width = static_cast<int>(cinfo.output_width);
        info_.height = static_cast<int>(cinfo.output_height);
        info_.channels = cinfo.out_color_space == JCS_GRAYSCALE ? 1 : 3;
        row_.resize(static_cast<std::size_t>(cinfo.output_width) * cinfo.output_components);
    }

    const std::uint8_t* nextRow() override
    {
        JSAMPROW row = row_.data();
        JDIMENSION got = 0;
        jpegGuard(jpeg_.errors, [&] { got = jpeg_read_scanlines(&jpeg_.cinfo, &row, 1); });
        if (got != 1)
            throw Error("JPEG data ended early");
        if (jpeg_.cinfo.out_color_space == JCS_CMYK)
            cmykToRgb();
        return row_.data();
    }

    void finish() override
    {
        jpegGuard(jpeg_.errors, [&] { jpeg_finish_decompress(&jpeg_.cinfo); });
    }

private:
    void collectMetadata()
    {
        for (jpeg_saved_marker_ptr m = jpeg_.cinfo.marker_list; m; m = m->next) {
            if (m->marker != JPEG_APP0 + 1)
                continue;
            if (metadata_.exif.empty() && markerStartsWith(m, kExifHeader, sizeof kExifHeader))
                metadata_.exif.assign(m->data, m->data + m->data_length);
            else if (metadata_.xmp.empty() && markerStartsWith(m, kXmpHeader, sizeof kXmpHeader))
                metadata_.xmp.assign(m->data, m->data + m->data_length);
        }
        JOCTET* icc = nullptr;
        unsigned int iccSize = 0;
        jpegGuard(jpeg_.errors, [&] {
            if (!jpeg_read_icc_profile(&jpeg_.cinfo, &icc, &iccSize))
                icc = nullptr;
        });
        if (icc) {
            metadata_.icc.assign(icc, icc + iccSize);
            std::free(icc);
        }
    }

    void cmykToRgb()
    {
        // Adobe writes CMYK inverted (255 = no ink), which is what nearly every CMYK JPEG carries.
        const bool inverted = jpeg_.cinfo.saw_Adobe_marker;
        const std::uint8_t* src = row_.data();
        std::uint8_t* dst = row_.data();
        for (int x = 0; x < info_.width; ++x, src += 4, dst += 3) {
            unsigned c = src[0], m = src[1], y = src[2], k = src[3];
            if (!inverted) {
                c = 255 - c;
                m = 255 - m;
                y = 255 - y;
                k = 255 - k;
            }
            dst[0] = static_cast<std::uint8_t>((c * k + 127) / 255);
            dst[1] = static_cast<std::uint8_t>((m * k + 127) / 255);
            dst[2] = static_cast<std::uint8_t>((y * k + 127) / 255);
        }
    }

    FilePtr file_;
    JpegDecompressor jpeg_;
    std::vector<std::uint8_t> row_;
};

} // namespace

std::unique_ptr<ImageReader> readJpeg(FilePtr file)
{
    return std::make_unique<JpegReader>(std::move(file));
}

} // namespace cjpeg
