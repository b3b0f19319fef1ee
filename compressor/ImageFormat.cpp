#include "ImageFormat.h"

#include <QFile>

ImageFormat sniffImageFormat(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return ImageFormat::Unknown;
    const QByteArray head = file.read(12);
    if (head.startsWith("\xFF\xD8\xFF"))
        return ImageFormat::Jpeg;
    if (head.startsWith("\x89PNG\r\n\x1A\n"))
        return ImageFormat::Png;
    if (head.size() >= 12 && head.startsWith("RIFF") && head.mid(8, 4) == "WEBP")
        return ImageFormat::Webp;
    if (head.startsWith("GIF87a") || head.startsWith("GIF89a"))
        return ImageFormat::Gif;
    if (head.startsWith("BM"))
        return ImageFormat::Bmp;
    if (head.startsWith(QByteArray("II*\0", 4)) || head.startsWith(QByteArray("MM\0*", 4)))
        return ImageFormat::Tiff;
    if (head.size() >= 2 && head.at(0) == 'P' && head.at(1) >= '1' && head.at(1) <= '7')
        return ImageFormat::Pnm;
    return ImageFormat::Unknown;
}

ImageFormat imageFormatForSuffix(const QString& suffix)
{
    const QString lower = suffix.toLower();
    if (lower == QLatin1String("jpg") || lower == QLatin1String("jpeg"))
        return ImageFormat::Jpeg;
    if (lower == QLatin1String("png"))
        return ImageFormat::Png;
    if (lower == QLatin1String("webp"))
        return ImageFormat::Webp;
    return ImageFormat::Unknown;
}
