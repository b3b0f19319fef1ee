#pragma once

#include "FileIo.h"

#include <string>

namespace cjpeg {

// Writes to a temporary file beside the target and renames it into place only once everything
// succeeded, so a failed run leaves neither a partial file nor a clobbered old one.
class OutputFile
{
public:
    explicit OutputFile(std::string path);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    std::FILE* stream() const { return file_.get(); }
    void commit();

private:
    std::string path_;
    std::string tempPath_;
    FilePtr file_;
    bool committed_ = false;
};

} // namespace cjpeg
