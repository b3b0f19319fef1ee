#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace cjpeg {

// Closes a stdio stream when its owner goes away.
struct FileCloser
{
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

FilePtr openForReading(const std::string& path);

// Reads exactly `size` bytes or throws, naming `what` so the message says which part was cut short.
void readExact(std::FILE* file, void* buffer, std::size_t size, const char* what);

// Bytes left between the current position and the end of the file.
std::uint64_t bytesRemaining(std::FILE* file);

} // namespace cjpeg
