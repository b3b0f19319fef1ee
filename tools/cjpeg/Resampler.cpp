#include "Resampler.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace cjpeg {

namespace {

constexpr double kLobes = 3.0;
constexpr double kPi = 3.14159265358979323846;

double sinc(double x)
{
    if (x == 0.0)
        return 1.0;
    const double px = kPi * x;
    return std::sin(px) / px;
}

double lanczos(double x)
{
    return std::abs(x) < kLobes ? sinc(x) * sinc(x / kLobes) : 0.0;
}

// The source samples and weights that make up each output sample along one axis.
struct Taps
{
    std::vector<int> first; // first source index per output index
    std::vector<int> count; // taps per output index
    std::vector<float> weights;
    int stride = 0; // weights per output index
};

Taps makeTaps(int sourceLength, int targetLength)
{
    const double scale = double(sourceLength) / targetLength;
    // When shrinking, the kernel is stretched over the source so that it also removes what the smaller
    // grid cannot hold; otherwise the result aliases (moire on fabric, jagged edges).
    const double filterScale = std::max(1.0, scale);
    const double support = kLobes * filterScale;
    Taps taps;
    taps.stride = static_cast<int>(std::ceil(support)) * 2 + 1;
    taps.first.resize(targetLength);
    taps.count.resize(targetLength);
    taps.weights.assign(static_cast<std::size_t>(targetLength) * taps.stride, 0.0f);
    for (int i = 0; i < targetLength; ++i) {
        const double centre = (i + 0.5) * scale - 0.5;
        const int first = std::max(0, static_cast<int>(std::floor(centre - support)) + 1);
        const int last = std::min(sourceLength - 1, static_cast<int>(std::ceil(centre + support)) - 1);
        const int count = std::min(taps.stride, std::max(1, last - first + 1));
        std::vector<double> w(count);
        double sum = 0.0;
        for (int k = 0; k < count; ++k) {
            w[k] = lanczos((first + k - centre) / filterScale);
            sum += w[k];
        }
        float* out = taps.weights.data() + static_cast<std::size_t>(i) * taps.stride;
        for (int k = 0; k < count; ++k)
            out[k] = static_cast<float>(sum != 0.0 ? w[k] / sum : (k == 0 ? 1.0 : 0.0));
        taps.first[i] = std::min(first, sourceLength - 1);
        taps.count[i] = count;
    }
    return taps;
}

// Filters one row of `Channels`-sample pixels along its length.
template <int Channels> void filterRow(const float* row, const Taps& taps, int width, float* out)
{
    for (int x = 0; x < width; ++x) {
        const float* w = taps.weights.data() + static_cast<std::size_t>(x) * taps.stride;
        const float* s = row + static_cast<std::size_t>(taps.first[x]) * Channels;
        float acc[Channels] = {};
        const int count = taps.count[x];
        for (int k = 0; k < count; ++k, s += Channels)
            for (int c = 0; c < Channels; ++c)
                acc[c] += w[k] * s[c];
        for (int c = 0; c < Channels; ++c)
            out[static_cast<std::size_t>(x) * Channels + c] = acc[c];
    }
}

std::uint8_t toByte(float value)
{
    return static_cast<std::uint8_t>(std::clamp(std::lround(value), 0L, 255L));
}

// A side of a box: empty, or at most the largest side a JPEG can have.
bool parseSide(const std::string& text, int& side)
{
    side = 0;
    if (text.empty())
        return true;
    if (text.size() > 6 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    side = std::stoi(text);
    return side <= 65535;
}

} // namespace

bool parseBox(const std::string& text, int& width, int& height)
{
    const std::size_t x = text.find('x');
    return x != std::string::npos && parseSide(text.substr(0, x), width) &&
           parseSide(text.substr(x + 1), height);
}

PixelSize fitInside(int width, int height, int maxWidth, int maxHeight)
{
    const bool wide = maxWidth > 0 && width > maxWidth;
    const bool tall = maxHeight > 0 && height > maxHeight;
    if (width <= 0 || height <= 0 || (!wide && !tall))
        return {};
    // The side that limits is the one whose box is relatively smaller; it gets the box exactly.
    const bool widthLimits =
        maxWidth > 0 && (maxHeight <= 0 || static_cast<long long>(width) * maxHeight >=
                                               static_cast<long long>(height) * maxWidth);
    if (widthLimits)
        return {maxWidth, std::max(1, static_cast<int>(std::lround(double(height) * maxWidth / width)))};
    return {std::max(1, static_cast<int>(std::lround(double(width) * maxHeight / height))), maxHeight};
}

std::unique_ptr<BufferedImage> resampleLanczos(const BufferedImage& source, PixelSize size)
{
    const ImageInfo& in = source.info();
    const int channels = in.channels;
    const bool alpha = hasAlpha(channels);
    const int colours = alpha ? channels - 1 : channels;
    const Taps across = makeTaps(in.width, size.width);
    const Taps down = makeTaps(in.height, size.height);

    // Rows filtered across, colour premultiplied by alpha, in a ring as deep as the vertical kernel:
    // each output row needs only the source rows under its kernel, and they only move down.
    const std::size_t midStride = static_cast<std::size_t>(size.width) * channels;
    const int ringRows = down.stride;
    std::vector<float> ring(midStride * static_cast<std::size_t>(ringRows));
    std::vector<float> row(static_cast<std::size_t>(in.width) * channels);
    const auto pass = channels == 1   ? filterRow<1>
                      : channels == 2 ? filterRow<2>
                      : channels == 3 ? filterRow<3>
                                      : filterRow<4>;
    int nextRow = 0;
    const auto filterAcross = [&](int y) {
        const std::uint8_t* src = source.data() + source.stride() * static_cast<std::size_t>(y);
        if (alpha) {
            for (int x = 0; x < in.width; ++x) {
                const std::uint8_t* p = src + static_cast<std::size_t>(x) * channels;
                float* q = row.data() + static_cast<std::size_t>(x) * channels;
                const float a = p[colours] / 255.0f;
                for (int c = 0; c < colours; ++c)
                    q[c] = p[c] * a;
                q[colours] = p[colours];
            }
        } else {
            std::copy(src, src + source.stride(), row.begin());
        }
        pass(row.data(), across, size.width,
             ring.data() + midStride * static_cast<std::size_t>(y % ringRows));
    };

    // Down each column, back to straight alpha and 8 bits.
    auto result = std::make_unique<BufferedImage>(size.width, size.height, channels);
    if (in.unusualCoding)
        result->setUnusualCoding();
    std::vector<float> acc(midStride);
    for (int y = 0; y < size.height; ++y) {
        for (; nextRow < down.first[y] + down.count[y]; ++nextRow)
            filterAcross(nextRow);
        std::fill(acc.begin(), acc.end(), 0.0f);
        const float* w = down.weights.data() + static_cast<std::size_t>(y) * down.stride;
        for (int k = 0; k < down.count[y]; ++k) {
            const float* s =
                ring.data() + midStride * static_cast<std::size_t>((down.first[y] + k) % ringRows);
            const float weight = w[k];
            for (std::size_t i = 0; i < midStride; ++i)
                acc[i] += weight * s[i];
        }
        std::uint8_t* dst = result->row(y);
        for (int x = 0; x < size.width; ++x) {
            const float* p = acc.data() + static_cast<std::size_t>(x) * channels;
            std::uint8_t* q = dst + static_cast<std::size_t>(x) * channels;
            if (!alpha) {
                for (int c = 0; c < channels; ++c)
                    q[c] = toByte(p[c]);
                continue;
            }
            const float a = std::clamp(p[colours], 0.0f, 255.0f);
            q[colours] = toByte(a);
            const float unpremultiply = a >= 0.5f ? 255.0f / a : 0.0f;
            for (int c = 0; c < colours; ++c)
                q[c] = toByte(p[c] * unpremultiply);
        }
    }
    result->setMetadata(source.metadata());
    return result;
}

} // namespace cjpeg
