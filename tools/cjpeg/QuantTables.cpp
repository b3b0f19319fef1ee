#include "QuantTables.h"

#include <cmath>

namespace cjpeg {

namespace {
// Steps at quality 50 grow smoothly from kBaseStep at DC to kBaseStep * (1 + kSlope) at the highest
// frequency, as a power of the radial frequency. The eye's contrast sensitivity falls off smoothly
// and about equally along both axes; the classic tables' uneven steps (e.g. 10 next to 16 and 24)
// follow no such curve and spend bits where they are not seen.
constexpr double kBaseStep = 13.0;
constexpr double kSlope = 6.0;
constexpr double kPower = 1.5;
} // namespace

void setQuantTables(jpeg_compress_struct& cinfo, int quality)
{
    unsigned table[64];
    for (int i = 0; i < 64; ++i) {
        const int u = i % 8, v = i / 8;
        const double radius = std::sqrt(double(u * u + v * v) / 98.0); // 1 at the highest frequency
        table[i] = static_cast<unsigned>(std::lround(kBaseStep * (1.0 + kSlope * std::pow(radius, kPower))));
    }
    // Chroma uses the same steps: averaged down to half resolution, its errors are no less visible, and
    // the fine steps cost few bytes since chroma is mostly smooth.
    const int scale = jpeg_quality_scaling(quality);
    jpeg_add_quant_table(&cinfo, 0, table, scale, TRUE);
    jpeg_add_quant_table(&cinfo, 1, table, scale, TRUE);
}

} // namespace cjpeg
