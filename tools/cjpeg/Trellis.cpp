#include "Trellis.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace cjpeg {

const std::array<std::uint8_t, 64> kZigzag = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                                              12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                                              35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                                              58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

namespace {
constexpr int kEob = 0x00;
constexpr int kZeroRun16 = 0xF0;
// Weight of the starting table against the counts: small, so the image's statistics take over quickly.
constexpr float kPriorWeight = 64.0f;

// Rounds half away from zero, as libjpeg's quantiser does; written without branches or library calls
// so that loops over a block vectorise.
inline std::int16_t roundLevel(float scaled)
{
    return static_cast<std::int16_t>(scaled + std::copysign(0.5f, scaled));
}

int magnitudeBits(int value)
{
    const auto v = static_cast<unsigned>(std::abs(value));
#if defined(__GNUC__)
    return v ? 32 - __builtin_clz(v) : 0;
#else
    int bits = 0;
    for (unsigned rest = v; rest; rest >>= 1)
        ++bits;
    return bits;
#endif
}
} // namespace

RateModel::RateModel(const std::uint8_t* bits, const std::uint8_t* values)
{
    prior_.fill(1.0f / 65536.0f);
    int index = 0;
    for (int length = 1; length <= 16; ++length)
        for (int i = 0; i < bits[length]; ++i)
            prior_[values[index++]] = std::ldexp(1.0f, -length);
    float total = 0.0f;
    for (float& p : prior_)
        total += p;
    for (float& p : prior_)
        p *= kPriorWeight / total;
    refresh();
}

void RateModel::refresh()
{
    double total = 0.0;
    for (int s = 0; s < 256; ++s)
        total += counts_[s] + prior_[s];
    for (int s = 0; s < 256; ++s) {
        // A symbol never costs less than one bit in a Huffman code.
        const double bits = -std::log2((counts_[s] + prior_[s]) / total);
        bits_[s] = static_cast<float>(bits < 1.0 ? 1.0 : bits);
    }
}

void roundQuantise(const float* coef, const std::uint16_t* step, std::int16_t* out)
{
    for (int i = 0; i < 64; ++i)
        out[i] = roundLevel(coef[i] / step[i]);
}

float rdCost(const float* coef, const std::uint16_t* step, float lambda, const RateModel& rate,
             const std::int16_t* levels)
{
    float distortion = 0.0f, bits = 0.0f;
    int run = 0;
    for (int k = 1; k < 64; ++k) {
        const int i = kZigzag[k];
        const float error = coef[i] / step[i] - levels[i];
        distortion += error * error;
        if (levels[i] == 0) {
            ++run;
            continue;
        }
        for (; run >= 16; run -= 16)
            bits += rate.symbolBits(kZeroRun16);
        const int size = magnitudeBits(levels[i]);
        bits += rate.symbolBits(run << 4 | size) + size;
        run = 0;
    }
    if (run > 0)
        bits += rate.symbolBits(kEob);
    return distortion + lambda * bits;
}

void trellisQuantise(const float* coef, const std::uint16_t* step, float lambda, RateModel& rate,
                     std::int16_t* out)
{
    // Everything in units of the quantiser step, so the table's perceptual weighting carries over.
    float scaled[64];
    float zeroCost[65]; // zeroCost[k]: distortion of zeroing coefficients 1..k-1 (prefix sums)
    int candidates[64];
    int candidateCount = 0;
    zeroCost[0] = zeroCost[1] = 0.0f;
    for (int k = 1; k < 64; ++k) {
        const int i = kZigzag[k];
        scaled[k] = coef[i] / step[i];
        const float magnitude = std::fabs(scaled[k]);
        zeroCost[k + 1] = zeroCost[k] + magnitude * magnitude;
        // Below half a step rounding gives zero, and any non-zero level would cost both bits and error.
        if (magnitude >= 0.5f)
            candidates[candidateCount++] = k;
    }
    out[0] = roundLevel(coef[0] / step[0]);

    // best[n]: cheapest cost of coefficients 1..candidates[n] with that coefficient the last non-zero.
    float best[64];
    int from[64];   // previous non-zero candidate index, or -1 for the block start
    int levels[64]; // chosen magnitude at that candidate
    for (int n = 0; n < candidateCount; ++n) {
        const int k = candidates[n];
        const float magnitude = std::fabs(scaled[k]);
        const int upper = static_cast<int>(magnitude + 0.5f);
        const int lower = upper - 1;
        const float upperError = (magnitude - upper) * (magnitude - upper);
        const float lowerError = (magnitude - lower) * (magnitude - lower);
        const int upperSize = magnitudeBits(upper), lowerSize = magnitudeBits(lower);
        float bestCost = INFINITY;
        int bestFrom = -1, bestLevel = upper;
        for (int p = n - 1; p >= -1; --p) {
            const int previousK = p < 0 ? 0 : candidates[p];
            const float before = p < 0 ? 0.0f : best[p];
            const float skipped = zeroCost[k] - zeroCost[previousK + 1];
            if (skipped >= bestCost)
                break; // zeroing even more coefficients only adds error
            int run = k - previousK - 1;
            float runBits = 0.0f;
            for (; run >= 16; run -= 16)
                runBits += rate.symbolBits(kZeroRun16);
            const float base = before + skipped + lambda * runBits;
            float c = base + upperError + lambda * (rate.symbolBits(run << 4 | upperSize) + upperSize);
            if (c < bestCost) {
                bestCost = c;
                bestFrom = p;
                bestLevel = upper;
            }
            if (lower > 0) {
                c = base + lowerError + lambda * (rate.symbolBits(run << 4 | lowerSize) + lowerSize);
                if (c < bestCost) {
                    bestCost = c;
                    bestFrom = p;
                    bestLevel = lower;
                }
            }
        }
        best[n] = bestCost;
        from[n] = bestFrom;
        levels[n] = bestLevel;
    }

    // Pick where the block ends: after the last kept coefficient comes an end-of-block symbol unless
    // that coefficient is the 63rd.
    const float eobBits = rate.symbolBits(kEob);
    float bestTotal = zeroCost[64] + lambda * eobBits;
    int last = -1;
    for (int n = 0; n < candidateCount; ++n) {
        const int k = candidates[n];
        const float total = best[n] + zeroCost[64] - zeroCost[k + 1] + (k < 63 ? lambda * eobBits : 0.0f);
        if (total < bestTotal) {
            bestTotal = total;
            last = n;
        }
    }

    std::fill(out + 1, out + 64, std::int16_t{0}); // natural order also has DC first
    int run = 0;
    // Walk back the chosen path, then record its symbols front to back for the rate model.
    int path[64];
    int pathLength = 0;
    for (int n = last; n >= 0; n = from[n])
        path[pathLength++] = n;
    int position = 0;
    for (int j = pathLength - 1; j >= 0; --j) {
        const int n = path[j];
        const int k = candidates[n];
        const int level = levels[n];
        out[kZigzag[k]] = static_cast<std::int16_t>(scaled[k] < 0 ? -level : level);
        run = k - position - 1;
        for (; run >= 16; run -= 16)
            rate.record(kZeroRun16);
        rate.record(run << 4 | magnitudeBits(level));
        position = k;
    }
    if (position < 63)
        rate.record(kEob);
}

} // namespace cjpeg
