#include "Error.h"
#include "Readers.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include <gif_lib.h>

namespace cjpeg {

namespace {

// Closes a giflib decoder (the stdio stream stays with its own owner).
struct GifCloser
{
    void operator()(GifFileType* gif) const
    {
        int error = 0;
        DGifCloseFile(gif, &error);
    }
};
using GifPtr = std::unique_ptr<GifFileType, GifCloser>;

int readFromFile(GifFileType* gif, GifByteType* buffer, int size)
{
    return static_cast<int>(
        std::fread(buffer, 1, static_cast<std::size_t>(size), static_cast<std::FILE*>(gif->UserData)));
}

[[noreturn]] void fail(const GifFileType* gif)
{
    const char* reason = gif ? GifErrorString(gif->Error) : nullptr;
    throw Error(std::string("damaged GIF: ") + (reason ? reason : "unknown error"));
}

} // namespace

// Decodes the first frame of a GIF onto a canvas of the logical screen size, transparent where the
// frame does not paint.
std::unique_ptr<ImageReader> readGif(FilePtr file)
{
    int openError = 0;
    GifPtr gif(DGifOpen(file.get(), readFromFile, &openError));
    if (!gif) {
        const char* reason = GifErrorString(openError);
        throw Error(std::string("damaged GIF: ") + (reason ? reason : "cannot open"));
    }

    int transparent = NO_TRANSPARENT_COLOR;
    for (;;) {
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif.get(), &type) == GIF_ERROR)
            fail(gif.get());
        if (type == TERMINATE_RECORD_TYPE)
            throw Error("GIF contains no image");
        if (type == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* block = nullptr;
            if (DGifGetExtension(gif.get(), &code, &block) == GIF_ERROR)
                fail(gif.get());
            if (code == GRAPHICS_EXT_FUNC_CODE && block && block[0] >= 4) {
                GraphicsControlBlock gcb{};
                if (DGifExtensionToGCB(block[0], block + 1, &gcb) == GIF_OK)
                    transparent = gcb.TransparentColor;
            }
            while (block) {
                if (DGifGetExtensionNext(gif.get(), &block) == GIF_ERROR)
                    fail(gif.get());
            }
            continue;
        }
        if (type == IMAGE_DESC_RECORD_TYPE)
            break;
    }

    if (DGifGetImageDesc(gif.get()) == GIF_ERROR)
        fail(gif.get());
    const GifImageDesc& frame = gif->Image;
    const ColorMapObject* colours = frame.ColorMap ? frame.ColorMap : gif->SColorMap;
    if (!colours || !colours->Colors)
        throw Error("damaged GIF: no colour table");

    // Some encoders leave the screen size at zero or smaller than the frame.
    const long long canvasWidth = std::max<long long>(gif->SWidth, 1LL * frame.Left + frame.Width);
    const long long canvasHeight = std::max<long long>(gif->SHeight, 1LL * frame.Top + frame.Height);
    checkDimensions(canvasWidth, canvasHeight, "GIF");
    if (frame.Width <= 0 || frame.Height <= 0 || frame.Left < 0 || frame.Top < 0)
        throw Error("damaged GIF: bad frame geometry");

    // Transparent pixels and the canvas outside the first frame carry alpha 0.
    const bool coversCanvas =
        frame.Left == 0 && frame.Top == 0 && frame.Width == canvasWidth && frame.Height == canvasHeight;
    const int channels = transparent == NO_TRANSPARENT_COLOR && coversCanvas ? 3 : 4;
    auto image = std::make_unique<BufferedImage>(static_cast<int>(canvasWidth),
                                                 static_cast<int>(canvasHeight), channels);
    std::memset(image->data(), channels == 4 ? 0 : 255, image->pixelCount() * channels);

    std::vector<GifPixelType> line(static_cast<std::size_t>(frame.Width));
    auto decodeLine = [&](int frameRow) {
        if (DGifGetLine(gif.get(), line.data(), frame.Width) == GIF_ERROR)
            fail(gif.get());
        std::uint8_t* out =
            image->row(frame.Top + frameRow) + channels * static_cast<std::size_t>(frame.Left);
        for (int x = 0; x < frame.Width; ++x, out += channels) {
            const int index = line[x];
            if (index == transparent)
                continue;
            if (index < colours->ColorCount) {
                out[0] = colours->Colors[index].Red;
                out[1] = colours->Colors[index].Green;
                out[2] = colours->Colors[index].Blue;
            } else {
                out[0] = out[1] = out[2] = 0;
            }
            if (channels == 4)
                out[3] = 255;
        }
    };
    if (frame.Interlace) {
        static const int start[] = {0, 4, 2, 1};
        static const int step[] = {8, 8, 4, 2};
        for (int pass = 0; pass < 4; ++pass)
            for (int y = start[pass]; y < frame.Height; y += step[pass])
                decodeLine(y);
    } else {
        for (int y = 0; y < frame.Height; ++y)
            decodeLine(y);
    }
    return image;
}

} // namespace cjpeg
