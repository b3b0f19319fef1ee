#pragma once

#include <QtGlobal>

#include <limits>

namespace Nerova {

// Timestamp arithmetic that saturates instead of overflowing: damaged files carry arbitrary 64-bit
// timestamps and positions, and their sums must stay defined.
namespace TimestampMath {

inline qint64 add(qint64 a, qint64 b)
{
    qint64 result = 0;
    if (__builtin_add_overflow(a, b, &result))
        return b > 0 ? std::numeric_limits<qint64>::max() : std::numeric_limits<qint64>::min();
    return result;
}

inline qint64 sub(qint64 a, qint64 b)
{
    qint64 result = 0;
    if (__builtin_sub_overflow(a, b, &result))
        return b < 0 ? std::numeric_limits<qint64>::max() : std::numeric_limits<qint64>::min();
    return result;
}

inline qint64 mul(qint64 a, qint64 b)
{
    qint64 result = 0;
    if (__builtin_mul_overflow(a, b, &result))
        return (a < 0) != (b < 0) ? std::numeric_limits<qint64>::min() : std::numeric_limits<qint64>::max();
    return result;
}

// A 64-bit value kept in a 32-bit total, wrapping as a 32-bit register does.
inline qint32 wrap32(qint64 value)
{
    return static_cast<qint32>(static_cast<quint32>(static_cast<quint64>(value)));
}

} // namespace TimestampMath

} // namespace Nerova
