#pragma once

#include "ForwardDct.h"
#include "Image.h"
#include "JpegSupport.h"
#include "Trellis.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace cjpeg {

// Turns RGB or gray scanlines into rate-distortion optimised DCT coefficients and hands them to libjpeg,
// which writes the headers and entropy-codes them (Huffman tables optimised, scans as configured).
class CoefficientEncoder
{
public:
    // From this quality up chroma keeps full resolution (4:4:4); below it is halved both ways (4:2:0).
    static constexpr int kFullChromaQuality = 97;

    // Sets up `jpeg` (already given its destination) and starts the file; markers may follow.
    CoefficientEncoder(JpegCompressor& jpeg, const ImageInfo& info, int quality, bool progressive);
    CoefficientEncoder(const CoefficientEncoder&) = delete;
    CoefficientEncoder& operator=(const CoefficientEncoder&) = delete;

    // One row of width * channels samples, top row first.
    void addRow(const std::uint8_t* row);
    // Codes the rows still buffered (padding the image to whole blocks) and writes the file.
    void finish();

private:
    // One colour component: its buffered rows and where its coefficients go.
    struct Plane
    {
        std::vector<float> samples; // rowsPerGroup_ rows of paddedWidth_, level-shifted
        jvirt_barray_ptr coefficients = nullptr;
        const std::uint16_t* steps = nullptr;
        float lambda = 0.0f; // 0: plain rounding
    };

    void codeRowGroup();
    // Averages 2x2 squares of a chroma plane's row group into chroma_.
    void downsample(const float* src);
    void codePlane(Plane& plane, const float* samples, int stride, int blockRows);

    JpegCompressor& jpeg_;
    ImageInfo info_;
    int paddedWidth_ = 0;
    int rowsPerGroup_ = 8; // pixel rows per iMCU row: 16 with 2x2 chroma subsampling
    bool subsampled_ = false;
    int bufferedRows_ = 0;
    int groupIndex_ = 0;
    std::vector<Plane> planes_;
    // libjpeg keeps a pointer to this list until the file is finished.
    jvirt_barray_ptr arrays_[3] = {};
    std::vector<float> chroma_; // one downsampled chroma row group
    std::uint16_t steps_[2][64] = {};
    std::unique_ptr<RateModel> lumaRate_;
    ForwardDct dct_;
    int blocksSinceRefresh_ = 0;
};

} // namespace cjpeg
