#include "Error.h"
#include "Readers.h"

#include <cerrno>
#include <cstring>
#include <vector>

namespace cjpeg {

namespace {

bool startsWith(const unsigned char* data, std::size_t size, const char* magic, std::size_t magicSize)
{
    return size >= magicSize && std::memcmp(data, magic, magicSize) == 0;
}

bool hasJpegAfterJunk(std::FILE* file)
{
    std::vector<unsigned char> head(kMaxJunkBeforeJpeg + 3);
    const std::size_t n = std::fread(head.data(), 1, head.size(), file);
    std::rewind(file);
    // HEIF/AVIF and other ISO media files carry JPEG thumbnails that must not pass for the picture.
    if (n >= 8 && std::memcmp(head.data() + 4, "ftyp", 4) == 0)
        return false;
    for (std::size_t i = 0; i + 3 < n; ++i)
        if (head[i] == 0xFF && head[i + 1] == 0xD8 && head[i + 2] == 0xFF)
            return true;
    return false;
}

} // namespace

ImageFormat detectFormat(std::FILE* file)
{
    unsigned char magic[12] = {};
    const std::size_t n = std::fread(magic, 1, sizeof magic, file);
    if (std::ferror(file))
        throw Error(std::string("cannot read: ") + std::strerror(errno));
    if (n == 0)
        throw Error("empty file");
    std::rewind(file);

    if (startsWith(magic, n, "\xFF\xD8\xFF", 3))
        return ImageFormat::Jpeg;
    if (startsWith(magic, n, "\x89PNG\r\n\x1A\n", 8))
        return ImageFormat::Png;
    if (startsWith(magic, n, "BM", 2))
        return ImageFormat::Bmp;
    if (startsWith(magic, n, "P5", 2) || startsWith(magic, n, "P6", 2))
        return ImageFormat::Pnm;
    if (startsWith(magic, n, "GIF87a", 6) || startsWith(magic, n, "GIF89a", 6))
        return ImageFormat::Gif;
    if (startsWith(magic, n, "II*\0", 4) || startsWith(magic, n, "MM\0*", 4) ||
        startsWith(magic, n, "II+\0", 4) || startsWith(magic, n, "MM\0+", 4))
        return ImageFormat::Tiff;
    if (n >= 12 && startsWith(magic, n, "RIFF", 4) && std::memcmp(magic + 8, "WEBP", 4) == 0)
        return ImageFormat::Webp;
    // Viewers show JPEGs that some tool prefixed with a few stray bytes.
    if (hasJpegAfterJunk(file))
        return ImageFormat::Jpeg;
    throw Error("unrecognised image format");
}

const char* formatName(ImageFormat format)
{
    switch (format) {
    case ImageFormat::Jpeg:
        return "jpeg";
    case ImageFormat::Png:
        return "png";
    case ImageFormat::Gif:
        return "gif";
    case ImageFormat::Bmp:
        return "bmp";
    case ImageFormat::Tiff:
        return "tiff";
    case ImageFormat::Webp:
        return "webp";
    case ImageFormat::Pnm:
        return "pnm";
    }
    return "unknown";
}

namespace {

std::unique_ptr<ImageReader> openByFormat(const std::string& path, FilePtr file, ImageFormat format)
{
    switch (format) {
    case ImageFormat::Jpeg:
        return readJpeg(std::move(file));
    case ImageFormat::Png:
        return readPng(std::move(file));
    case ImageFormat::Bmp:
        return readBmp(std::move(file));
    case ImageFormat::Pnm:
        return readPnm(std::move(file));
    case ImageFormat::Gif:
        return readGif(std::move(file));
    case ImageFormat::Tiff:
        if (path.empty())
            return readTiff(std::move(file));
        file.reset(); // libtiff opens (and maps) the path itself
        return readTiff(path);
    case ImageFormat::Webp:
        return readWebp(std::move(file));
    }
    throw Error("unrecognised image format");
}

// Detects the format of the open file and reads it; path is empty for a stream without one.
std::unique_ptr<ImageReader> openDetected(const std::string& path, FilePtr file, ImageFormat* detected)
{
    const ImageFormat format = detectFormat(file.get());
    if (detected)
        *detected = format;
    auto reader = openByFormat(path, std::move(file), format);
    // The pixels come out gray or RGB; a profile for the source's CMYK or Lab would now mislabel them.
    const bool gray = reader->info().channels <= 2;
    if (!reader->metadata().icc.empty() &&
        !iccColourSpaceIs(reader->metadata().icc, gray ? "GRAY" : "RGB ")) {
        Metadata metadata = reader->metadata();
        metadata.icc.clear();
        reader->setMetadata(std::move(metadata));
    }
    return reader;
}

} // namespace

std::unique_ptr<ImageReader> openImage(const std::string& path, ImageFormat* detected)
{
    return openDetected(path, openForReading(path), detected);
}

std::unique_ptr<ImageReader> openImage(FilePtr file, ImageFormat* detected)
{
    return openDetected(std::string(), std::move(file), detected);
}

} // namespace cjpeg
