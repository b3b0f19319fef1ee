#include <base/Helpers.h>

#include <QCryptographicHash>
#include <QDir>
#include <QImageReader>
#include <QUuid>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <mutex>
#include <shared_mutex>
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

struct GpuModels
{
    std::shared_mutex lock;
    QList<QVariant> models;
};
Q_GLOBAL_STATIC(GpuModels, gpuModels)

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

QString md5FromQUuid()
{
    const QByteArray uuid = QUuid::createUuid().toString().toUtf8();
    return QString::fromLatin1(QCryptographicHash::hash(uuid, QCryptographicHash::Md5).toHex());
}

bool isUtf8String(const char* str)
{
    if (!str)
        return false;
    const auto* p = reinterpret_cast<const unsigned char*>(str);
    const unsigned char* const end = p + std::strlen(str);
    while (p < end) {
        // Text is mostly ASCII: skip it eight bytes at a time.
        while (end - p >= 8) {
            std::uint64_t word;
            std::memcpy(&word, p, sizeof word);
            if (word & 0x8080808080808080ULL)
                break;
            p += 8;
        }
        if (p == end)
            break;
        const unsigned lead = *p;
        if (lead < 0x80) {
            ++p;
            continue;
        }
        // 0x80..0xBF cannot start a sequence, 0xC0 and 0xC1 only start overlong ones, 0xF5 and up
        // only values beyond U+10FFFF.
        if (lead < 0xC2 || lead > 0xF4)
            return false;
        int following;
        std::uint32_t codePoint;
        std::uint32_t smallest;
        if (lead < 0xE0) {
            following = 1;
            codePoint = lead & 0x1F;
            smallest = 0x80;
        } else if (lead < 0xF0) {
            following = 2;
            codePoint = lead & 0x0F;
            smallest = 0x800;
        } else {
            following = 3;
            codePoint = lead & 0x07;
            smallest = 0x10000;
        }
        if (end - p - 1 < following)
            return false;
        for (int i = 1; i <= following; ++i) {
            const unsigned byte = p[i];
            if ((byte & 0xC0) != 0x80)
                return false;
            codePoint = (codePoint << 6) | (byte & 0x3F);
        }
        if (codePoint < smallest || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
            return false;
        p += following + 1;
    }
    return true;
}

bool isSocialType(const QString& name)
{
    static const QStringList platforms{QStringLiteral("YouTube"), QStringLiteral("Instagram"),
                                       QStringLiteral("TikTok"),  QStringLiteral("Facebook"),
                                       QStringLiteral("Likee"),   QStringLiteral("Vimeo")};
    return platforms.contains(name, Qt::CaseSensitive);
}

QString appendPath(const QString& base, const QString& child)
{
    return QDir::cleanPath(base + QDir::separator() + child);
}

QString getCodecGpuName(const QString& name)
{
    const QString nvidia = QStringLiteral("NVIDIA");
    const QString amd = QStringLiteral("AMD");
    if (!name.isEmpty()) {
        if (name.contains(nvidia, Qt::CaseInsensitive))
            return nvidia;
        if (name.contains(amd, Qt::CaseInsensitive))
            return amd;
    }
    const QList<QVariant> models = GpuModel::gpuModelNameList();
    for (const QString& vendor : {nvidia, amd}) {
        for (const QVariant& model : models) {
            if (model.toMap().value(QStringLiteral("name")).toString().contains(vendor, Qt::CaseInsensitive))
                return vendor;
        }
    }
    return {};
}

bool isImage(const QString& path)
{
    QImageReader reader(path);
    if (!reader.canRead())
        return false;
    // A format that cannot tell its size without decoding reports an invalid one.
    if (!reader.size().isValid())
        return false;
    return reader.format() != "gif";
}

namespace GpuModel {

QList<QVariant> gpuModelNameList()
{
    std::shared_lock locker(gpuModels->lock);
    return gpuModels->models;
}

void setGpuModelNameList(const QList<QVariant>& models)
{
    std::unique_lock locker(gpuModels->lock);
    gpuModels->models = models;
}

QList<QVariant> getSpecifiedGpuModelList(QString name)
{
    if (name.isEmpty())
        return {};
    QList<QVariant> matching;
    for (const QVariant& model : gpuModelNameList()) {
        if (model.toMap().value(QStringLiteral("name")).toString().contains(name, Qt::CaseInsensitive))
            matching.append(model);
    }
    return matching;
}

} // namespace GpuModel

} // namespace Nerova
