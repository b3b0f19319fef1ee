#include "ForwardDct.h"

#include <cmath>

namespace cjpeg {

ForwardDct::ForwardDct()
{
    const double pi = std::acos(-1.0);
    for (int u = 0; u < 8; ++u) {
        const double scale = u == 0 ? std::sqrt(0.125) : 0.5;
        for (int x = 0; x < 8; ++x)
            basis_[u][x] = static_cast<float>(scale * std::cos((2 * x + 1) * u * pi / 16.0));
    }
}

void ForwardDct::transform(float* block) const
{
    // Two passes of a matrix product; the inner loops run over contiguous columns so the compiler
    // vectorises them, which beats a scalar fast-DCT butterfly at this size.
    float rows[64];
    for (int y = 0; y < 8; ++y) {
        const float* in = block + 8 * y;
        for (int u = 0; u < 8; ++u) {
            float sum = 0.0f;
            for (int x = 0; x < 8; ++x)
                sum += basis_[u][x] * in[x];
            rows[8 * y + u] = sum; // row y, horizontal frequency u
        }
    }
    for (int v = 0; v < 8; ++v) {
        float out[8] = {};
        for (int y = 0; y < 8; ++y) {
            const float weight = basis_[v][y];
            for (int u = 0; u < 8; ++u)
                out[u] += weight * rows[8 * y + u];
        }
        for (int u = 0; u < 8; ++u)
            block[8 * v + u] = out[u];
    }
}

} // namespace cjpeg
