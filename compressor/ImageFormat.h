#pragma once

#include <QString>

// An image file's format as its first bytes tell it, whatever its name says.
enum class ImageFormat { Unknown, Jpeg, Png, Webp, Gif, Bmp, Tiff, Pnm };

ImageFormat sniffImageFormat(const QString& path);
// The format an output suffix names (jpg/jpeg, png, webp); Unknown for any other.
ImageFormat imageFormatForSuffix(const QString& suffix);
