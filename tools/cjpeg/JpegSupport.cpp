#include "JpegSupport.h"

#include <jerror.h>

namespace cjpeg {

namespace {

[[noreturn]] void failJump(j_common_ptr cinfo)
{
    // `pub` is the first member, so libjpeg's pointer is also the manager's address.
    auto* manager = reinterpret_cast<JpegErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, manager->message);
    std::longjmp(manager->jump, 1);
}

void errorExit(j_common_ptr cinfo)
{
    failJump(cinfo);
}

void emitMessage(j_common_ptr cinfo, int level)
{
    if (level >= 0)
        return; // trace chatter
    switch (cinfo->err->msg_code) {
    // Harmless oddities in otherwise intact files; a bad ICC chunk only costs the profile.
    case JWRN_JFIF_MAJOR:
    case JWRN_ADOBE_XFORM:
    case JWRN_BOGUS_ICC:
        return;
    default:
        // Anything else means damaged data, which libjpeg would paper over with grey blocks.
        failJump(cinfo);
    }
}

void outputMessage(j_common_ptr) {}

} // namespace

jpeg_error_mgr* initJpegErrorManager(JpegErrorManager& manager)
{
    jpeg_error_mgr* err = jpeg_std_error(&manager.pub);
    err->error_exit = errorExit;
    err->emit_message = emitMessage;
    err->output_message = outputMessage;
    manager.message[0] = '\0';
    return err;
}

JpegDecompressor::JpegDecompressor()
{
    cinfo.err = initJpegErrorManager(errors);
    jpegGuard(errors, [this] { jpeg_create_decompress(&cinfo); });
}

JpegDecompressor::~JpegDecompressor()
{
    jpeg_destroy_decompress(&cinfo);
}

JpegCompressor::JpegCompressor()
{
    cinfo.err = initJpegErrorManager(errors);
    jpegGuard(errors, [this] { jpeg_create_compress(&cinfo); });
}

JpegCompressor::~JpegCompressor()
{
    jpeg_destroy_compress(&cinfo);
}

} // namespace cjpeg
