// Text checks and names: UTF-8 validation, identifiers, platform names, paths and image files.
#include <base/Helpers.h>

#include <QCryptographicHash>
#include <QDir>
#include <QImageReader>
#include <QUuid>

#include <cstdint>
#include <cstring>

namespace Nerova {

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

} // namespace Nerova
