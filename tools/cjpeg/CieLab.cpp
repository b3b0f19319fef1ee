#include "CieLab.h"

#include <algorithm>
#include <cmath>

namespace cjpeg {

namespace {

// D50 reference white.
constexpr double kWhite[3] = {0.9642, 1.0, 0.8249};
// Bradford adaptation from D50 to D65 followed by the sRGB primaries. Without the adaptation a
// neutral gray would come out yellowish.
constexpr double kToLinearSrgb[3][3] = {{3.1338560, -1.6168665, -0.4906148},
                                        {-0.9787683, 1.9161414, 0.0334541},
                                        {0.0719453, -0.2289914, 1.4052427}};

double inverseF(double t)
{
    constexpr double delta = 6.0 / 29.0;
    return t > delta ? t * t * t : 3 * delta * delta * (t - 4.0 / 29.0);
}

} // namespace

LabToSrgb::LabToSrgb()
{
    for (int i = 0; i < 4096; ++i) {
        const double linear = i / 4095.0;
        const double v = linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
        encode_[i] = static_cast<std::uint8_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255));
    }
}

void LabToSrgb::convert(double l, double a, double b, std::uint8_t* rgb) const
{
    const double fy = (l + 16) / 116;
    const double xyz[3] = {kWhite[0] * inverseF(fy + a / 500), kWhite[1] * inverseF(fy),
                           kWhite[2] * inverseF(fy - b / 200)};
    for (int c = 0; c < 3; ++c) {
        const double linear =
            kToLinearSrgb[c][0] * xyz[0] + kToLinearSrgb[c][1] * xyz[1] + kToLinearSrgb[c][2] * xyz[2];
        rgb[c] = encode_[std::lround(std::clamp(linear, 0.0, 1.0) * 4095)];
    }
}

} // namespace cjpeg
