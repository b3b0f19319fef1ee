#include "Error.h"
#include "Readers.h"

#include <cctype>
#include <vector>

namespace cjpeg {

namespace {

// Reads one header number, skipping whitespace and '#' comments before it.
long readHeaderNumber(std::FILE* file)
{
    int c = std::fgetc(file);
    for (;;) {
        if (c == '#') {
            while (c != '\n' && c != '\r' && c != EOF)
                c = std::fgetc(file);
        } else if (c != EOF && std::isspace(c)) {
            c = std::fgetc(file);
        } else {
            break;
        }
    }
    if (c == EOF || !std::isdigit(c))
        throw Error("damaged PNM header");
    long value = 0;
    while (c != EOF && std::isdigit(c)) {
        value = value * 10 + (c - '0');
        if (value > 1000000)
            throw Error("damaged PNM header");
        c = std::fgetc(file);
    }
    // Exactly one whitespace byte ends the number; after maxval it is the last header byte.
    if (c == EOF || !std::isspace(c))
        throw Error("damaged PNM header");
    return value;
}

// Streams binary PGM (P5) and PPM (P6) rows with any maxval up to 65535.
class PnmReader final : public ImageReader
{
public:
    explicit PnmReader(FilePtr file) : file_(std::move(file))
    {
        char magic[2];
        readExact(file_.get(), magic, 2, "PNM header");
        const long width = readHeaderNumber(file_.get());
        const long height = readHeaderNumber(file_.get());
        maxValue_ = readHeaderNumber(file_.get());
        if (maxValue_ < 1 || maxValue_ > 65535)
            throw Error("damaged PNM header: maxval " + std::to_string(maxValue_));
        checkDimensions(width, height, "PNM");
        info_ = ImageInfo{static_cast<int>(width), static_cast<int>(height), magic[1] == '5' ? 1 : 3};
        bytesPerSample_ = maxValue_ > 255 ? 2 : 1;
        const std::size_t samples = static_cast<std::size_t>(info_.width) * info_.channels;
        raw_.resize(samples * bytesPerSample_);
        // Refuse a short file up front instead of discovering it halfway through the output.
        if (bytesRemaining(file_.get()) < static_cast<std::uint64_t>(raw_.size()) * info_.height)
            throw Error("truncated PNM pixel data");
        if (bytesPerSample_ == 2 || maxValue_ != 255)
            row_.resize(samples);
    }

    const std::uint8_t* nextRow() override
    {
        readExact(file_.get(), raw_.data(), raw_.size(), "PNM pixel data");
        if (row_.empty())
            return raw_.data();
        const unsigned long max = static_cast<unsigned long>(maxValue_);
        for (std::size_t i = 0; i < row_.size(); ++i) {
            unsigned long v = bytesPerSample_ == 2 ? (raw_[2 * i] << 8) | raw_[2 * i + 1] : raw_[i];
            if (v > max)
                v = max;
            row_[i] = static_cast<std::uint8_t>((v * 255 + max / 2) / max);
        }
        return row_.data();
    }

private:
    FilePtr file_;
    long maxValue_ = 255;
    int bytesPerSample_ = 1;
    std::vector<std::uint8_t> raw_;
    std::vector<std::uint8_t> row_;
};

} // namespace

std::unique_ptr<ImageReader> readPnm(FilePtr file)
{
    return std::make_unique<PnmReader>(std::move(file));
}

} // namespace cjpeg
