#include "QualitySearch.h"

#include <algorithm>
#include <cmath>

namespace cjpeg {

namespace {
// A first guess below a result that did not fit aims this much under the budget, so it usually fits
// and closes the bracket from below.
constexpr double kFirstGuessMargin = 0.97;
} // namespace

QualitySearch::QualitySearch(int lowest, int highest, std::int64_t budget, double logSlope, Axis axis,
                             int maxEncodes)
    : lowest_(std::min(lowest, highest)), highest_(highest), budget_(budget), logSlope_(logSlope),
      axis_(std::move(axis)), maxEncodes_(std::max(1, maxEncodes))
{}

void QualitySearch::record(int quality, std::int64_t size)
{
    sizes_[quality] = size;
}

int QualitySearch::highestFitting() const
{
    for (auto it = sizes_.rbegin(); it != sizes_.rend(); ++it)
        if (it->second <= budget_)
            return it->first;
    return lowest_ - 1;
}

int QualitySearch::next() const
{
    if (sizes_.empty())
        return highest_;
    if (encodes() >= maxEncodes_)
        return -1;
    const int fit = highestFitting();
    // The smallest tried quality above the fitting one: it did not fit.
    const auto over = sizes_.upper_bound(fit);
    if (over == sizes_.end())
        return -1; // the highest quality fits
    const int low = fit + 1, high = over->first - 1;
    if (low > high)
        return -1; // fit's next step up did not fit, or nothing down to the lowest fits
    const double logBudget = std::log(double(budget_));
    const double logOver = std::log(double(over->second));
    // The guess is a point on the axis; the quality taken is the highest at or below it, so the guess
    // tends to fit.
    double guess = 0.0;
    const double overAt = at(over->first);
    if (fit >= lowest_) {
        // Between a fitting and a non-fitting result: interpolate.
        const double logFit = std::log(double(sizes_.at(fit)));
        const double span = logOver - logFit;
        const double fitAt = at(fit);
        guess = span > 0.0 ? fitAt + (logBudget - logFit) / span * (overAt - fitAt) : std::nan("");
    } else {
        // Below every result: the slope of the two lowest results when there are two, else the default.
        // The default slope is only a rough guess, so the first step aims a little lower.
        double slope = logSlope_;
        double margin = std::log(kFirstGuessMargin);
        const auto above = std::next(over);
        if (above != sizes_.end() && above->second > over->second) {
            slope = (std::log(double(above->second)) - logOver) / (at(above->first) - overAt);
            margin = 0.0;
        }
        guess = overAt + (logBudget + margin - logOver) / slope;
    }
    if (!std::isfinite(guess))
        return (low + high) / 2;
    int quality = low;
    while (quality < high && at(quality + 1) <= guess)
        ++quality;
    return quality;
}

int QualitySearch::chosen() const
{
    const int fit = highestFitting();
    if (fit >= lowest_)
        return fit;
    const auto smallest = std::min_element(sizes_.begin(), sizes_.end(),
                                           [](const auto& a, const auto& b) { return a.second < b.second; });
    return smallest == sizes_.end() ? highest_ : smallest->first;
}

bool QualitySearch::fits() const
{
    return highestFitting() >= lowest_;
}

} // namespace cjpeg
