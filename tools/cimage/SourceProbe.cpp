#include "SourceProbe.h"

#include "Error.h"

#include <cstring>
#include <vector>

#include <gif_lib.h>
#include <webp/demux.h>

namespace cimage {

namespace {

std::vector<std::uint8_t> readFile(const std::string& path)
{
    cjpeg::FilePtr file = cjpeg::openForReading(path);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(cjpeg::bytesRemaining(file.get())));
    cjpeg::readExact(file.get(), bytes.data(), bytes.size(), "file");
    return bytes;
}

std::uint32_t be32(const std::uint8_t* d)
{
    return std::uint32_t(d[0]) << 24 | std::uint32_t(d[1]) << 16 | std::uint32_t(d[2]) << 8 | d[3];
}

// An APNG announces its frames and plays in the acTL chunk before the image data; only the chunk
// headers up to the first IDAT are read.
Animation probePng(const std::string& path)
{
    cjpeg::FilePtr file = cjpeg::openForReading(path);
    Animation animation;
    std::uint8_t header[8];
    cjpeg::readExact(file.get(), header, sizeof header, "PNG signature");
    while (std::fread(header, 1, sizeof header, file.get()) == sizeof header) {
        const std::uint32_t length = be32(header);
        if (std::memcmp(header + 4, "IDAT", 4) == 0 || length > 0x7FFFFFFFu)
            break;
        if (std::memcmp(header + 4, "acTL", 4) == 0 && length == 8) {
            std::uint8_t control[8];
            cjpeg::readExact(file.get(), control, sizeof control, "PNG animation control");
            const std::uint32_t frames = be32(control), plays = be32(control + 4);
            if (frames > 1 && frames < 1u << 30) {
                animation.frames = static_cast<int>(frames);
                animation.loop = static_cast<int>(plays > 0xFFFF ? 0xFFFF : plays);
            }
            if (std::fseek(file.get(), 4, SEEK_CUR) != 0)
                break;
        } else if (std::fseek(file.get(), static_cast<long>(length) + 4, SEEK_CUR) != 0) {
            break;
        }
    }
    return animation;
}

// Closes a giflib decoder.
struct GifCloser
{
    void operator()(GifFileType* gif) const
    {
        int error = 0;
        DGifCloseFile(gif, &error);
    }
};

int readFromFile(GifFileType* gif, GifByteType* buffer, int size)
{
    return static_cast<int>(
        std::fread(buffer, 1, static_cast<std::size_t>(size), static_cast<std::FILE*>(gif->UserData)));
}

// Counts image descriptors, skipping their compressed data, and reads the NETSCAPE2.0 loop count. The
// count is passed on as it is (0 = forever), as gif2webp and ffmpeg do; a GIF without it plays once.
Animation probeGif(const std::string& path)
{
    cjpeg::FilePtr file = cjpeg::openForReading(path);
    int error = 0;
    std::unique_ptr<GifFileType, GifCloser> gif(DGifOpen(file.get(), readFromFile, &error));
    if (!gif)
        throw cjpeg::Error("damaged GIF");
    Animation animation;
    animation.frames = 0;
    bool loopSeen = false;
    for (;;) {
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif.get(), &type) == GIF_ERROR)
            break; // a damaged tail still leaves the frames before it
        if (type == TERMINATE_RECORD_TYPE)
            break;
        GifByteType* block = nullptr;
        if (type == IMAGE_DESC_RECORD_TYPE) {
            int codeSize = 0;
            if (DGifGetImageDesc(gif.get()) == GIF_ERROR ||
                DGifGetCode(gif.get(), &codeSize, &block) == GIF_ERROR)
                break;
            ++animation.frames;
            while (block)
                if (DGifGetCodeNext(gif.get(), &block) == GIF_ERROR)
                    return animation;
        } else if (type == EXTENSION_RECORD_TYPE) {
            int code = 0;
            if (DGifGetExtension(gif.get(), &code, &block) == GIF_ERROR)
                break;
            bool netscape = code == APPLICATION_EXT_FUNC_CODE && block && block[0] >= 11 &&
                            (std::memcmp(block + 1, "NETSCAPE2.0", 11) == 0 ||
                             std::memcmp(block + 1, "ANIMEXTS1.0", 11) == 0);
            while (block) {
                if (DGifGetExtensionNext(gif.get(), &block) == GIF_ERROR)
                    return animation;
                if (netscape && block && block[0] >= 3 && block[1] == 1 && !loopSeen) {
                    animation.loop = block[2] | block[3] << 8;
                    loopSeen = true;
                }
                netscape = false;
            }
        }
    }
    if (animation.frames == 0)
        throw cjpeg::Error("GIF contains no image");
    if (animation.frames == 1)
        animation.loop = 1;
    return animation;
}

// Frees a WebP demuxer.
struct DemuxDeleter
{
    void operator()(WebPDemuxer* demux) const { WebPDemuxDelete(demux); }
};

Animation probeWebp(const std::string& path)
{
    const std::vector<std::uint8_t> bytes = readFile(path);
    const WebPData data{bytes.data(), bytes.size()};
    std::unique_ptr<WebPDemuxer, DemuxDeleter> demux(WebPDemux(&data));
    if (!demux)
        throw cjpeg::Error("damaged WebP container");
    Animation animation;
    if (WebPDemuxGetI(demux.get(), WEBP_FF_FORMAT_FLAGS) & ANIMATION_FLAG) {
        animation.frames = static_cast<int>(WebPDemuxGetI(demux.get(), WEBP_FF_FRAME_COUNT));
        animation.loop = static_cast<int>(WebPDemuxGetI(demux.get(), WEBP_FF_LOOP_COUNT));
    }
    return animation;
}

} // namespace

Animation probeAnimation(const std::string& path, cjpeg::ImageFormat format)
{
    switch (format) {
    case cjpeg::ImageFormat::Png:
        return probePng(path);
    case cjpeg::ImageFormat::Gif:
        return probeGif(path);
    case cjpeg::ImageFormat::Webp:
        return probeWebp(path);
    default:
        return Animation{};
    }
}

} // namespace cimage
