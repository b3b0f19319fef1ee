#pragma once

#include "FileIo.h"
#include "Image.h"

#include <memory>
#include <string>

namespace cjpeg {

// Picks the decoder by the file's leading bytes, whatever its name says.
std::unique_ptr<ImageReader> openImage(const std::string& path);

std::unique_ptr<ImageReader> readJpeg(FilePtr file);
std::unique_ptr<ImageReader> readPng(FilePtr file);
std::unique_ptr<ImageReader> readBmp(FilePtr file);
std::unique_ptr<ImageReader> readPnm(FilePtr file);
std::unique_ptr<ImageReader> readGif(FilePtr file);
std::unique_ptr<ImageReader> readTiff(const std::string& path);
std::unique_ptr<ImageReader> readWebp(FilePtr file);

} // namespace cjpeg
