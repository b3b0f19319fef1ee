#pragma once

#include "Image.h"
#include "QualitySearch.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace cjpeg {

// Finds the highest quality whose JPEG fits a byte budget: the source is decoded and transformed once
// (per chroma layout) and each try only quantises and entropy-codes it again, in memory; each result
// equals what a plain run at that quality writes. A very large picture is decoded again for each try
// instead, so memory stays what a plain run needs.
class TargetEncoder
{
public:
    // Hands out the picture's rows from the start each time it is called (the first call may hand out a
    // reader that is already open).
    using ImageOpener = std::function<std::unique_ptr<ImageReader>()>;

    // info and metadata: the picture's and what the file is to carry. highest: the quality a plain run
    // would use, so a budget never makes a file larger than that.
    TargetEncoder(ImageOpener open, const ImageInfo& info, Metadata metadata, int highest,
                  std::int64_t budget, bool progressive);
    ~TargetEncoder();
    TargetEncoder(const TargetEncoder&) = delete;
    TargetEncoder& operator=(const TargetEncoder&) = delete;

    // Runs the search; afterwards the chosen file's bytes and how it went.
    void run();
    const std::vector<std::uint8_t>& result() const { return results_.at(search_.chosen()); }
    int quality() const { return search_.chosen(); }
    bool fits() const { return search_.fits(); }
    int encodes() const { return search_.encodes(); }

    // The lowest quality tried: below it a photo is blocks.
    static constexpr int kLowestQuality = 5;

private:
    class Transformed;

    std::vector<std::uint8_t> encode(int quality);
    const Transformed& transformed(bool subsampled);

    ImageOpener open_;
    bool progressive_;
    QualitySearch search_;
    ImageInfo info_;
    Metadata metadata_;
    std::map<bool, std::unique_ptr<Transformed>> transforms_;
    // Only the results the search may still deliver are kept.
    std::map<int, std::vector<std::uint8_t>> results_;
};

} // namespace cjpeg
