// Opens a damaged image with cJpeg's readers exactly as cJpeg does (the format found by content), takes
// every row, encodes them through cJpeg's own writer into memory and decodes that JPEG with libjpeg-turbo.
// A reader may refuse an input with an error; when it accepts one, its header, its rows and the JPEG
// made from them must agree.
#include "ImageHeader.h"
#include "Property.h"

#include <Error.h>
#include <JpegWriter.h>
#include <Readers.h>

#include <cstdio>
#include <cstdlib>
#include <new>
#include <vector>

namespace {

// Far below the readers' own limit (268,435,456 pixels): every image up to it is decoded and encoded in
// well under a second, so a mutated header that asks for a huge canvas costs nothing, while a reader
// that allocates before checking still shows up under libFuzzer's -malloc_limit_mb.
constexpr long long kFuzzMaxPixels = 1LL << 20;

// Closes a stream from open_memstream and frees what it wrote.
class MemoryOutput
{
public:
    MemoryOutput() : mFile(open_memstream(&mData, &mSize))
    {
        checkProperty(mFile != nullptr, "a memory stream opens");
    }
    ~MemoryOutput()
    {
        if (mFile)
            std::fclose(mFile);
        std::free(mData);
    }
    MemoryOutput(const MemoryOutput&) = delete;
    MemoryOutput& operator=(const MemoryOutput&) = delete;

    std::FILE* stream() const { return mFile; }
    // Flushes and returns everything written so far.
    std::vector<std::uint8_t> bytes()
    {
        checkProperty(std::fflush(mFile) == 0, "the memory stream flushes");
        return std::vector<std::uint8_t>(reinterpret_cast<std::uint8_t*>(mData),
                                         reinterpret_cast<std::uint8_t*>(mData) + mSize);
    }

private:
    char* mData = nullptr;
    std::size_t mSize = 0;
    std::FILE* mFile = nullptr;
};

// Decodes the JPEG fully with libjpeg-turbo; it must be whole and of the given size and channel count.
void checkJpeg(const std::vector<std::uint8_t>& jpeg, const cjpeg::ImageInfo& info)
{
    cjpeg::JpegDecompressor decoder;
    jpeg_decompress_struct& cinfo = decoder.cinfo;
    std::vector<JSAMPLE> row(static_cast<std::size_t>(info.width) * info.channels);
    bool whole = false;
    try {
        cjpeg::jpegGuard(decoder.errors, [&] {
            jpeg_mem_src(&cinfo, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
            jpeg_read_header(&cinfo, TRUE);
            jpeg_start_decompress(&cinfo);
            if (static_cast<int>(cinfo.output_width) != info.width ||
                static_cast<int>(cinfo.output_height) != info.height ||
                cinfo.output_components != info.channels)
                return;
            while (cinfo.output_scanline < cinfo.output_height) {
                JSAMPROW rows[1] = {row.data()};
                jpeg_read_scanlines(&cinfo, rows, 1);
            }
            jpeg_finish_decompress(&cinfo);
            whole = true;
        });
    } catch (const cjpeg::Error&) {
        whole = false;
    }
    checkProperty(whole, "libjpeg-turbo decodes the JPEG written, at the size and channels read");
}

void convert(cjpeg::ImageReader& reader, cjpeg::ImageFormat format, const uint8_t* data, size_t size)
{
    cjpeg::ImageInfo info = reader.info();
    checkProperty(info.width > 0 && info.height > 0 && info.channels >= 1 && info.channels <= 4,
                  "a valid size and layout");
    checkProperty(static_cast<long long>(info.width) * info.height <= kFuzzMaxPixels,
                  "the pixel limit holds");
    checkProperty(headerAgrees(format, data, size, info), "the size agrees with the header");

    // As cJpeg does: alpha is blended over white, the rest goes to the writer row by row.
    const int readChannels = info.channels;
    const bool alpha = cjpeg::hasAlpha(readChannels);
    if (alpha)
        --info.channels;
    const std::size_t rowSize = static_cast<std::size_t>(info.width) * readChannels;
    std::vector<std::uint8_t> copy(rowSize);
    std::vector<std::uint8_t> flat(static_cast<std::size_t>(info.width) * info.channels);
    MemoryOutput output;
    cjpeg::JpegWriter writer(output.stream(), info, reader.metadata(), cjpeg::EncodeSettings{});
    for (int y = 0; y < info.height; ++y) {
        const std::uint8_t* row = reader.nextRow();
        checkProperty(row != nullptr, "every row is there");
        // Every row holds width * channels samples: reading them all lets the sanitizer see a short one.
        std::copy(row, row + rowSize, copy.data());
        if (alpha)
            cjpeg::compositeOnWhite(copy.data(), flat.data(), static_cast<std::size_t>(info.width),
                                    readChannels);
        writer.writeRow(alpha ? flat.data() : copy.data());
    }
    reader.finish();
    writer.finish();
    checkJpeg(output.bytes(), info);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    cjpeg::limitPixels(kFuzzMaxPixels);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    // A stream over the input itself, read-only: no copy and no file.
    cjpeg::FilePtr file(fmemopen(const_cast<uint8_t*>(data), size, "rb"));
    checkProperty(file != nullptr, "a stream over the input opens");
    try {
        cjpeg::ImageFormat format = cjpeg::ImageFormat::Jpeg;
        const std::unique_ptr<cjpeg::ImageReader> reader = cjpeg::openImage(std::move(file), &format);
        checkProperty(reader != nullptr, "an accepted image has a reader");
        convert(*reader, format, data, size);
    } catch (const cjpeg::Error&) {
        // A refused or damaged image: cJpeg reports it and exits with code 1.
    } catch (const std::bad_alloc&) {
        // Only an allocation the sizes allow fails here, under the fuzzer's malloc limit.
    }
    return 0;
}
