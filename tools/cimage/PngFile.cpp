#include "PngFile.h"

#include "Error.h"

#include <cstring>

#include <zlib.h>

namespace cimage {

namespace {

const std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

std::uint32_t be32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

void putBe32(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    const std::uint8_t bytes[4] = {std::uint8_t(v >> 24), std::uint8_t(v >> 16), std::uint8_t(v >> 8),
                                   std::uint8_t(v)};
    out.insert(out.end(), bytes, bytes + 4);
}

void putBe16(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    out.push_back(std::uint8_t(v >> 8));
    out.push_back(std::uint8_t(v));
}

void appendChunk(std::vector<std::uint8_t>& out, const std::string& type,
                 const std::vector<std::uint8_t>& data)
{
    putBe32(out, static_cast<std::uint32_t>(data.size()));
    const std::size_t typeStart = out.size();
    out.insert(out.end(), type.begin(), type.end());
    out.insert(out.end(), data.begin(), data.end());
    uLong crc = crc32(0, out.data() + typeStart, static_cast<uInt>(out.size() - typeStart));
    putBe32(out, static_cast<std::uint32_t>(crc));
}

// Image data goes out in chunks of this size, so no frame is ever held compressed in memory.
constexpr std::size_t kChunkData = 1 << 18;

// Owns a zlib compressor.
struct Deflater
{
    z_stream z{};
    explicit Deflater(int level)
    {
        if (deflateInit(&z, level) != Z_OK)
            throw cjpeg::Error("zlib initialisation failed");
    }
    ~Deflater() { deflateEnd(&z); }
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;
};

} // namespace

std::vector<PngChunk> parsePng(const std::vector<std::uint8_t>& file)
{
    if (file.size() < sizeof kSignature || std::memcmp(file.data(), kSignature, sizeof kSignature) != 0)
        throw cjpeg::Error("not a PNG file");
    std::vector<PngChunk> chunks;
    std::size_t pos = sizeof kSignature;
    while (pos < file.size()) {
        if (file.size() - pos < 12)
            throw cjpeg::Error("truncated PNG chunk");
        const std::uint32_t length = be32(file.data() + pos);
        if (length > file.size() - pos - 12)
            throw cjpeg::Error("truncated PNG chunk");
        PngChunk chunk;
        chunk.type.assign(reinterpret_cast<const char*>(file.data() + pos + 4), 4);
        chunk.data.assign(file.begin() + static_cast<std::ptrdiff_t>(pos + 8),
                          file.begin() + static_cast<std::ptrdiff_t>(pos + 8 + length));
        pos += 12 + length;
        const bool end = chunk.type == "IEND";
        chunks.push_back(std::move(chunk));
        if (end)
            break;
    }
    if (chunks.empty() || chunks.front().type != "IHDR" || chunks.back().type != "IEND")
        throw cjpeg::Error("damaged PNG structure");
    return chunks;
}

std::vector<std::uint8_t> assemblePng(const std::vector<PngChunk>& chunks)
{
    std::vector<std::uint8_t> out(kSignature, kSignature + sizeof kSignature);
    for (const PngChunk& chunk : chunks)
        appendChunk(out, chunk.type, chunk.data);
    return out;
}

PngWriter::PngWriter(std::FILE* out, int width, int height, int channels, int frameCount, int loopCount)
    : out_(out), width_(width), height_(height), channels_(channels), frameCount_(frameCount)
{
    static const std::uint8_t kColourType[5] = {0, 0, 4, 2, 6};
    if (std::fwrite(kSignature, 1, sizeof kSignature, out_) != sizeof kSignature)
        throw cjpeg::Error("cannot write PNG");
    std::vector<std::uint8_t> header;
    putBe32(header, static_cast<std::uint32_t>(width));
    putBe32(header, static_cast<std::uint32_t>(height));
    const std::uint8_t rest[5] = {8, kColourType[channels], 0, 0, 0};
    header.insert(header.end(), rest, rest + 5);
    writeChunk("IHDR", header);
    if (frameCount_ > 1) {
        std::vector<std::uint8_t> control;
        putBe32(control, static_cast<std::uint32_t>(frameCount_));
        putBe32(control, static_cast<std::uint32_t>(loopCount));
        writeChunk("acTL", control);
    }
}

void PngWriter::addFrame(const std::uint8_t* pixels, std::size_t stride, int delayMs)
{
    if (framesWritten_ >= frameCount_)
        throw cjpeg::Error("internal error: more frames than announced");
    if (frameCount_ > 1) {
        // Every frame covers the whole canvas and replaces it, so no disposal or blending is needed.
        std::vector<std::uint8_t> control;
        putBe32(control, sequence_++);
        putBe32(control, static_cast<std::uint32_t>(width_));
        putBe32(control, static_cast<std::uint32_t>(height_));
        putBe32(control, 0);
        putBe32(control, 0);
        putBe16(control, static_cast<std::uint32_t>(delayMs < 0 ? 0 : delayMs > 0xFFFF ? 0xFFFF : delayMs));
        putBe16(control, 1000);
        control.push_back(0); // APNG_DISPOSE_OP_NONE
        control.push_back(0); // APNG_BLEND_OP_SOURCE
        writeChunk("fcTL", control);
    }
    const bool first = framesWritten_ == 0;
    // Stored deflate blocks: the cost is one copy and the checksums, which keeps the intermediate a
    // small fraction of the quantiser's or encoder's own run.
    Deflater deflater(Z_NO_COMPRESSION);
    z_stream& z = deflater.z;
    std::vector<std::uint8_t> buffer(kChunkData);
    auto flushBuffer = [&] {
        const std::size_t used = buffer.size() - z.avail_out;
        if (used > 0)
            writeImageData(first, buffer.data(), used);
        z.next_out = buffer.data();
        z.avail_out = static_cast<uInt>(buffer.size());
    };
    z.next_out = buffer.data();
    z.avail_out = static_cast<uInt>(buffer.size());
    const std::size_t rowBytes = static_cast<std::size_t>(width_) * channels_;
    std::uint8_t filter = 0; // each scanline starts with its filter type: none
    for (int y = 0; y <= height_; ++y) {
        const bool last = y == height_;
        for (int part = 0; part < (last ? 1 : 2); ++part) {
            z.next_in = last ? nullptr : part == 0 ? &filter : const_cast<std::uint8_t*>(pixels + stride * y);
            z.avail_in = last ? 0 : part == 0 ? 1 : static_cast<uInt>(rowBytes);
            for (;;) {
                const int result = deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
                if (result == Z_STREAM_ERROR)
                    throw cjpeg::Error("zlib compression failed");
                if (last ? result == Z_STREAM_END : z.avail_in == 0)
                    break;
                if (z.avail_out == 0)
                    flushBuffer();
            }
        }
    }
    flushBuffer();
    ++framesWritten_;
}

void PngWriter::finish()
{
    if (framesWritten_ != frameCount_)
        throw cjpeg::Error("internal error: fewer frames than announced");
    writeChunk("IEND", {});
}

void PngWriter::writeImageData(bool firstFrame, const std::uint8_t* data, std::size_t size)
{
    // Later frames carry a sequence number ahead of the data.
    std::uint8_t sequence[4] = {std::uint8_t(sequence_ >> 24), std::uint8_t(sequence_ >> 16),
                                std::uint8_t(sequence_ >> 8), std::uint8_t(sequence_)};
    const std::size_t prefix = firstFrame ? 0 : sizeof sequence;
    if (!firstFrame)
        ++sequence_;
    const char* type = firstFrame ? "IDAT" : "fdAT";
    std::vector<std::uint8_t> head;
    putBe32(head, static_cast<std::uint32_t>(prefix + size));
    head.insert(head.end(), type, type + 4);
    head.insert(head.end(), sequence, sequence + prefix);
    uLong crc = crc32(0, head.data() + 4, static_cast<uInt>(head.size() - 4));
    crc = crc32(crc, data, static_cast<uInt>(size));
    std::vector<std::uint8_t> tail;
    putBe32(tail, static_cast<std::uint32_t>(crc));
    if (std::fwrite(head.data(), 1, head.size(), out_) != head.size() ||
        std::fwrite(data, 1, size, out_) != size || std::fwrite(tail.data(), 1, 4, out_) != 4)
        throw cjpeg::Error("cannot write PNG");
}

void PngWriter::writeChunk(const char* type, const std::vector<std::uint8_t>& data)
{
    std::vector<std::uint8_t> bytes;
    bytes.reserve(data.size() + 12);
    appendChunk(bytes, type, data);
    if (std::fwrite(bytes.data(), 1, bytes.size(), out_) != bytes.size())
        throw cjpeg::Error("cannot write PNG");
}

} // namespace cimage
