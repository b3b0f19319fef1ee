#include "JpegSupport.h"

#include <jerror.h>

#include <cstdio>

namespace cjpeg {

namespace {

// Names the JPEG variants libjpeg refuses by design, so the user learns the file is valid but unsupported.
bool describeUnsupported(j_common_ptr cinfo, char* message)
{
    const int code = cinfo->err->msg_code;
    if (code == JERR_BAD_PRECISION) {
        std::snprintf(message, JMSG_LENGTH_MAX, "%d-bit JPEG is not supported", cinfo->err->msg_parm.i[0]);
        return true;
    }
    if (code == JERR_SOF_UNSUPPORTED) {
        const int marker = cinfo->err->msg_parm.i[0];
        const bool lossless = (marker & 0x03) == 0x03; // SOF3, SOF7, SOF11, SOF15
        std::snprintf(message, JMSG_LENGTH_MAX, "%s JPEG (SOF type 0x%02x) is not supported",
                      lossless ? "lossless" : "hierarchical", marker);
        return true;
    }
    return false;
}

[[noreturn]] void failJump(j_common_ptr cinfo)
{
    // `pub` is the first member, so libjpeg's pointer is also the manager's address.
    auto* manager = reinterpret_cast<JpegErrorManager*>(cinfo->err);
    if (!describeUnsupported(cinfo, manager->message))
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
    // Harmless oddities in otherwise intact files; a bad ICC chunk only costs the profile. Stray bytes
    // between segments are skipped by the decoder without losing image data (damaged entropy data
    // raises one of the failing warnings below as well).
    case JWRN_JFIF_MAJOR:
    case JWRN_ADOBE_XFORM:
    case JWRN_BOGUS_ICC:
    case JWRN_EXTRANEOUS_DATA:
    case JWRN_NOT_SEQUENTIAL:
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
