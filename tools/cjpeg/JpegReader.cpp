#include "JpegSupport.h"
#include "Readers.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace cjpeg {

namespace {

const char kExifHeader[] = "Exif\0";                      // with the literal's own NUL: "Exif\0\0"
const char kXmpHeader[] = "http://ns.adobe.com/xap/1.0/"; // followed by its NUL
const char kPhotoshopHeader[] = "Photoshop 3.0";          // followed by its NUL

bool markerStartsWith(const jpeg_saved_marker_ptr marker, const char* prefix, std::size_t size)
{
    return marker->data_length >= size && std::memcmp(marker->data, prefix, size) == 0;
}

std::size_t be16(const std::vector<std::uint8_t>& d, std::size_t at)
{
    return static_cast<std::size_t>(d[at] << 8 | d[at + 1]);
}

// A marker that may begin a header segment: SOFn, DHT, DAC, SOS, DQT, DNL, DRI, APPn or COM. Reserved
// codes (JPGn, 0xF0-0xFD) are left out: in damaged data they are noise, not structure.
bool isSegmentMarker(std::uint8_t m)
{
    return (m >= 0xC0 && m <= 0xCF && m != 0xC8) || (m >= 0xDA && m <= 0xDD) || (m >= 0xE0 && m <= 0xEF) ||
           m == 0xFE;
}

std::size_t findSoi(const std::vector<std::uint8_t>& d)
{
    const std::size_t limit = std::min(d.size(), kMaxJunkBeforeJpeg + 3);
    for (std::size_t i = 0; i + 2 < limit; ++i)
        if (d[i] == 0xFF && d[i + 1] == 0xD8 && d[i + 2] == 0xFF)
            return i;
    throw Error("no JPEG start of image found");
}

std::size_t nextSegmentMarker(const std::vector<std::uint8_t>& d, std::size_t from)
{
    while (from + 1 < d.size() && !(d[from] == 0xFF && isSegmentMarker(d[from + 1])))
        ++from;
    return from;
}

// Copies the file from its SOI marker on, up to the first scan, leaving out stray bytes between
// header segments and APP or COM segments whose length is impossible (a damaged EXIF block, say):
// they hold no image data, but libjpeg gives up on them. `repaired` tells whether anything was left out.
std::vector<std::uint8_t> repairHeader(const std::vector<std::uint8_t>& d, bool& repaired,
                                       std::size_t& headerSize)
{
    std::size_t pos = findSoi(d);
    repaired = pos != 0;
    std::vector<std::uint8_t> out(d.begin() + static_cast<std::ptrdiff_t>(pos),
                                  d.begin() + static_cast<std::ptrdiff_t>(pos) + 2);
    pos += 2;
    while (pos + 4 <= d.size()) {
        if (d[pos] != 0xFF || !isSegmentMarker(d[pos + 1]) || d[pos + 1] == 0xDA)
            break; // start of scan or something libjpeg should judge itself
        const std::uint8_t marker = d[pos + 1];
        const std::size_t length = be16(d, pos + 2);
        const std::size_t end = pos + 2 + length;
        if (length >= 2 && end + 1 < d.size()) {
            out.insert(out.end(), d.begin() + static_cast<std::ptrdiff_t>(pos),
                       d.begin() + static_cast<std::ptrdiff_t>(end));
            pos = d[end] == 0xFF ? end : nextSegmentMarker(d, end);
            repaired = repaired || pos != end;
            continue;
        }
        const bool optional = (marker >= 0xE0 && marker <= 0xEF) || marker == 0xFE;
        if (!optional)
            break;
        // Resynchronise on the next plausible segment marker after the damaged one.
        repaired = true;
        pos = nextSegmentMarker(d, pos + 4);
    }
    headerSize = out.size();
    out.insert(out.end(), d.begin() + static_cast<std::ptrdiff_t>(std::min(pos, d.size())), d.end());
    return out;
}

// Whether an EOI marker follows the header; an EXIF thumbnail's own EOI inside the header does not count.
bool hasEndOfImage(const std::vector<std::uint8_t>& d, std::size_t headerSize)
{
    for (std::size_t i = d.size(); i >= headerSize + 2; --i)
        if (d[i - 2] == 0xFF && d[i - 1] == 0xD9)
            return true;
    return false;
}

// Decodes a JPEG one scanline at a time to gray or RGB, keeping its EXIF, XMP, ICC profile, IPTC and
// comments. CMYK and YCCK are inked into RGB; arithmetic coding is handled by libjpeg.
class JpegReader final : public ImageReader
{
public:
    explicit JpegReader(FilePtr file)
    {
        std::vector<std::uint8_t> raw(static_cast<std::size_t>(bytesRemaining(file.get())));
        readExact(file.get(), raw.data(), raw.size(), "JPEG file");
        file.reset();
        bool repaired = false;
        std::size_t headerSize = 0;
        data_ = repairHeader(raw, repaired, headerSize);
        raw = {};
        // Without an end-of-image marker the scan data was cut short. Checked here so that callers that
        // never decode (cImage deciding whether ffmpeg may take the file) refuse it as cJpeg does.
        if (!hasEndOfImage(data_, headerSize))
            throw Error("Premature end of JPEG file");

        jpeg_decompress_struct& cinfo = jpeg_.cinfo;
        const unsigned char* bytes = data_.data();
        const unsigned long size = static_cast<unsigned long>(data_.size());
        jpegGuard(jpeg_.errors, [&] {
            jpeg_mem_src(&cinfo, bytes, size);
            jpeg_save_markers(&cinfo, JPEG_APP0 + 1, 0xFFFF);
            jpeg_save_markers(&cinfo, JPEG_APP0 + 2, 0xFFFF);
            jpeg_save_markers(&cinfo, JPEG_APP0 + 13, 0xFFFF);
            jpeg_save_markers(&cinfo, JPEG_COM, 0xFFFF);
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
        // Decompression starts with the first row, so a caller that only needs the header, size and
        // metadata does not pay for those buffers.
        info_.width = static_cast<int>(cinfo.image_width);
        info_.height = static_cast<int>(cinfo.image_height);
        info_.channels = cinfo.out_color_space == JCS_GRAYSCALE ? 1 : 3;
        info_.unusualCoding = repaired || cinfo.out_color_space == JCS_CMYK || cinfo.arith_code;
        const int components = cinfo.out_color_space == JCS_GRAYSCALE ? 1
                               : cinfo.out_color_space == JCS_CMYK    ? 4
                                                                      : 3;
        row_.resize(static_cast<std::size_t>(cinfo.image_width) * components);
    }

    const std::uint8_t* nextRow() override
    {
        if (!started_) {
            jpegGuard(jpeg_.errors, [&] { jpeg_start_decompress(&jpeg_.cinfo); });
            started_ = true;
        }
        JSAMPROW row = row_.data();
        JDIMENSION got = 0;
        jpegGuard(jpeg_.errors, [&] { got = jpeg_read_scanlines(&jpeg_.cinfo, &row, 1); });
        if (got != 1)
            throw Error("JPEG data ended early");
        if (jpeg_.cinfo.out_color_space == JCS_CMYK)
            cmykToRgb();
        return row_.data();
    }

    bool shrinkWhileDecoding(int denominator) override
    {
        // libjpeg's scaled inverse DCT leaves out what the smaller size cannot show, at a fraction of the
        // decoding time of the full size.
        if (started_ || (denominator != 2 && denominator != 4 && denominator != 8))
            return false;
        jpeg_decompress_struct& cinfo = jpeg_.cinfo;
        jpegGuard(jpeg_.errors, [&] {
            cinfo.scale_num = 1;
            cinfo.scale_denom = static_cast<unsigned>(denominator);
            jpeg_calc_output_dimensions(&cinfo);
        });
        info_.width = static_cast<int>(cinfo.output_width);
        info_.height = static_cast<int>(cinfo.output_height);
        row_.resize(static_cast<std::size_t>(cinfo.output_width) * cinfo.out_color_components);
        return true;
    }

    void finish() override
    {
        // Stops at the first EOI; whatever follows (a second image, padding) is not ours to judge.
        jpegGuard(jpeg_.errors, [&] { jpeg_finish_decompress(&jpeg_.cinfo); });
    }

private:
    void collectMetadata()
    {
        for (jpeg_saved_marker_ptr m = jpeg_.cinfo.marker_list; m; m = m->next) {
            if (m->marker == JPEG_COM) {
                metadata_.comments.emplace_back(m->data, m->data + m->data_length);
            } else if (m->marker == JPEG_APP0 + 13) {
                if (metadata_.iptc.empty() && markerStartsWith(m, kPhotoshopHeader, sizeof kPhotoshopHeader))
                    metadata_.iptc.assign(m->data, m->data + m->data_length);
            } else if (m->marker == JPEG_APP0 + 1) {
                if (metadata_.exif.empty() && markerStartsWith(m, kExifHeader, sizeof kExifHeader))
                    metadata_.exif.assign(m->data, m->data + m->data_length);
                else if (metadata_.xmp.empty() && markerStartsWith(m, kXmpHeader, sizeof kXmpHeader))
                    metadata_.xmp.assign(m->data, m->data + m->data_length);
            }
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

    std::vector<std::uint8_t> data_; // libjpeg reads from this memory until the reader goes away
    JpegDecompressor jpeg_;
    std::vector<std::uint8_t> row_;
    bool started_ = false;
};

} // namespace

std::unique_ptr<ImageReader> readJpeg(FilePtr file)
{
    return std::make_unique<JpegReader>(std::move(file));
}

} // namespace cjpeg
