#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace cjpeg {

// Source metadata carried over into the output, each stored as the exact JPEG marker payload it becomes.
struct Metadata
{
    std::vector<std::uint8_t> exif;                  // starts with "Exif\0\0"
    std::vector<std::uint8_t> xmp;                   // starts with the XMP namespace and its NUL
    std::vector<std::uint8_t> icc;                   // raw profile; split into chunks by the writer
    std::vector<std::uint8_t> iptc;                  // Photoshop APP13 payload, starts with "Photoshop 3.0\0"
    std::vector<std::vector<std::uint8_t>> comments; // COM marker payloads, in file order

    bool empty() const
    {
        return exif.empty() && xmp.empty() && icc.empty() && iptc.empty() && comments.empty();
    }
};

// Size and sample layout of the decoded rows, 8 bits each: 1 channel (gray), 2 (gray, alpha),
// 3 (RGB) or 4 (RGBA). Alpha is straight (not premultiplied) and always last.
struct ImageInfo
{
    int width = 0;
    int height = 0;
    int channels = 3;
    // Set when the source needed decoding steps that general-purpose decoders often get wrong
    // (CMYK or Lab colour, arithmetic coding, RLE, premultiplied alpha, a gamma to correct).
    bool unusualCoding = false;
};

inline bool hasAlpha(int channels)
{
    return channels == 2 || channels == 4;
}

// Hands out a decoded image one 8-bit scanline at a time, top row first.
class ImageReader
{
public:
    virtual ~ImageReader() = default;
    ImageReader() = default;
    ImageReader(const ImageReader&) = delete;
    ImageReader& operator=(const ImageReader&) = delete;

    const ImageInfo& info() const { return info_; }
    const Metadata& metadata() const { return metadata_; }
    void setMetadata(Metadata metadata) { metadata_ = std::move(metadata); }

    // The next row of width * channels samples; valid until the following call.
    virtual const std::uint8_t* nextRow() = 0;
    // Called once all rows were taken, so a reader can verify the rest of the file.
    virtual void finish() {}
    // Asks for the rows scaled down by 1/denominator (2, 4 or 8) while decoding, before the first row
    // is taken; info() then gives the smaller size. False when the format cannot do that.
    virtual bool shrinkWhileDecoding(int denominator)
    {
        (void)denominator;
        return false;
    }

protected:
    ImageInfo info_;
    Metadata metadata_;
};

// A fully decoded image, for formats that cannot be delivered row by row.
class BufferedImage final : public ImageReader
{
public:
    // `bytesPerPixel` above `channels` leaves room for a decoder that writes wider pixels (e.g. RGBA)
    // into the same memory before they are packed down in place.
    BufferedImage(int width, int height, int channels, int bytesPerPixel = 0);

    std::uint8_t* data() { return pixels_.get(); }
    const std::uint8_t* data() const { return pixels_.get(); }
    void setUnusualCoding() { info_.unusualCoding = true; }
    std::uint8_t* row(int y) { return pixels_.get() + static_cast<std::size_t>(y) * stride(); }
    std::size_t stride() const { return static_cast<std::size_t>(info_.width) * info_.channels; }
    std::size_t pixelCount() const { return static_cast<std::size_t>(info_.width) * info_.height; }

    const std::uint8_t* nextRow() override;

private:
    // Releases memory from std::malloc or std::aligned_alloc.
    struct FreeDeleter
    {
        void operator()(std::uint8_t* p) const;
    };
    std::unique_ptr<std::uint8_t, FreeDeleter> pixels_;
    int nextRow_ = 0;
};

// Refuses sizes a JPEG cannot hold or that would need an unreasonable amount of memory.
void checkDimensions(long long width, long long height, const char* format);
// Lowers the pixel count checkDimensions accepts (never raises it), for the whole process; the fuzz target
// uses it so that one mutated header cannot make a single input take seconds.
void limitPixels(long long maxPixels);

// Blends a sample over white with straight (non-premultiplied) alpha.
inline std::uint8_t overWhite(unsigned value, unsigned alpha)
{
    return static_cast<std::uint8_t>((value * alpha + 255u * (255u - alpha) + 127u) / 255u);
}

// Drops the alpha of gray+alpha (2) or RGBA (4) pixels by blending them over white; `dst` may equal `src`.
void compositeOnWhite(const std::uint8_t* src, std::uint8_t* dst, std::size_t pixels, int channelsWithAlpha);

// Raises 8-bit colour samples (not alpha) from a file gamma to the sRGB-like 2.2 displays assume.
void applyGamma(std::uint8_t* pixels, std::size_t count, int channels, double fileGamma);

// Whether an ICC profile describes the given colour space ("RGB ", "GRAY", "CMYK", "Lab ").
bool iccColourSpaceIs(const std::vector<std::uint8_t>& icc, const char* signature);

// Wraps a bare TIFF-structured EXIF block (as PNG and WebP store it) into an APP1 payload.
std::vector<std::uint8_t> exifPayload(const std::uint8_t* data, std::size_t size);

} // namespace cjpeg
