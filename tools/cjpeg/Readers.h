#pragma once

#include "FileIo.h"
#include "Image.h"

#include <memory>
#include <string>
#include <vector>

namespace cjpeg {

// How many stray bytes (a mail or transfer header, say) may precede a JPEG's start of image. Kept
// small so that a JPEG thumbnail inside some other format is not taken for the picture.
constexpr std::size_t kMaxJunkBeforeJpeg = 4096;

// The container formats the readers understand, recognised by content.
enum class ImageFormat { Jpeg, Png, Gif, Bmp, Tiff, Webp, Pnm };

// Recognises the format from the file's leading bytes, whatever its name says; rewinds the file.
ImageFormat detectFormat(std::FILE* file);
const char* formatName(ImageFormat format);

// Opens the decoder that fits the file's content; `detected`, when given, receives the format.
std::unique_ptr<ImageReader> openImage(const std::string& path, ImageFormat* detected = nullptr);
// The same for an open stream, e.g. one over bytes in memory (fmemopen); the reader takes it over.
std::unique_ptr<ImageReader> openImage(FilePtr file, ImageFormat* detected = nullptr);

std::unique_ptr<ImageReader> readJpeg(FilePtr file);
std::unique_ptr<ImageReader> readPng(FilePtr file);
std::unique_ptr<ImageReader> readBmp(FilePtr file);
std::unique_ptr<ImageReader> readPnm(FilePtr file);
std::unique_ptr<ImageReader> readGif(FilePtr file);
std::unique_ptr<ImageReader> readTiff(const std::string& path);
std::unique_ptr<ImageReader> readTiff(FilePtr file);
std::unique_ptr<ImageReader> readWebp(FilePtr file);

} // namespace cjpeg

namespace cjpeg {

// Decodes an animated (or still) WebP frame by frame, each fully composed on the RGBA canvas.
class WebpFrames
{
public:
    explicit WebpFrames(FilePtr file);
    explicit WebpFrames(std::vector<std::uint8_t> bytes);
    ~WebpFrames();
    WebpFrames(const WebpFrames&) = delete;
    WebpFrames& operator=(const WebpFrames&) = delete;

    int width() const { return width_; }
    int height() const { return height_; }
    int frameCount() const { return frameCount_; }
    int loopCount() const { return loopCount_; } // 0 = forever
    bool hasAlpha() const { return hasAlpha_; }
    const Metadata& metadata() const { return metadata_; }

    // The next canvas (width * height RGBA, valid until the following call) and the time it ends,
    // in milliseconds from the start; nullptr after the last frame.
    const std::uint8_t* next(int* endTimeMs);

private:
    struct Decoder;
    std::unique_ptr<Decoder> decoder_;
    int width_ = 0;
    int height_ = 0;
    int frameCount_ = 0;
    int loopCount_ = 0;
    bool hasAlpha_ = false;
    Metadata metadata_;
};

} // namespace cjpeg
