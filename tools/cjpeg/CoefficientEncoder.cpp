#include "CoefficientEncoder.h"

#include "QuantTables.h"
#include "ScanScript.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

namespace cjpeg {

namespace {
// Price of one luma bit in squared quantiser steps. Chroma is rounded plainly: dropping its small
// coefficients costs more similarity than the bytes are worth.
constexpr float kLumaLambda = 0.01f;
// Strength of a light horizontal sharpening of the downsampled chroma, which offsets part of the blur of
// averaging followed by a decoder's interpolating upsampling. Kept small: decoders that upsample
// differently would see the overshoot.
constexpr float kChromaSharpening = 0.05f;
// How often the bit-cost estimates are re-derived from the symbols coded so far.
constexpr int kRefreshBlocks = 2048;
} // namespace

CoefficientEncoder::CoefficientEncoder(JpegCompressor& jpeg, const ImageInfo& info, int quality,
                                       bool progressive)
    : jpeg_(jpeg), info_(info)
{
    jpeg_compress_struct& cinfo = jpeg_.cinfo;
    const bool gray = info.channels == 1;
    // Full-resolution chroma only where the user asks for near-lossless results; below that the bytes
    // are better spent on luma.
    subsampled_ = !gray && quality < kFullChromaQuality;
    rowsPerGroup_ = subsampled_ ? 16 : 8;
    paddedWidth_ = (info.width + rowsPerGroup_ - 1) / rowsPerGroup_ * rowsPerGroup_;
    const int components = gray ? 1 : 3;
    planes_.resize(static_cast<std::size_t>(components));
    for (Plane& plane : planes_)
        plane.samples.resize(static_cast<std::size_t>(paddedWidth_) * rowsPerGroup_);
    if (subsampled_)
        chroma_.resize(static_cast<std::size_t>(paddedWidth_ / 2) * 8);

    cinfo.image_width = static_cast<JDIMENSION>(info.width);
    cinfo.image_height = static_cast<JDIMENSION>(info.height);
    cinfo.input_components = components;
    cinfo.in_color_space = gray ? JCS_GRAYSCALE : JCS_RGB;
    jpegGuard(jpeg_.errors, [&] {
        jpeg_set_defaults(&cinfo);
        setQuantTables(cinfo, quality);
        cinfo.optimize_coding = TRUE;
        if (progressive)
            setProgressiveScans(cinfo);
    });

    const auto roundUp = [](int value, int multiple) {
        return (value + multiple - 1) / multiple * multiple;
    };
    for (int c = 0; c < components; ++c) {
        jpeg_component_info& comp = cinfo.comp_info[c];
        const bool chroma = c > 0;
        comp.h_samp_factor = comp.v_samp_factor = subsampled_ && !chroma ? 2 : 1;
        const JQUANT_TBL* table = cinfo.quant_tbl_ptrs[comp.quant_tbl_no];
        std::uint16_t* steps = steps_[chroma ? 1 : 0];
        for (int i = 0; i < 64; ++i)
            steps[i] = table->quantval[i];
        Plane& plane = planes_[static_cast<std::size_t>(c)];
        plane.steps = steps;
        plane.lambda = chroma ? 0.0f : kLumaLambda;
        // Blocks of this component, rounded up to whole MCUs as libjpeg expects of coefficient arrays.
        const int blockSide = subsampled_ && chroma ? 16 : 8;
        const int factor = comp.h_samp_factor;
        const auto width = static_cast<JDIMENSION>(roundUp((info.width + blockSide - 1) / blockSide, factor));
        const auto height =
            static_cast<JDIMENSION>(roundUp((info.height + blockSide - 1) / blockSide, factor));
        jpegGuard(jpeg_.errors, [&] {
            plane.coefficients =
                cinfo.mem->request_virt_barray(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE, FALSE,
                                               width, height, static_cast<JDIMENSION>(factor));
        });
        arrays_[c] = plane.coefficients;
    }
    // Start from the standard Huffman tables' code lengths; the model then learns the image's own.
    const JHUFF_TBL* lumaAc = cinfo.ac_huff_tbl_ptrs[0];
    lumaRate_ = std::make_unique<RateModel>(lumaAc->bits, lumaAc->huffval);

    jpegGuard(jpeg_.errors, [&] { jpeg_write_coefficients(&cinfo, arrays_); });
}

void CoefficientEncoder::addRow(const std::uint8_t* row)
{
    const std::size_t offset = static_cast<std::size_t>(bufferedRows_) * paddedWidth_;
    const int width = info_.width;
    float* y = planes_[0].samples.data() + offset;
    if (planes_.size() == 1) {
        for (int x = 0; x < width; ++x)
            y[x] = row[x] - 128.0f;
    } else {
        // JFIF's full-range YCbCr, level-shifted to centre on zero as the DCT expects.
        float* cb = planes_[1].samples.data() + offset;
        float* cr = planes_[2].samples.data() + offset;
        for (int x = 0; x < width; ++x) {
            const float r = row[3 * x], g = row[3 * x + 1], b = row[3 * x + 2];
            y[x] = 0.299f * r + 0.587f * g + 0.114f * b - 128.0f;
            cb[x] = -0.168736f * r - 0.331264f * g + 0.5f * b;
            cr[x] = 0.5f * r - 0.418688f * g - 0.081312f * b;
        }
    }
    // Repeat the last column into the padding, so the edge blocks hold no artificial step.
    for (Plane& plane : planes_) {
        float* line = plane.samples.data() + offset;
        std::fill(line + width, line + paddedWidth_, line[width - 1]);
    }
    if (++bufferedRows_ == rowsPerGroup_)
        codeRowGroup();
}

void CoefficientEncoder::finish()
{
    if (bufferedRows_ > 0) {
        // Repeat the last row down to a whole row group.
        for (Plane& plane : planes_) {
            float* samples = plane.samples.data();
            const float* last = samples + static_cast<std::size_t>(bufferedRows_ - 1) * paddedWidth_;
            for (int y = bufferedRows_; y < rowsPerGroup_; ++y)
                std::copy(last, last + paddedWidth_, samples + static_cast<std::size_t>(y) * paddedWidth_);
        }
        codeRowGroup();
    }
    jpegGuard(jpeg_.errors, [&] { jpeg_finish_compress(&jpeg_.cinfo); });
}

void CoefficientEncoder::codeRowGroup()
{
    codePlane(planes_[0], planes_[0].samples.data(), paddedWidth_, rowsPerGroup_ / 8);
    for (std::size_t c = 1; c < planes_.size(); ++c) {
        if (subsampled_) {
            downsample(planes_[c].samples.data());
            codePlane(planes_[c], chroma_.data(), paddedWidth_ / 2, 1);
        } else {
            codePlane(planes_[c], planes_[c].samples.data(), paddedWidth_, 1);
        }
    }
    bufferedRows_ = 0;
    ++groupIndex_;
}

void CoefficientEncoder::downsample(const float* src)
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

void CoefficientEncoder::codePlane(Plane& plane, const float* samples, int stride, int blockRows)
{
    jpeg_compress_struct& cinfo = jpeg_.cinfo;
    JBLOCKARRAY rows = nullptr;
    jpegGuard(jpeg_.errors, [&] {
        rows = cinfo.mem->access_virt_barray(reinterpret_cast<j_common_ptr>(&cinfo), plane.coefficients,
                                             static_cast<JDIMENSION>(groupIndex_ * blockRows),
                                             static_cast<JDIMENSION>(blockRows), TRUE);
    });
    static_assert(std::is_same_v<JCOEF, std::int16_t>, "libjpeg's coefficients are 16-bit");
    const int blocksWide = stride / 8;
    float block[64];
    for (int by = 0; by < blockRows; ++by) {
        for (int bx = 0; bx < blocksWide; ++bx) {
            const float* origin = samples + static_cast<std::size_t>(8 * by) * stride + 8 * bx;
            for (int y = 0; y < 8; ++y)
                std::memcpy(block + 8 * y, origin + static_cast<std::size_t>(y) * stride, 8 * sizeof(float));
            dct_.transform(block);
            JCOEF* out = rows[by][bx];
            if (plane.lambda == 0.0f) {
                roundQuantise(block, plane.steps, out);
                continue;
            }
            trellisQuantise(block, plane.steps, plane.lambda, *lumaRate_, out);
            if (++blocksSinceRefresh_ == kRefreshBlocks) {
                blocksSinceRefresh_ = 0;
                lumaRate_->refresh();
            }
        }
    }
}

} // namespace cjpeg
