#include "BlockTransform.h"

#include <algorithm>
#include <cstring>

namespace cjpeg {

namespace {
// Strength of a light horizontal sharpening of the downsampled chroma, which offsets part of the blur of
// averaging followed by a decoder's interpolating upsampling. Kept small: decoders that upsample
// differently would see the overshoot.
constexpr float kChromaSharpening = 0.05f;
} // namespace

BlockTransform::BlockTransform(const ImageInfo& info, bool subsampled, Sink& sink)
    : info_(info), sink_(sink), subsampled_(subsampled)
{
    rowsPerGroup_ = subsampled_ ? 16 : 8;
    paddedWidth_ = (info.width + rowsPerGroup_ - 1) / rowsPerGroup_ * rowsPerGroup_;
    planes_.resize(info.channels == 1 ? 1 : 3);
    for (std::vector<float>& plane : planes_)
        plane.resize(static_cast<std::size_t>(paddedWidth_) * rowsPerGroup_);
    if (subsampled_)
        chroma_.resize(static_cast<std::size_t>(paddedWidth_ / 2) * 8);
    blocks_.resize(static_cast<std::size_t>(paddedWidth_) * rowsPerGroup_);
}

int BlockTransform::blocksWide(int component) const
{
    return (subsampled_ && component > 0 ? paddedWidth_ / 2 : paddedWidth_) / 8;
}

int BlockTransform::blockRows(int component) const
{
    return component == 0 ? rowsPerGroup_ / 8 : 1;
}

void BlockTransform::addRow(const std::uint8_t* row)
{
    const std::size_t offset = static_cast<std::size_t>(bufferedRows_) * paddedWidth_;
    const int width = info_.width;
    float* y = planes_[0].data() + offset;
    if (planes_.size() == 1) {
        for (int x = 0; x < width; ++x)
            y[x] = row[x] - 128.0f;
    } else {
        // JFIF's full-range YCbCr, level-shifted to centre on zero as the DCT expects.
        float* cb = planes_[1].data() + offset;
        float* cr = planes_[2].data() + offset;
        for (int x = 0; x < width; ++x) {
            const float r = row[3 * x], g = row[3 * x + 1], b = row[3 * x + 2];
            y[x] = 0.299f * r + 0.587f * g + 0.114f * b - 128.0f;
            cb[x] = -0.168736f * r - 0.331264f * g + 0.5f * b;
            cr[x] = 0.5f * r - 0.418688f * g - 0.081312f * b;
        }
    }
    // Repeat the last column into the padding, so the edge blocks hold no artificial step.
    for (std::vector<float>& plane : planes_) {
        float* line = plane.data() + offset;
        std::fill(line + width, line + paddedWidth_, line[width - 1]);
    }
    if (++bufferedRows_ == rowsPerGroup_)
        transformGroup();
}

void BlockTransform::finish()
{
    if (bufferedRows_ == 0)
        return;
    // Repeat the last row down to a whole row group.
    for (std::vector<float>& plane : planes_) {
        float* samples = plane.data();
        const float* last = samples + static_cast<std::size_t>(bufferedRows_ - 1) * paddedWidth_;
        for (int y = bufferedRows_; y < rowsPerGroup_; ++y)
            std::copy(last, last + paddedWidth_, samples + static_cast<std::size_t>(y) * paddedWidth_);
    }
    transformGroup();
}

void BlockTransform::transformGroup()
{
    transformPlane(0, planes_[0].data(), paddedWidth_, rowsPerGroup_ / 8);
    for (std::size_t c = 1; c < planes_.size(); ++c) {
        if (subsampled_) {
            downsample(planes_[c].data());
            transformPlane(static_cast<int>(c), chroma_.data(), paddedWidth_ / 2, 1);
        } else {
            transformPlane(static_cast<int>(c), planes_[c].data(), paddedWidth_, 1);
        }
    }
    bufferedRows_ = 0;
    ++groupIndex_;
}

void BlockTransform::downsample(const float* src)
{
    const int halfWidth = paddedWidth_ / 2;
    for (int y = 0; y < 8; ++y) {
        const float* top = src + static_cast<std::size_t>(2 * y) * paddedWidth_;
        const float* bottom = top + paddedWidth_;
        float* out = chroma_.data() + static_cast<std::size_t>(y) * halfWidth;
        for (int x = 0; x < halfWidth; ++x)
            out[x] = 0.25f * (top[2 * x] + top[2 * x + 1] + bottom[2 * x] + bottom[2 * x + 1]);
        // Sharpen along the row only, so each row group stays independent of the next.
        float left = out[0], centre = out[0];
        for (int x = 0; x < halfWidth; ++x) {
            const float right = out[std::min(x + 1, halfWidth - 1)];
            out[x] = centre * (1.0f + 2.0f * kChromaSharpening) - kChromaSharpening * (left + right);
            left = centre;
            centre = right;
        }
    }
}

void BlockTransform::transformPlane(int component, const float* samples, int stride, int blockRows)
{
    const int blocksWide = stride / 8;
    float* block = blocks_.data();
    for (int by = 0; by < blockRows; ++by) {
        for (int bx = 0; bx < blocksWide; ++bx, block += 64) {
            const float* origin = samples + static_cast<std::size_t>(8 * by) * stride + 8 * bx;
            for (int y = 0; y < 8; ++y)
                std::memcpy(block + 8 * y, origin + static_cast<std::size_t>(y) * stride, 8 * sizeof(float));
            dct_.transform(block);
        }
    }
    sink_.takeBlocks(component, groupIndex_, blocks_.data(), blockRows, blocksWide);
}

} // namespace cjpeg
