#pragma once

#include <base/NerovaGlobal.h>

#include <QList>
#include <QString>
#include <QVariant>

namespace Nerova {

// The list element nearest to value (the first of equally near ones), or value for an empty list.
// Integer distances are exact, also where the difference would not fit the element type.
NEROVA_EXPORT int getNearestValue(const QList<int>& list, int value);
NEROVA_EXPORT double getNearestValue(const QList<double>& list, double value);
NEROVA_EXPORT long long getNearestValue(const QList<long long>& list, long long value);

// value rounded up to an even number (3 -> 4, -3 -> -2); the largest int gives the largest even int.
NEROVA_EXPORT int toEvenValue(int value);

// The multiple of m nearest to n, a tie going to the one farther from zero; n itself when m is 0.
// When that multiple lies beyond the int range the nearer one within it is returned.
NEROVA_EXPORT int closestNumber(int n, int m);

// A new random identifier: 32 lower-case hexadecimal digits.
NEROVA_EXPORT QString md5FromQUuid();

// Whether the zero-terminated bytes are valid UTF-8 (no overlong forms, surrogates or values above
// U+10FFFF); false for a null pointer.
NEROVA_EXPORT bool isUtf8String(const char* str);

// Whether name is exactly one of the social platforms the suite publishes to.
NEROVA_EXPORT bool isSocialType(const QString& name);

// base and child joined with the native separator, "." and ".." resolved and doubled separators collapsed.
NEROVA_EXPORT QString appendPath(const QString& base, const QString& child);

// "NVIDIA" or "AMD" when the name, or failing that a known GPU model, names the vendor; else empty.
NEROVA_EXPORT QString getCodecGpuName(const QString& name);

// Whether the file is a still image Qt can read and size without decoding; GIF does not count.
NEROVA_EXPORT bool isImage(const QString& path);

// The GPU models of the machine, as the host reports them.
namespace GpuModel {

// The known models, each a map whose "name" member is the model name; empty until the host sets it.
NEROVA_EXPORT QList<QVariant> gpuModelNameList();
// Sets the known models (maps with "name"); may be called from any thread.
NEROVA_EXPORT void setGpuModelNameList(const QList<QVariant>& models);
// The known models whose name contains name, ignoring case; empty for an empty name.
NEROVA_EXPORT QList<QVariant> getSpecifiedGpuModelList(QString name);

} // namespace GpuModel

} // namespace Nerova
