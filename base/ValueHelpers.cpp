// Nearest values and multiples.
#include <base/Helpers.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <type_traits>

namespace Nerova {

namespace {

// Distance between two list values. Integers are measured exactly in the unsigned type of the same
// width, so values at the ends of the range neither overflow nor look near each other by wrapping.
template <typename T> auto distance(T a, T b)
{
    if constexpr (std::is_integral_v<T>) {
        using U = std::make_unsigned_t<T>;
        return a >= b ? U(U(a) - U(b)) : U(U(b) - U(a));
    } else {
        return std::abs(a - b);
    }
}

template <typename T> T getNearestValue_Inner(const QList<T>& list, T value)
{
    if (list.isEmpty())
        return value;
    T nearest = list.first();
    auto nearestDistance = distance(nearest, value);
    for (int i = 1; i < list.size(); ++i) {
        const auto d = distance(list.at(i), value);
        if (d < nearestDistance) { // strict: the first of equally near elements wins
            nearest = list.at(i);
            nearestDistance = d;
        }
    }
    return nearest;
}

} // namespace

int getNearestValue(const QList<int>& list, int value)
{
    return getNearestValue_Inner(list, value);
}

double getNearestValue(const QList<double>& list, double value)
{
    return getNearestValue_Inner(list, value);
}

long long getNearestValue(const QList<long long>& list, long long value)
{
    return getNearestValue_Inner(list, value);
}

int toEvenValue(int value)
{
    if (value == std::numeric_limits<int>::max())
        return value - 1;
    return (value + 1) & ~1;
}

int closestNumber(int n, int m)
{
    if (m == 0)
        return n;
    // 64 bits: n * m and the far multiple may leave the int range.
    const qint64 n64 = n;
    const qint64 m64 = m;
    const qint64 q = n64 / m64;
    const qint64 nearMultiple = m64 * q;
    const qint64 farMultiple = n64 * m64 > 0 ? m64 * (q + 1) : m64 * (q - 1);
    if (qAbs(n64 - nearMultiple) < qAbs(n64 - farMultiple))
        return int(nearMultiple);
    if (farMultiple < std::numeric_limits<int>::min() || farMultiple > std::numeric_limits<int>::max())
        return int(nearMultiple); // lies between n and zero, so always in range
    return int(farMultiple);
}

} // namespace Nerova
