#include "Error.h"
#include "Readers.h"

#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

#include <png.h>

namespace cjpeg {

namespace {

// Owns libpng's read structures and turns its errors into Error exceptions.
class PngHandle
{
public:
    PngHandle()
    {
        png_ =
            png_create_read_struct(PNG_LIBPNG_VER_STRING, this, &PngHandle::onError, &PngHandle::onWarning);
        if (png_)
            info_ = png_create_info_struct(png_);
        if (!png_ || !info_) {
            png_destroy_read_struct(&png_, &info_, nullptr);
            throw Error("out of memory");
        }
    }
    ~PngHandle() { png_destroy_read_struct(&png_, &info_, nullptr); }
    PngHandle(const PngHandle&) = delete;
    PngHandle& operator=(const PngHandle&) = delete;

    png_structp png() const { return png_; }
    png_infop info() const { return info_; }

    // Runs libpng calls; `fn` must not create objects with destructors since libpng leaves it by longjmp.
    template <typename Fn> void guard(Fn&& fn)
    {
        if (setjmp(png_jmpbuf(png_)))
            throw Error(message_);
        fn();
    }

private:
    static void onError(png_structp png, png_const_charp text)
    {
        auto* self = static_cast<PngHandle*>(png_get_error_ptr(png));
        std::snprintf(self->message_, sizeof self->message_, "damaged PNG: %s", text);
        png_longjmp(png, 1);
    }
    // Warnings are about things like odd ICC profiles; the pixels are still right.
    static void onWarning(png_structp, png_const_charp) {}

    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
    char message_[256] = "damaged PNG";
};

const char kXmpKeyword[] = "XML:com.adobe.xmp";
const char kXmpNamespace[] = "http://ns.adobe.com/xap/1.0/"; // the JPEG payload keeps its NUL

// Decodes a PNG of any colour type to 8-bit gray or RGB, with alpha when the file has any, streaming
// rows unless the file is interlaced.
class PngReader final : public ImageReader
{
public:
    explicit PngReader(FilePtr file) : file_(std::move(file))
    {
        png_structp png = png_.png();
        png_infop info = png_.info();
        png_.guard([&] {
            png_init_io(png, file_.get());
            // A bad checksum means damaged data, in ancillary chunks as much as in the image.
            png_set_crc_action(png, PNG_CRC_ERROR_QUIT, PNG_CRC_ERROR_QUIT);
            png_read_info(png, info);
            png_set_expand(png); // palette to RGB, low bit depths to 8, tRNS to alpha
            png_set_scale_16(png);
            passes_ = png_set_interlace_handling(png);
            png_read_update_info(png, info);
        });
        checkDimensions(png_get_image_width(png, info), png_get_image_height(png, info), "PNG");
        info_.width = static_cast<int>(png_get_image_width(png, info));
        info_.height = static_cast<int>(png_get_image_height(png, info));
        decodedChannels_ = png_get_channels(png, info);
        info_.channels = decodedChannels_;
        rowBytes_ = png_get_rowbytes(png, info);
        if (rowBytes_ != static_cast<std::size_t>(info_.width) * decodedChannels_)
            throw Error("unsupported PNG layout");
        collectMetadata();

        if (passes_ > 1) {
            // Adam7 needs every pass before any row is complete, so decode the whole image first.
            whole_.reset(new std::uint8_t[rowBytes_ * info_.height]);
            std::vector<png_bytep> rows(info_.height);
            for (int y = 0; y < info_.height; ++y)
                rows[y] = whole_.get() + rowBytes_ * y;
            png_bytepp rowPointers = rows.data();
            png_.guard([&] { png_read_image(png, rowPointers); });
        } else {
            raw_.resize(rowBytes_);
        }
        double fileGamma = 0;
        // A file gamma is honoured as libwebp's and browsers' readers do; an ICC profile overrides it.
        if (metadata_.icc.empty() && png_get_gAMA(png, info, &fileGamma) && fileGamma > 0 &&
            std::fabs(fileGamma * 2.2 - 1.0) > 0.01) {
            gamma_ = fileGamma;
            info_.unusualCoding = true;
        }
    }

    const std::uint8_t* nextRow() override
    {
        if (row_ >= info_.height)
            throw Error("internal error: read past the last PNG row");
        const std::uint8_t* decoded;
        if (whole_) {
            decoded = whole_.get() + rowBytes_ * row_;
        } else {
            png_bytep raw = raw_.data();
            png_.guard([&] { png_read_row(png_.png(), raw, nullptr); });
            decoded = raw;
        }
        ++row_;
        if (gamma_ == 0)
            return decoded;
        corrected_.assign(decoded, decoded + rowBytes_);
        applyGamma(corrected_.data(), static_cast<std::size_t>(info_.width), info_.channels, gamma_);
        return corrected_.data();
    }

    void finish() override
    {
        // Reads up to IEND so a file cut after the pixel data still counts as damaged.
        png_.guard([&] { png_read_end(png_.png(), nullptr); });
    }

private:
    void collectMetadata()
    {
        png_charp name = nullptr;
        int compression = 0;
        png_bytep profile = nullptr;
        png_uint_32 profileSize = 0;
        if (png_get_iCCP(png_.png(), png_.info(), &name, &compression, &profile, &profileSize) && profile &&
            profileSize > 0)
            metadata_.icc.assign(profile, profile + profileSize);
        png_uint_32 exifSize = 0;
        png_bytep exif = nullptr;
        if (png_get_eXIf_1(png_.png(), png_.info(), &exifSize, &exif) && exif && exifSize > 0)
            metadata_.exif = exifPayload(exif, exifSize);
        png_textp text = nullptr;
        const int count = png_get_text(png_.png(), png_.info(), &text, nullptr);
        for (int i = 0; i < count; ++i) {
            if (std::strcmp(text[i].key, kXmpKeyword) != 0 || !text[i].text)
                continue;
            const std::size_t length = std::strlen(text[i].text);
            metadata_.xmp.assign(kXmpNamespace, kXmpNamespace + sizeof kXmpNamespace);
            metadata_.xmp.insert(metadata_.xmp.end(), text[i].text, text[i].text + length);
            break;
        }
    }

    FilePtr file_;
    PngHandle png_;
    int passes_ = 1;
    int decodedChannels_ = 3;
    std::size_t rowBytes_ = 0;
    int row_ = 0;
    std::unique_ptr<std::uint8_t[]> whole_;
    std::vector<std::uint8_t> raw_;
    std::vector<std::uint8_t> corrected_;
    double gamma_ = 0;
};

} // namespace

std::unique_ptr<ImageReader> readPng(FilePtr file)
{
    return std::make_unique<PngReader>(std::move(file));
}

} // namespace cjpeg
