#pragma once

#include <cstdint>

namespace cjpeg {

// Converts CIE L*a*b* colours (D50 white, as TIFF and ICC store them) to 8-bit sRGB.
class LabToSrgb
{
public:
    LabToSrgb();
    // L in 0..100, a and b around 0; out-of-gamut colours are clipped.
    void convert(double l, double a, double b, std::uint8_t* rgb) const;

private:
    std::uint8_t encode_[4096]; // linear light (0..1 in 4096 steps) to the sRGB curve
};

} // namespace cjpeg
