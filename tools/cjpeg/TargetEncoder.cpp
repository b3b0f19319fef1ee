#include "TargetEncoder.h"

#include "BlockTransform.h"
#include "CoefficientEncoder.h"
#include "JpegWriter.h"
#include "Readers.h"

#include <cmath>
#include <cstdlib>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace cjpeg {

namespace {
// A photo's JPEG grows about evenly in log(size) against the log of the quantiser scale, by this much
// per unit (0.6 to 0.95 on typical photos).
constexpr double kLogSizePerLogScale = 0.72;

// Above this many pixels the kept coefficients (6 bytes a pixel with halved chroma) would cost more
// memory than decoding the source again for every try.
constexpr std::int64_t kMaxKeptPixels = 40'000'000;

double scaleAxis(int quality)
{
    return -std::log(double(jpeg_quality_scaling(quality)));
}
} // namespace

// A whole picture's DCT coefficients in one chroma layout, kept to be quantised at several qualities.
class TargetEncoder::Transformed : public BlockTransform::Sink
{
public:
    Transformed(const ImageOpener& open, bool subsampled)
    {
        auto reader = open();
        const ImageInfo info = opaqueInfo(reader->info());
        BlockTransform transform(info, subsampled, *this);
        // One allocation of the final size: growing by copies would touch every page several times.
        const std::size_t groups =
            static_cast<std::size_t>((info.height + transform.rowsPerGroup() - 1) / transform.rowsPerGroup());
        planes_.resize(static_cast<std::size_t>(transform.components()));
        for (int c = 0; c < transform.components(); ++c)
            planes_[c].reserve(groups * transform.blockRows(c) * transform.blocksWide(c) * 64);
        feedOpaqueRows(*reader, [&](const std::uint8_t* row) { transform.addRow(row); });
        transform.finish();
        for (int c = 0; c < transform.components(); ++c)
            layout_.push_back({transform.blockRows(c), transform.blocksWide(c)});
    }

    // Row groups arrive in order, so appending keeps them in place.
    void takeBlocks(int component, int /*group*/, const float* blocks, int blockRows, int blocksWide) override
    {
        if (planes_.size() <= static_cast<std::size_t>(component))
            planes_.resize(static_cast<std::size_t>(component) + 1);
        planes_[component].insert(planes_[component].end(), blocks,
                                  blocks + static_cast<std::size_t>(blockRows) * blocksWide * 64);
    }

    // Hands the row groups to `sink` in the order BlockTransform delivered them.
    void replay(BlockTransform::Sink& sink) const
    {
        std::vector<std::size_t> offsets(planes_.size(), 0);
        const std::size_t groupBlocks = static_cast<std::size_t>(layout_[0].first) * layout_[0].second * 64;
        const std::size_t groups = groupBlocks == 0 ? 0 : planes_[0].size() / groupBlocks;
        for (std::size_t g = 0; g < groups; ++g) {
            for (std::size_t c = 0; c < planes_.size(); ++c) {
                const auto [rows, wide] = layout_[c];
                sink.takeBlocks(static_cast<int>(c), static_cast<int>(g), planes_[c].data() + offsets[c],
                                rows, wide);
                offsets[c] += static_cast<std::size_t>(rows) * wide * 64;
            }
        }
    }

private:
    std::vector<std::vector<float>> planes_;
    std::vector<std::pair<int, int>> layout_; // block rows and blocks across per group, per component
};

TargetEncoder::TargetEncoder(ImageOpener open, const ImageInfo& info, Metadata metadata, int highest,
                             std::int64_t budget, bool progressive)
    : open_(std::move(open)), progressive_(progressive),
      search_(kLowestQuality, highest, budget, kLogSizePerLogScale, scaleAxis), info_(opaqueInfo(info)),
      metadata_(std::move(metadata))
{}

TargetEncoder::~TargetEncoder() = default;

const TargetEncoder::Transformed& TargetEncoder::transformed(bool subsampled)
{
    std::unique_ptr<Transformed>& slot = transforms_[subsampled];
    if (!slot)
        slot = std::make_unique<Transformed>(open_, subsampled);
    return *slot;
}

void TargetEncoder::run()
{
#ifdef __GLIBC__
    // Every try allocates and frees the coefficient arrays libjpeg codes from, tens of megabytes for a
    // photo. Kept in the heap instead of going back to the system, the next try reuses pages that are
    // already mapped rather than faulting in fresh ones (a fifth of the time of a search).
    mallopt(M_MMAP_THRESHOLD, 1 << 30);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
#endif
    for (int quality = search_.next(); quality >= 0; quality = search_.next()) {
        std::vector<std::uint8_t> bytes = encode(quality);
        search_.record(quality, static_cast<std::int64_t>(bytes.size()));
        results_[quality] = std::move(bytes);
        // Only the result the search would now deliver is kept.
        const int keep = search_.chosen();
        for (auto it = results_.begin(); it != results_.end();)
            it = it->first == keep ? std::next(it) : results_.erase(it);
    }
}

std::vector<std::uint8_t> TargetEncoder::encode(int quality)
{
    const bool subsampled = CoefficientEncoder::subsampledAt(quality, info_.channels);
    const bool keep = std::int64_t(info_.width) * info_.height <= kMaxKeptPixels;
    JpegCompressor jpeg;
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpegGuard(jpeg.errors, [&] { jpeg_mem_dest(&jpeg.cinfo, &buffer, &size); });
    // libjpeg allocates the buffer with malloc and may grow it; it is ours once the file is finished.
    struct Release
    {
        unsigned char*& buffer;
        ~Release() { std::free(buffer); }
    } release{buffer};
    CoefficientEncoder encoder(jpeg, info_, quality, progressive_);
    writeMetadata(jpeg, metadata_);
    if (keep) {
        transformed(subsampled).replay(encoder);
    } else {
        auto reader = open_();
        BlockTransform transform(info_, subsampled, encoder);
        feedOpaqueRows(*reader, [&](const std::uint8_t* row) { transform.addRow(row); });
        transform.finish();
    }
    encoder.finish();
    return std::vector<std::uint8_t>(buffer, buffer + size);
}

} // namespace cjpeg
