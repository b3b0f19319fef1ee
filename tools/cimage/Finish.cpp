#include "Tasks.h"

#include "Error.h"
#include "MetadataPolicy.h"
#include "Orientation.h"
#include "OutputFile.h"
#include "PngFile.h"
#include "Readers.h"
#include "Resampler.h"
#include "SourceProbe.h"

#include <cstring>
#include <vector>

#include <webp/decode.h>
#include <webp/mux.h>
#include <zlib.h>

namespace cimage {

namespace {

constexpr std::size_t kExifHeaderSize = 6;                   // "Exif\0\0"
const char kXmpNamespace[] = "http://ns.adobe.com/xap/1.0/"; // followed by its NUL in JPEG payloads
const char kXmpKeyword[] = "XML:com.adobe.xmp";

// The source metadata in the shape the output containers store it.
struct Carried
{
    std::vector<std::uint8_t> icc;
    std::vector<std::uint8_t> exif; // bare TIFF structure
    std::vector<std::uint8_t> xmp;  // the packet alone
    int loop = 1;
};

Carried collect(const std::string& source, cjpeg::StripPolicy strip, cjpeg::PixelSize outputSize)
{
    cjpeg::ImageFormat format{};
    auto reader = cjpeg::openImage(source, &format);
    cjpeg::Metadata metadata = reader->metadata();
    cjpeg::applyStripPolicy(metadata, strip);
    // After a resize the EXIF would still name the source's size.
    if (outputSize.width > 0)
        cjpeg::setExifPixelSize(metadata.exif, outputSize.width, outputSize.height);
    Carried carried;
    carried.loop = probeAnimation(source, format).loop;
    // pngquant and ffmpeg always write colour images, which a gray profile would mislabel.
    if (cjpeg::iccColourSpaceIs(metadata.icc, "RGB "))
        carried.icc = std::move(metadata.icc);
    // The pixels were turned upright by prepare, so the tag must no longer ask viewers to turn them.
    if (cjpeg::exifOrientation(metadata.exif) != 1)
        cjpeg::setExifOrientation(metadata.exif, 1);
    if (metadata.exif.size() > kExifHeaderSize)
        carried.exif.assign(metadata.exif.begin() + kExifHeaderSize, metadata.exif.end());
    if (metadata.xmp.size() > sizeof kXmpNamespace &&
        std::memcmp(metadata.xmp.data(), kXmpNamespace, sizeof kXmpNamespace) == 0)
        carried.xmp.assign(metadata.xmp.begin() + sizeof kXmpNamespace, metadata.xmp.end());
    return carried;
}

std::vector<std::uint8_t> readFile(const std::string& path)
{
    cjpeg::FilePtr file = cjpeg::openForReading(path);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(cjpeg::bytesRemaining(file.get())));
    cjpeg::readExact(file.get(), bytes.data(), bytes.size(), "output file");
    return bytes;
}

void replaceFile(const std::string& path, const std::uint8_t* data, std::size_t size)
{
    cjpeg::OutputFile out(path);
    if (std::fwrite(data, 1, size, out.stream()) != size)
        throw cjpeg::Error("cannot write " + path);
    out.commit();
}

bool isXmpText(const PngChunk& chunk)
{
    return chunk.type == "iTXt" && chunk.data.size() > sizeof kXmpKeyword &&
           std::memcmp(chunk.data.data(), kXmpKeyword, sizeof kXmpKeyword) == 0;
}

PngChunk iccpChunk(const std::vector<std::uint8_t>& icc)
{
    // Profile name, its NUL and compression method 0 (zlib) precede the compressed profile.
    const char name[] = "ICC Profile";
    const std::size_t prefix = sizeof name + 1;
    uLongf size = compressBound(static_cast<uLong>(icc.size()));
    PngChunk chunk{"iCCP", std::vector<std::uint8_t>(prefix + size, 0)};
    std::memcpy(chunk.data.data(), name, sizeof name);
    if (compress2(chunk.data.data() + prefix, &size, icc.data(), static_cast<uLong>(icc.size()),
                  Z_BEST_COMPRESSION) != Z_OK)
        throw cjpeg::Error("cannot compress the ICC profile");
    chunk.data.resize(prefix + size);
    return chunk;
}

// Whether a text chunk holds a copy of EXIF, IPTC or XMP (as some editors store them), which a strip
// policy must not let through beside the chunks it rewrites.
bool isRawProfileText(const PngChunk& chunk)
{
    const char keyword[] = "Raw profile type";
    return (chunk.type == "tEXt" || chunk.type == "zTXt" || chunk.type == "iTXt") &&
           chunk.data.size() > sizeof keyword - 1 &&
           std::memcmp(chunk.data.data(), keyword, sizeof keyword - 1) == 0;
}

// Whether the encoder's copy of a chunk goes under the strip policy: everything but colour under All
// (pngquant copies the source's text chunks on its own), the metadata copies under Gps.
bool strippedChunk(const PngChunk& chunk, cjpeg::StripPolicy strip)
{
    switch (strip) {
    case cjpeg::StripPolicy::None:
        return false;
    case cjpeg::StripPolicy::Gps:
        return isRawProfileText(chunk) || isXmpText(chunk) || chunk.type == "eXIf";
    case cjpeg::StripPolicy::All:
        return chunk.type == "tEXt" || chunk.type == "zTXt" || chunk.type == "iTXt" || chunk.type == "eXIf" ||
               chunk.type == "tIME";
    }
    return false;
}

// Inserts iCCP, eXIf and the XMP iTXt right after IHDR (they must precede PLTE and IDAT), replacing
// any the tool wrote; sRGB gives way to the profile. Chunks the policy strips go.
void finishPng(const Carried& carried, const std::string& output, const std::vector<std::uint8_t>& file,
               cjpeg::StripPolicy strip)
{
    std::vector<PngChunk> chunks = parsePng(file);
    std::vector<PngChunk> added;
    if (!carried.icc.empty())
        added.push_back(iccpChunk(carried.icc));
    if (!carried.exif.empty())
        added.push_back(PngChunk{"eXIf", carried.exif});
    if (!carried.xmp.empty()) {
        // Keyword and NUL, then uncompressed, no language tag, no translated keyword: four zero bytes.
        const std::size_t prefix = sizeof kXmpKeyword + 4;
        PngChunk text{"iTXt", std::vector<std::uint8_t>(prefix + carried.xmp.size(), 0)};
        std::memcpy(text.data.data(), kXmpKeyword, sizeof kXmpKeyword);
        std::memcpy(text.data.data() + prefix, carried.xmp.data(), carried.xmp.size());
        added.push_back(std::move(text));
    }
    bool changed = !added.empty();
    std::vector<PngChunk> result;
    for (PngChunk& chunk : chunks) {
        const bool replaced = (chunk.type == "iCCP" && !carried.icc.empty()) ||
                              (chunk.type == "sRGB" && !carried.icc.empty()) ||
                              (chunk.type == "eXIf" && !carried.exif.empty()) ||
                              (isXmpText(chunk) && !carried.xmp.empty());
        if (replaced)
            continue;
        if (strippedChunk(chunk, strip)) {
            changed = true;
            continue;
        }
        const bool header = chunk.type == "IHDR";
        result.push_back(std::move(chunk));
        if (header)
            result.insert(result.end(), added.begin(), added.end());
    }
    if (!changed)
        return;
    const std::vector<std::uint8_t> bytes = assemblePng(result);
    replaceFile(output, bytes.data(), bytes.size());
}

// Frees a WebP mux object.
struct MuxDeleter
{
    void operator()(WebPMux* mux) const { WebPMuxDelete(mux); }
};

// Frees data a WebP mux assembled.
struct WebPDataHolder
{
    WebPData data;
    WebPDataHolder() { WebPDataInit(&data); }
    ~WebPDataHolder() { WebPDataClear(&data); }
    WebPDataHolder(const WebPDataHolder&) = delete;
    WebPDataHolder& operator=(const WebPDataHolder&) = delete;
};

void setChunk(WebPMux* mux, const char* fourcc, const std::vector<std::uint8_t>& payload)
{
    const WebPData data{payload.data(), payload.size()};
    if (WebPMuxSetChunk(mux, fourcc, &data, 1) != WEBP_MUX_OK)
        throw cjpeg::Error(std::string("cannot add the ") + fourcc + " chunk");
}

// ffmpeg marks every full-size frame it writes as blended over the previous one, so in a source with
// transparency the earlier frames would show through; a full-canvas frame must replace the canvas.
bool replaceInsteadOfBlend(WebPMux* mux)
{
    int canvasWidth = 0, canvasHeight = 0, frames = 0;
    if (WebPMuxGetCanvasSize(mux, &canvasWidth, &canvasHeight) != WEBP_MUX_OK ||
        WebPMuxNumChunks(mux, WEBP_CHUNK_ANMF, &frames) != WEBP_MUX_OK)
        return false;
    bool changed = false;
    // Each frame is taken from the front and appended again, so the order is kept.
    for (int i = 0; i < frames; ++i) {
        WebPMuxFrameInfo frame;
        if (WebPMuxGetFrame(mux, 1, &frame) != WEBP_MUX_OK)
            throw cjpeg::Error("damaged WebP animation frame");
        WebPBitstreamFeatures features;
        const bool fullCanvas =
            WebPGetFeatures(frame.bitstream.bytes, frame.bitstream.size, &features) == VP8_STATUS_OK &&
            frame.x_offset == 0 && frame.y_offset == 0 && features.width == canvasWidth &&
            features.height == canvasHeight;
        if (fullCanvas && frame.blend_method == WEBP_MUX_BLEND) {
            frame.blend_method = WEBP_MUX_NO_BLEND;
            changed = true;
        }
        const bool moved =
            WebPMuxDeleteFrame(mux, 1) == WEBP_MUX_OK && WebPMuxPushFrame(mux, &frame, 1) == WEBP_MUX_OK;
        WebPDataClear(&frame.bitstream);
        if (!moved)
            throw cjpeg::Error("cannot rewrite a WebP animation frame");
    }
    return changed;
}

void finishWebp(const Carried& carried, const std::string& output, const std::vector<std::uint8_t>& bytes)
{
    const WebPData input{bytes.data(), bytes.size()};
    std::unique_ptr<WebPMux, MuxDeleter> mux(WebPMuxCreate(&input, 1));
    if (!mux)
        throw cjpeg::Error("damaged WebP file");
    bool changed = false;
    if (!carried.icc.empty()) {
        setChunk(mux.get(), "ICCP", carried.icc);
        changed = true;
    }
    if (!carried.exif.empty()) {
        setChunk(mux.get(), "EXIF", carried.exif);
        changed = true;
    }
    if (!carried.xmp.empty()) {
        setChunk(mux.get(), "XMP ", carried.xmp);
        changed = true;
    }
    WebPMuxAnimParams params;
    if (WebPMuxGetAnimationParams(mux.get(), &params) == WEBP_MUX_OK) {
        // ffmpeg writes play-once animations whatever the source asked for.
        if (params.loop_count != carried.loop) {
            params.loop_count = carried.loop;
            if (WebPMuxSetAnimationParams(mux.get(), &params) != WEBP_MUX_OK)
                throw cjpeg::Error("cannot set the animation loop count");
            changed = true;
        }
        changed = replaceInsteadOfBlend(mux.get()) || changed;
    }
    if (!changed)
        return;
    WebPDataHolder assembled;
    if (WebPMuxAssemble(mux.get(), &assembled.data) != WEBP_MUX_OK)
        throw cjpeg::Error("cannot assemble the WebP file");
    replaceFile(output, assembled.data.bytes, assembled.data.size);
}

// The size of the picture in a PNG or WebP file; {0, 0} when it cannot be read.
cjpeg::PixelSize pictureSize(Target target, const std::vector<std::uint8_t>& file)
{
    if (target == Target::Webp) {
        int width = 0, height = 0;
        if (!WebPGetInfo(file.data(), file.size(), &width, &height))
            return {};
        return {width, height};
    }
    // IHDR is the first chunk: width and height right after its type.
    if (file.size() < 24 || std::memcmp(file.data() + 12, "IHDR", 4) != 0)
        return {};
    const auto be32 = [&](std::size_t at) {
        return int(file[at]) << 24 | int(file[at + 1]) << 16 | int(file[at + 2]) << 8 | int(file[at + 3]);
    };
    return {be32(16), be32(20)};
}

} // namespace

void finish(Target target, const std::string& source, const std::string& output, cjpeg::StripPolicy strip)
{
    const std::vector<std::uint8_t> file = readFile(output);
    const Carried carried = collect(source, strip, pictureSize(target, file));
    if (target == Target::Png)
        finishPng(carried, output, file, strip);
    else
        finishWebp(carried, output, file);
}

} // namespace cimage
