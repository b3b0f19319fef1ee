#pragma once

#include "ForwardDct.h"
#include "Image.h"

#include <cstdint>
#include <vector>

namespace cjpeg {

// Turns RGB or gray scanlines into level-shifted YCbCr planes (chroma averaged down 2x2 when
// subsampled) and their 8x8 DCT coefficients, one row group (an iMCU row) at a time.
class BlockTransform
{
public:
    // Receives each row group's coefficients, component by component, luma first.
    class Sink
    {
    public:
        virtual ~Sink() = default;
        // blocks: blockRows * blocksWide blocks of 64 coefficients in row order, for row group `group`.
        virtual void takeBlocks(int component, int group, const float* blocks, int blockRows,
                                int blocksWide) = 0;
    };

    BlockTransform(const ImageInfo& info, bool subsampled, Sink& sink);
    BlockTransform(const BlockTransform&) = delete;
    BlockTransform& operator=(const BlockTransform&) = delete;

    // One row of width * channels samples, top row first.
    void addRow(const std::uint8_t* row);
    // Transforms the rows still buffered, padding the image to whole blocks.
    void finish();

    int components() const { return static_cast<int>(planes_.size()); }
    int rowsPerGroup() const { return rowsPerGroup_; }
    // Blocks across and down per row group of a component.
    int blocksWide(int component) const;
    int blockRows(int component) const;

private:
    void transformGroup();
    // Averages 2x2 squares of a chroma plane's row group into chroma_.
    void downsample(const float* src);
    void transformPlane(int component, const float* samples, int stride, int blockRows);

    ImageInfo info_;
    Sink& sink_;
    bool subsampled_ = false;
    int paddedWidth_ = 0;
    int rowsPerGroup_ = 8; // pixel rows per iMCU row: 16 with 2x2 chroma subsampling
    int bufferedRows_ = 0;
    int groupIndex_ = 0;
    std::vector<std::vector<float>> planes_; // rowsPerGroup_ rows of paddedWidth_ each, level-shifted
    std::vector<float> chroma_;              // one downsampled chroma row group
    std::vector<float> blocks_;              // one component's transformed row group
    ForwardDct dct_;
};

} // namespace cjpeg
