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
// How often the bit-cost estimates are re-derived from the symbols coded so far.
constexpr int kRefreshBlocks = 2048;
} // namespace

CoefficientEncoder::CoefficientEncoder(JpegCompressor& jpeg, const ImageInfo& info, int quality,
                                       bool progressive)
    : jpeg_(jpeg)
{
    jpeg_compress_struct& cinfo = jpeg_.cinfo;
    const bool gray = info.channels == 1;
    // Full-resolution chroma only where the user asks for near-lossless results; below that the bytes
    // are better spent on luma.
    const bool subsampled = subsampledAt(quality, info.channels);
    const int components = gray ? 1 : 3;
    planes_.resize(static_cast<std::size_t>(components));

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
        comp.h_samp_factor = comp.v_samp_factor = subsampled && !chroma ? 2 : 1;
        const JQUANT_TBL* table = cinfo.quant_tbl_ptrs[comp.quant_tbl_no];
        std::uint16_t* steps = steps_[chroma ? 1 : 0];
        for (int i = 0; i < 64; ++i)
            steps[i] = table->quantval[i];
        Plane& plane = planes_[static_cast<std::size_t>(c)];
        plane.steps = steps;
        plane.lambda = chroma ? 0.0f : kLumaLambda;
        // Blocks of this component, rounded up to whole MCUs as libjpeg expects of coefficient arrays.
        const int blockSide = subsampled && chroma ? 16 : 8;
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

void CoefficientEncoder::finish()
{
    jpegGuard(jpeg_.errors, [&] { jpeg_finish_compress(&jpeg_.cinfo); });
}

void CoefficientEncoder::takeBlocks(int component, int group, const float* blocks, int blockRows,
                                    int blocksWide)
{
    Plane& plane = planes_[static_cast<std::size_t>(component)];
    jpeg_compress_struct& cinfo = jpeg_.cinfo;
    JBLOCKARRAY rows = nullptr;
    jpegGuard(jpeg_.errors, [&] {
        rows = cinfo.mem->access_virt_barray(reinterpret_cast<j_common_ptr>(&cinfo), plane.coefficients,
                                             static_cast<JDIMENSION>(group * blockRows),
                                             static_cast<JDIMENSION>(blockRows), TRUE);
    });
    static_assert(std::is_same_v<JCOEF, std::int16_t>, "libjpeg's coefficients are 16-bit");
    const float* block = blocks;
    for (int by = 0; by < blockRows; ++by) {
        for (int bx = 0; bx < blocksWide; ++bx, block += 64) {
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
