#pragma once

#include "BlockTransform.h"
#include "Image.h"
#include "JpegSupport.h"
#include "Trellis.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace cjpeg {

// Rate-distortion optimises DCT coefficients into quantised blocks and hands them to libjpeg, which
// writes the headers and entropy-codes them (Huffman tables optimised, scans as configured). Row groups
// must arrive in order, each group's components luma first, as BlockTransform delivers them.
class CoefficientEncoder : public BlockTransform::Sink
{
public:
    // From this quality up chroma keeps full resolution (4:4:4); below it is halved both ways (4:2:0).
    static constexpr int kFullChromaQuality = 97;
    static bool subsampledAt(int quality, int channels)
    {
        return channels != 1 && quality < kFullChromaQuality;
    }

    // Sets up `jpeg` (already given its destination) and starts the file; markers may follow.
    CoefficientEncoder(JpegCompressor& jpeg, const ImageInfo& info, int quality, bool progressive);
    CoefficientEncoder(const CoefficientEncoder&) = delete;
    CoefficientEncoder& operator=(const CoefficientEncoder&) = delete;

    void takeBlocks(int component, int group, const float* blocks, int blockRows, int blocksWide) override;
    // Writes the file once every row group was taken.
    void finish();

private:
    // One colour component's coefficients and how they are quantised.
    struct Plane
    {
        jvirt_barray_ptr coefficients = nullptr;
        const std::uint16_t* steps = nullptr;
        float lambda = 0.0f; // 0: plain rounding
    };

    JpegCompressor& jpeg_;
    std::vector<Plane> planes_;
    // libjpeg keeps a pointer to this list until the file is finished.
    jvirt_barray_ptr arrays_[3] = {};
    std::uint16_t steps_[2][64] = {};
    std::unique_ptr<RateModel> lumaRate_;
    int blocksSinceRefresh_ = 0;
};

} // namespace cjpeg
