#include "Tasks.h"

#include "Error.h"
#include "FittedImage.h"
#include "Orientation.h"
#include "OutputFile.h"
#include "PngFile.h"
#include "Readers.h"
#include "SourceProbe.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace cimage {

namespace {

using cjpeg::ImageFormat;

std::string intermediatePath(const std::string& input, const std::string& outDir, const char* suffix)
{
    const std::size_t slash = input.find_last_of('/');
    std::string base = slash == std::string::npos ? input : input.substr(slash + 1);
    const std::size_t dot = base.find_last_of('.');
    if (dot != std::string::npos && dot > 0)
        base.resize(dot);
    if (base.empty())
        base = "image";
    std::string dir = outDir;
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    return dir + "/" + base + ".prepared." + suffix;
}

void writePng(const cjpeg::BufferedImage& image, const std::string& path)
{
    cjpeg::OutputFile out(path);
    PngWriter writer(out.stream(), image.info().width, image.info().height, image.info().channels);
    writer.addFrame(image.data(), image.stride());
    writer.finish();
    out.commit();
}

// Uncompressed PAM, which ffmpeg recognises by content: the cheapest lossless picture to hand over.
// Gray is widened to RGB so the encoder always sees the same layouts.
void writePam(const cjpeg::BufferedImage& image, const std::string& path)
{
    const cjpeg::ImageInfo& info = image.info();
    const bool alpha = cjpeg::hasAlpha(info.channels);
    const bool gray = info.channels <= 2;
    const int outChannels = alpha ? 4 : 3;
    cjpeg::OutputFile out(path);
    std::fprintf(out.stream(), "P7\nWIDTH %d\nHEIGHT %d\nDEPTH %d\nMAXVAL 255\nTUPLTYPE %s\nENDHDR\n",
                 info.width, info.height, outChannels, alpha ? "RGB_ALPHA" : "RGB");
    std::vector<std::uint8_t> row(static_cast<std::size_t>(info.width) * outChannels);
    for (int y = 0; y < info.height; ++y) {
        const std::uint8_t* in = image.data() + image.stride() * static_cast<std::size_t>(y);
        const std::uint8_t* rowData = in;
        if (gray) {
            std::uint8_t* o = row.data();
            for (int x = 0; x < info.width; ++x, in += info.channels, o += outChannels) {
                o[0] = o[1] = o[2] = in[0];
                if (alpha)
                    o[3] = in[1];
            }
            rowData = row.data();
        }
        if (std::fwrite(rowData, 1, row.size(), out.stream()) != row.size())
            throw cjpeg::Error("cannot write " + path);
    }
    out.commit();
}

// Re-encodes an animated WebP as an APNG that keeps every frame's timing and the loop count.
void writeApng(const std::string& input, const std::string& path)
{
    cjpeg::WebpFrames frames(cjpeg::openForReading(input));
    cjpeg::OutputFile out(path);
    PngWriter writer(out.stream(), frames.width(), frames.height(), 4, frames.frameCount(),
                     frames.loopCount());
    const std::size_t stride = static_cast<std::size_t>(frames.width()) * 4;
    int previousEnd = 0;
    for (int i = 0; i < frames.frameCount(); ++i) {
        int end = 0;
        const std::uint8_t* rgba = frames.next(&end);
        if (!rgba)
            throw cjpeg::Error("animated WebP has fewer frames than announced");
        writer.addFrame(rgba, stride, end - previousEnd);
        previousEnd = end;
    }
    writer.finish();
    out.commit();
}

// Whether ffmpeg's own decoders show this still source as it is meant to be seen.
bool ffmpegReadsAsIs(ImageFormat format, const cjpeg::ImageInfo& info)
{
    return format != ImageFormat::Tiff && !info.unusualCoding;
}

} // namespace

void prepare(Target target, const std::string& input, const std::string& outDir, int maxWidth, int maxHeight)
{
    ImageFormat format{};
    {
        cjpeg::FilePtr file = cjpeg::openForReading(input);
        format = cjpeg::detectFormat(file.get());
    }
    const Animation animation = probeAnimation(input, format);
    std::string prepared = input;
    bool turned = false;
    cjpeg::PixelSize resized;

    if (target == Target::Webp && animation.frames > 1) {
        // ffmpeg reads GIF and APNG animations with their timing; it cannot decode animated WebP.
        if (format == ImageFormat::Webp) {
            prepared = intermediatePath(input, outDir, "apng");
            writeApng(input, prepared);
        }
        // The encoder shrinks every frame itself, to the size given here.
        const auto reader = cjpeg::openImage(input);
        resized = cjpeg::fitInside(reader->info().width, reader->info().height, maxWidth, maxHeight);
    } else {
        auto reader = cjpeg::openImage(input);
        const int orientation = cjpeg::exifOrientation(reader->metadata().exif);
        const bool transposed = orientation >= 5;
        const bool fits =
            cjpeg::fitInside(transposed ? reader->info().height : reader->info().width,
                             transposed ? reader->info().width : reader->info().height, maxWidth, maxHeight)
                .width == 0;
        const bool asIs =
            orientation == 1 && fits &&
            (target == Target::Png ? format == ImageFormat::Png : ffmpegReadsAsIs(format, reader->info()));
        if (!asIs) {
            const auto image = cjpeg::readUprightFitted(*reader, orientation, maxWidth, maxHeight, &resized);
            reader.reset();
            turned = orientation != 1;
            prepared = intermediatePath(input, outDir, target == Target::Png ? "png" : "pam");
            if (target == Target::Png)
                writePng(*image, prepared);
            else
                writePam(*image, prepared);
        }
    }
    std::printf("input=%s\nformat=%s\nframes=%d\nloop=%d\nturned=%d\n", prepared.c_str(),
                cjpeg::formatName(format), animation.frames, animation.loop, turned ? 1 : 0);
    if (resized.width > 0)
        std::printf("resized=%dx%d\n", resized.width, resized.height);
}

} // namespace cimage
