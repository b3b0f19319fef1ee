#include "FileIo.h"

#include "Error.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace cjpeg {

FilePtr openForReading(const std::string& path)
{
    FilePtr file(std::fopen(path.c_str(), "rb"));
    if (!file)
        throw Error(std::string("cannot open: ") + std::strerror(errno));
    struct stat st
    {
    };
    if (fstat(fileno(file.get()), &st) == 0 && S_ISDIR(st.st_mode))
        throw Error("cannot open: is a directory");
    return file;
}

void readExact(std::FILE* file, void* buffer, std::size_t size, const char* what)
{
    if (std::fread(buffer, 1, size, file) != size) {
        if (std::ferror(file))
            throw Error(std::string("read error in ") + what + ": " + std::strerror(errno));
        throw Error(std::string("truncated ") + what);
    }
}

std::uint64_t bytesRemaining(std::FILE* file)
{
    struct stat st
    {
    };
    const long pos = std::ftell(file);
    if (pos < 0)
        return 0;
    const int fd = fileno(file);
    if (fd >= 0) {
        if (fstat(fd, &st) != 0 || st.st_size < pos)
            return 0;
        return static_cast<std::uint64_t>(st.st_size - pos);
    }
    // A stream without a descriptor (one over memory) tells its size by seeking to the end.
    if (std::fseek(file, 0, SEEK_END) != 0)
        return 0;
    const long end = std::ftell(file);
    std::fseek(file, pos, SEEK_SET);
    return end > pos ? static_cast<std::uint64_t>(end - pos) : 0;
}

} // namespace cjpeg
