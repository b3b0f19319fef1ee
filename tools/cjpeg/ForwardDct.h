#pragma once

namespace cjpeg {

// Orthonormal 8x8 forward DCT (the scaling JPEG quantisation tables assume), in single precision.
class ForwardDct
{
public:
    ForwardDct();

    // `block` holds 64 level-shifted samples in row order and receives the coefficients in place.
    void transform(float* block) const;

private:
    float basis_[8][8];  // basis_[u][x]: weight of sample x in frequency u
    float basisT_[8][8]; // the same transposed, for the pass that runs along rows
};

} // namespace cjpeg
