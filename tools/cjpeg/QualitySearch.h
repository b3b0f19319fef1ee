#pragma once

#include <cstdint>
#include <functional>
#include <map>

namespace cjpeg {

// Chooses the highest quality whose encoded size fits a byte budget from as few encodes as it can: the
// highest quality first, then guesses from log(size) against quality inside a shrinking bracket, until
// a fitting quality's next step up is known not to fit. Plain C++ so that cJpeg and the compress tasks
// share one search. The guesses work on an axis of the encoder's choosing (for JPEG the log of the
// quantiser scale), along which log(size) grows about evenly.
class QualitySearch
{
public:
    // Where a quality lies on the search's axis; must grow with the quality.
    using Axis = std::function<double(int quality)>;

    // lowest..highest: the qualities allowed; budget: bytes; logSlope: the expected growth of
    // log(size) per unit of the axis, for the first guess below a result that did not fit; axis:
    // empty for the quality itself.
    QualitySearch(int lowest, int highest, std::int64_t budget, double logSlope, Axis axis = {},
                  int maxEncodes = 8);

    // The next quality to encode, or -1 when the search is over.
    int next() const;
    void record(int quality, std::int64_t size);

    // Once over: the quality to deliver (the highest that fits, or else the smallest result's) and
    // whether its result fits.
    int chosen() const;
    bool fits() const;
    int encodes() const { return static_cast<int>(sizes_.size()); }
    bool tried(int quality) const { return sizes_.count(quality) != 0; }

private:
    // The highest tried quality that fits, or lowest_ - 1.
    int highestFitting() const;
    double at(int quality) const { return axis_ ? axis_(quality) : double(quality); }

    int lowest_;
    int highest_;
    std::int64_t budget_;
    double logSlope_;
    Axis axis_;
    int maxEncodes_;
    std::map<int, std::int64_t> sizes_;
};

} // namespace cjpeg
