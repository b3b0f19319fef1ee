#include "FittedImage.h"

#include "Orientation.h"

namespace cjpeg {

std::unique_ptr<BufferedImage> readUprightFitted(ImageReader& reader, int orientation, int maxWidth,
                                                 int maxHeight, PixelSize* resized)
{
    const bool transposed = orientation >= 5 && orientation <= 8;
    const int storedWidth = reader.info().width;
    const int storedHeight = reader.info().height;
    const PixelSize target = fitInside(transposed ? storedHeight : storedWidth,
                                       transposed ? storedWidth : storedHeight, maxWidth, maxHeight);
    *resized = target;
    if (target.width > 0) {
        const long long wantWidth = 2LL * (transposed ? target.height : target.width);
        const long long wantHeight = 2LL * (transposed ? target.width : target.height);
        for (const int denominator : {8, 4, 2}) {
            const long long width = (storedWidth + denominator - 1) / denominator;
            const long long height = (storedHeight + denominator - 1) / denominator;
            if (width >= wantWidth && height >= wantHeight && reader.shrinkWhileDecoding(denominator))
                break;
        }
    }
    auto upright = readOriented(reader, orientation);
    if (target.width == 0)
        return upright;
    return resampleLanczos(*upright, target);
}

} // namespace cjpeg
