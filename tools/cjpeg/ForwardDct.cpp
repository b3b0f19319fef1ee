#include "ForwardDct.h"

#include <cmath>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace cjpeg {

ForwardDct::ForwardDct()
{
    const double pi = std::acos(-1.0);
    for (int u = 0; u < 8; ++u) {
        const double scale = u == 0 ? std::sqrt(0.125) : 0.5;
        for (int x = 0; x < 8; ++x)
            basis_[u][x] = basisT_[x][u] = static_cast<float>(scale * std::cos((2 * x + 1) * u * pi / 16.0));
    }
}

void ForwardDct::transform(float* block) const
{
    // Two passes of a matrix product, each accumulating a row of eight frequencies at a time in the
    // same order as the plain loops below, so both give bit-identical results.
    float rows[64]; // rows[8 * y + u]: row y, horizontal frequency u
#ifdef __SSE2__
    for (int y = 0; y < 8; ++y) {
        __m128 low = _mm_setzero_ps(), high = _mm_setzero_ps();
        for (int x = 0; x < 8; ++x) {
            const __m128 sample = _mm_set1_ps(block[8 * y + x]);
            low = _mm_add_ps(low, _mm_mul_ps(_mm_loadu_ps(basisT_[x]), sample));
            high = _mm_add_ps(high, _mm_mul_ps(_mm_loadu_ps(basisT_[x] + 4), sample));
        }
        _mm_storeu_ps(rows + 8 * y, low);
        _mm_storeu_ps(rows + 8 * y + 4, high);
    }
    for (int v = 0; v < 8; ++v) {
        __m128 low = _mm_setzero_ps(), high = _mm_setzero_ps();
        for (int y = 0; y < 8; ++y) {
            const __m128 weight = _mm_set1_ps(basis_[v][y]);
            low = _mm_add_ps(low, _mm_mul_ps(weight, _mm_loadu_ps(rows + 8 * y)));
            high = _mm_add_ps(high, _mm_mul_ps(weight, _mm_loadu_ps(rows + 8 * y + 4)));
        }
        _mm_storeu_ps(block + 8 * v, low);
        _mm_storeu_ps(block + 8 * v + 4, high);
    }
#else
    for (int y = 0; y < 8; ++y) {
        float out[8] = {};
        for (int x = 0; x < 8; ++x)
            for (int u = 0; u < 8; ++u)
                out[u] += basisT_[x][u] * block[8 * y + x];
        for (int u = 0; u < 8; ++u)
            rows[8 * y + u] = out[u];
    }
    for (int v = 0; v < 8; ++v) {
        float out[8] = {};
        for (int y = 0; y < 8; ++y)
            for (int u = 0; u < 8; ++u)
                out[u] += basis_[v][y] * rows[8 * y + u];
        for (int u = 0; u < 8; ++u)
            block[8 * v + u] = out[u];
    }
#endif
}

} // namespace cjpeg
