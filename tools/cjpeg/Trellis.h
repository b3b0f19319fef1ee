#pragma once

#include <array>
#include <cstdint>

namespace cjpeg {

// Estimated cost in bits of each AC Huffman symbol (run << 4 | size), learnt from the blocks already
// coded so the estimate follows the image without a second pass over it.
class RateModel
{
public:
    // Starts from the code lengths of a Huffman table (`bits[1..16]` and `values` as in a DHT segment).
    RateModel(const std::uint8_t* bits, const std::uint8_t* values);

    float symbolBits(int symbol) const { return bits_[symbol]; }
    void record(int symbol) { ++counts_[symbol]; }
    // Re-derives the costs from the counts; call now and then, not per block.
    void refresh();

private:
    std::array<float, 256> bits_{};
    std::array<float, 256> prior_{};
    std::array<std::uint32_t, 256> counts_{};
};

// Quantises an 8x8 block of DCT coefficients, choosing for each AC coefficient the level that minimises
// distortion + lambda * bits over the whole block (a trellis over run lengths) instead of rounding.
// Error is measured in quantiser steps, so the table's perceptual weighting carries over; `lambda` is
// the price of one bit in squared steps. `coef` and `out` are in natural (row) order, `step` holds the
// 64 quantiser steps. DC is rounded: its difference coding makes a per-block choice pointless.
void trellisQuantise(const float* coef, const std::uint16_t* step, float lambda, RateModel& rate,
                     std::int16_t* out);

// Plain rounding of every coefficient, the reference the trellis must beat.
void roundQuantise(const float* coef, const std::uint16_t* step, std::int16_t* out);

// AC distortion (in squared steps) + lambda * estimated AC bits of a quantised block.
float rdCost(const float* coef, const std::uint16_t* step, float lambda, const RateModel& rate,
             const std::int16_t* levels);

// Index in natural order of the k-th coefficient in zigzag order.
extern const std::array<std::uint8_t, 64> kZigzag;

} // namespace cjpeg
