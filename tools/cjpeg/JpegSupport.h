#pragma once

#include "Error.h"

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

namespace cjpeg {

// Turns libjpeg's fatal errors and corrupt-data warnings into a jump back to the guarded call.
struct JpegErrorManager
{
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

jpeg_error_mgr* initJpegErrorManager(JpegErrorManager& manager);

// Runs libjpeg calls so that an error inside them surfaces as an Error exception. `fn` must not
// create objects with destructors: libjpeg leaves it by longjmp.
template <typename Fn> void jpegGuard(JpegErrorManager& manager, Fn&& fn)
{
    if (setjmp(manager.jump))
        throw Error(manager.message);
    fn();
}

// Owns a libjpeg decompressor and its error manager.
struct JpegDecompressor
{
    JpegErrorManager errors;
    jpeg_decompress_struct cinfo;

    JpegDecompressor();
    ~JpegDecompressor();
    JpegDecompressor(const JpegDecompressor&) = delete;
    JpegDecompressor& operator=(const JpegDecompressor&) = delete;
};

// Owns a libjpeg compressor and its error manager.
struct JpegCompressor
{
    JpegErrorManager errors;
    jpeg_compress_struct cinfo;

    JpegCompressor();
    ~JpegCompressor();
    JpegCompressor(const JpegCompressor&) = delete;
    JpegCompressor& operator=(const JpegCompressor&) = delete;
};

} // namespace cjpeg
