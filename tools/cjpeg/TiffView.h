#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace cjpeg {

// The TIFF structure inside an EXIF payload ("Exif\0\0" + TIFF), with every access checked against its
// end by the caller through holds(). Offsets are from the start of the TIFF structure. A view made from
// a const payload reads only; put16, put32 and data need the mutable one.
class TiffView
{
public:
    static constexpr std::size_t kTiffStart = 6; // after "Exif\0\0"
    static constexpr std::size_t kEntrySize = 12;

    explicit TiffView(std::vector<std::uint8_t>& exif)
        : TiffView(static_cast<const std::vector<std::uint8_t>&>(exif))
    {
        if (t_)
            w_ = exif.data() + kTiffStart;
    }
    explicit TiffView(const std::vector<std::uint8_t>& exif)
    {
        if (exif.size() < kTiffStart + 8 || std::memcmp(exif.data(), "Exif\0\0", 6) != 0)
            return;
        t_ = exif.data() + kTiffStart;
        size_ = exif.size() - kTiffStart;
        big_ = t_[0] == 'M';
        const bool order = (t_[0] == 'I' && t_[1] == 'I') || (t_[0] == 'M' && t_[1] == 'M');
        if (!order || u16(2) != 42)
            t_ = nullptr;
    }

    bool valid() const { return t_ != nullptr; }
    bool holds(std::size_t at, std::size_t length) const { return at <= size_ && length <= size_ - at; }
    std::uint16_t u16(std::size_t at) const
    {
        return static_cast<std::uint16_t>(big_ ? t_[at] << 8 | t_[at + 1] : t_[at + 1] << 8 | t_[at]);
    }
    std::uint32_t u32(std::size_t at) const
    {
        return big_ ? std::uint32_t(u16(at)) << 16 | u16(at + 2) : std::uint32_t(u16(at + 2)) << 16 | u16(at);
    }
    void put16(std::size_t at, std::uint16_t v)
    {
        w_[at + (big_ ? 0 : 1)] = static_cast<std::uint8_t>(v >> 8);
        w_[at + (big_ ? 1 : 0)] = static_cast<std::uint8_t>(v);
    }
    void put32(std::size_t at, std::uint32_t v)
    {
        put16(at + (big_ ? 0 : 2), static_cast<std::uint16_t>(v >> 16));
        put16(at + (big_ ? 2 : 0), static_cast<std::uint16_t>(v));
    }
    std::uint8_t* data() { return w_; }

    // A directory's entry count, or 0 when the whole directory (and the next-directory offset) does not fit.
    std::size_t entries(std::size_t ifd) const
    {
        if (ifd < 8 || !holds(ifd, 2))
            return 0;
        const std::size_t count = u16(ifd);
        return holds(ifd + 2, count * kEntrySize + 4) ? count : 0;
    }

    // The offset of the entry with `tag` in the directory at ifd, or 0.
    std::size_t find(std::size_t ifd, std::uint16_t tag) const
    {
        const std::size_t count = entries(ifd);
        for (std::size_t i = 0; i < count; ++i)
            if (u16(ifd + 2 + kEntrySize * i) == tag)
                return ifd + 2 + kEntrySize * i;
        return 0;
    }

    // Bytes an entry's values take.
    std::size_t valueBytes(std::size_t entry) const
    {
        static const std::size_t kTypeSize[13] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
        const std::uint16_t type = u16(entry + 2);
        return type < 13 ? kTypeSize[type] * std::size_t(u32(entry + 4)) : 0;
    }

private:
    const std::uint8_t* t_ = nullptr;
    std::uint8_t* w_ = nullptr;
    std::size_t size_ = 0;
    bool big_ = false;
};

} // namespace cjpeg
