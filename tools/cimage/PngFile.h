#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace cimage {

// One chunk of a PNG file: its four-letter type and payload.
struct PngChunk
{
    std::string type;
    std::vector<std::uint8_t> data;
};

// Splits a PNG file into its chunks, checking the signature and every length; throws on damage.
std::vector<PngChunk> parsePng(const std::vector<std::uint8_t>& file);

// Serialises chunks (with their CRCs) after the PNG signature.
std::vector<std::uint8_t> assemblePng(const std::vector<PngChunk>& chunks);

// Writes an 8-bit PNG, or an APNG when more than one frame is announced, in stored (uncompressed)
// deflate blocks: the file is an intermediate that another tool reads once.
class PngWriter
{
public:
    // `channels` 1-4 (gray, gray+alpha, RGB, RGBA); `loopCount` 0 plays an animation forever.
    PngWriter(std::FILE* out, int width, int height, int channels, int frameCount = 1, int loopCount = 0);
    PngWriter(const PngWriter&) = delete;
    PngWriter& operator=(const PngWriter&) = delete;

    // Adds the next full-size frame (rows of width * channels bytes, `stride` apart) shown for
    // `delayMs` milliseconds; the delay is ignored for a still image.
    void addFrame(const std::uint8_t* pixels, std::size_t stride, int delayMs = 0);
    void finish();

private:
    void writeChunk(const char* type, const std::vector<std::uint8_t>& data);
    void writeImageData(bool firstFrame, const std::uint8_t* data, std::size_t size);

    std::FILE* out_;
    int width_;
    int height_;
    int channels_;
    int frameCount_;
    int framesWritten_ = 0;
    std::uint32_t sequence_ = 0;
};

} // namespace cimage
