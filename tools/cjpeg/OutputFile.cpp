#include "OutputFile.h"

#include "Error.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace cjpeg {

namespace {
[[noreturn]] void failWrite(const std::string& path)
{
    throw Error("cannot write '" + path + "': " + std::strerror(errno));
}
} // namespace

OutputFile::OutputFile(std::string path) : path_(std::move(path))
{
    std::vector<char> name(path_.begin(), path_.end());
    const char suffix[] = ".XXXXXX";
    name.insert(name.end(), suffix, suffix + sizeof suffix); // includes the NUL
    const int fd = mkstemp(name.data());
    if (fd < 0)
        failWrite(path_);
    tempPath_ = name.data();
    // mkstemp creates the file private; give it the permissions a plain fopen would have.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    file_.reset(fdopen(fd, "wb"));
    if (!file_) {
        const int saved = errno;
        close(fd);
        unlink(tempPath_.c_str());
        errno = saved;
        failWrite(path_);
    }
}

OutputFile::~OutputFile()
{
    if (committed_)
        return;
    file_.reset();
    unlink(tempPath_.c_str());
}

void OutputFile::commit()
{
    if (std::fflush(file_.get()) != 0 || std::ferror(file_.get()))
        failWrite(path_);
    if (std::fclose(file_.release()) != 0)
        failWrite(path_);
    if (std::rename(tempPath_.c_str(), path_.c_str()) != 0)
        failWrite(path_);
    committed_ = true;
}

} // namespace cjpeg
