#include "Error.h"
#include "Readers.h"

#include <cerrno>
#include <cstring>

namespace cjpeg {

namespace {
bool startsWith(const unsigned char* data, std::size_t size, const char* magic, std::size_t magicSize)
{
    return size >= magicSize && std::memcmp(data, magic, magicSize) == 0;
}
} // namespace

std::unique_ptr<ImageReader> openImage(const std::string& path)
{
    FilePtr file = openForReading(path);
    unsigned char magic[12] = {};
    const std::size_t n = std::fread(magic, 1, sizeof magic, file.get());
    if (std::ferror(file.get()))
        throw Error(std::string("cannot read: ") + std::strerror(errno));
    if (n == 0)
        throw Error("empty file");
    std::rewind(file.get());

    if (startsWith(magic, n, "\xFF\xD8\xFF", 3))
        return readJpeg(std::move(file));
    if (startsWith(magic, n, "\x89PNG\r\n\x1A\n", 8))
        return readPng(std::move(file));
    if (startsWith(magic, n, "BM", 2))
        return readBmp(std::move(file));
    if (startsWith(magic, n, "P5", 2) || startsWith(magic, n, "P6", 2))
        return readPnm(std::move(file));
    if (startsWith(magic, n, "GIF87a", 6) || startsWith(magic, n, "GIF89a", 6))
        return readGif(std::move(file));
    if (startsWith(magic, n, "II*\0", 4) || startsWith(magic, n, "MM\0*", 4) ||
        startsWith(magic, n, "II+\0", 4) || startsWith(magic, n, "MM\0+", 4)) {
        file.reset(); // libtiff opens the path itself
        return readTiff(path);
    }
    if (n >= 12 && startsWith(magic, n, "RIFF", 4) && std::memcmp(magic + 8, "WEBP", 4) == 0)
        return readWebp(std::move(file));
    throw Error("unrecognised image format");
}

} // namespace cjpeg
