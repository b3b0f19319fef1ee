#include "MetadataPolicy.h"

#include "TiffView.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace cjpeg {

namespace {

constexpr std::uint16_t kGpsPointerTag = 0x8825;
constexpr std::uint16_t kExifPointerTag = 0x8769;
constexpr std::uint16_t kPixelXDimensionTag = 0xA002;
constexpr std::uint16_t kPixelYDimensionTag = 0xA003;
constexpr std::uint16_t kShortType = 3;
constexpr std::uint16_t kLongType = 4;
constexpr std::size_t kEntrySize = TiffView::kEntrySize;

// Zeroes a directory and the values it stores outside itself.
void blankDirectory(TiffView& tiff, std::size_t ifd)
{
    const std::size_t count = tiff.entries(ifd);
    if (count == 0)
        return;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t entry = ifd + 2 + kEntrySize * i;
        const std::size_t bytes = tiff.valueBytes(entry);
        const std::size_t at = tiff.u32(entry + 8);
        if (bytes > 4 && tiff.holds(at, bytes))
            std::memset(tiff.data() + at, 0, bytes);
    }
    std::memset(tiff.data() + ifd, 0, 2 + count * kEntrySize + 4);
}

bool isNameChar(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
           c == ':' || c == '-' || c == '.';
}

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Where the property that starts at `at` (an attribute after white space, or an element after '<')
// ends, with the position its removal starts at; false when it is neither.
bool propertyExtent(const std::string& text, std::size_t at, std::size_t& from, std::size_t& to)
{
    std::size_t end = at;
    while (end < text.size() && isNameChar(text[end]))
        ++end;
    const std::string name = text.substr(at, end - at);
    if (at > 0 && text[at - 1] == '<') {
        const std::size_t close = text.find('>', end);
        if (close == std::string::npos)
            return false;
        from = at - 1;
        if (text[close - 1] == '/') {
            to = close + 1;
            return true;
        }
        const std::string endTag = "</" + name + ">";
        const std::size_t endAt = text.find(endTag, close);
        if (endAt == std::string::npos)
            return false;
        to = endAt + endTag.size();
        return true;
    }
    if (at == 0 || !isSpace(text[at - 1]))
        return false;
    std::size_t p = end;
    while (p < text.size() && isSpace(text[p]))
        ++p;
    if (p >= text.size() || text[p] != '=')
        return false;
    ++p;
    while (p < text.size() && isSpace(text[p]))
        ++p;
    if (p >= text.size() || (text[p] != '"' && text[p] != '\''))
        return false;
    const std::size_t close = text.find(text[p], p + 1);
    if (close == std::string::npos)
        return false;
    from = at - 1;
    to = close + 1;
    return true;
}

} // namespace

bool parseStripPolicy(const std::string& text, StripPolicy& policy)
{
    if (text == "gps")
        policy = StripPolicy::Gps;
    else if (text == "all")
        policy = StripPolicy::All;
    else
        return false;
    return true;
}

void applyStripPolicy(Metadata& metadata, StripPolicy policy)
{
    switch (policy) {
    case StripPolicy::None:
        return;
    case StripPolicy::Gps:
        removeExifGps(metadata.exif);
        removeXmpLocation(metadata.xmp);
        removeIptcLocation(metadata.iptc);
        return;
    case StripPolicy::All:
        metadata.exif.clear();
        metadata.xmp.clear();
        metadata.iptc.clear();
        metadata.comments.clear();
        return;
    }
}

bool removeExifGps(std::vector<std::uint8_t>& exif)
{
    TiffView tiff(exif);
    if (!tiff.valid())
        return false;
    const std::size_t ifd0 = tiff.u32(4);
    const std::size_t entry = tiff.find(ifd0, kGpsPointerTag);
    if (entry == 0)
        return false;
    const std::size_t gps = tiff.u32(entry + 8);
    // The entries after the pointer and the next-directory offset move up by one entry.
    const std::size_t count = tiff.entries(ifd0);
    const std::size_t tail = ifd0 + 2 + count * kEntrySize + 4;
    std::memmove(tiff.data() + entry, tiff.data() + entry + kEntrySize, tail - entry - kEntrySize);
    std::memset(tiff.data() + tail - kEntrySize, 0, kEntrySize);
    tiff.put16(ifd0, static_cast<std::uint16_t>(count - 1));
    // The directory itself goes too: a reader that scans for it must not find the position.
    blankDirectory(tiff, gps);
    return true;
}

void removeXmpLocation(std::vector<std::uint8_t>& xmp)
{
    static const char* const kPrefixes[] = {"exif:GPS",
                                            "photoshop:City",
                                            "photoshop:State",
                                            "photoshop:Country",
                                            "Iptc4xmpCore:Location",
                                            "Iptc4xmpCore:CountryCode",
                                            "Iptc4xmpExt:Location",
                                            "Iptc4xmpExt:City",
                                            "Iptc4xmpExt:CountryName",
                                            "Iptc4xmpExt:ProvinceState",
                                            "Iptc4xmpExt:Sublocation"};
    // Taking one property out joins the text around it, which can make a property of what was not one
    // before; passes repeat until none removes anything. Each pass shortens the text, and the bound keeps
    // a packet crafted to unfold level by level from costing more than a few passes.
    constexpr int kMaxPasses = 64;
    std::string text(xmp.begin(), xmp.end());
    bool changed = false;
    for (int pass = 0; pass < kMaxPasses; ++pass) {
        bool removed = false;
        for (const char* prefix : kPrefixes) {
            std::size_t at = 0;
            while ((at = text.find(prefix, at)) != std::string::npos) {
                std::size_t from = 0, to = 0;
                if (propertyExtent(text, at, from, to)) {
                    text.erase(from, to - from);
                    at = from;
                    removed = true;
                } else {
                    at += std::strlen(prefix);
                }
            }
        }
        if (!removed)
            break;
        changed = true;
    }
    if (changed)
        xmp.assign(text.begin(), text.end());
}

namespace {

const char kPhotoshopHeader[] = "Photoshop 3.0"; // followed by its NUL
constexpr std::uint16_t kIptcResource = 0x0404;
constexpr std::uint16_t kIptcDigestResource = 0x0425;

std::uint32_t be(const std::vector<std::uint8_t>& d, std::size_t at, int bytes)
{
    std::uint32_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value = value << 8 | d[at + i];
    return value;
}

void putBe32(std::vector<std::uint8_t>& d, std::size_t at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        d[at + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}

// The IPTC datasets without the location ones; the input unchanged when it cannot be parsed.
std::vector<std::uint8_t> withoutLocationDatasets(const std::vector<std::uint8_t>& data, bool& changed)
{
    // Record 2: 26/27 content location code/name, 90 city, 92 sub-location, 95 province or state,
    // 100 country code, 101 country name.
    static const std::uint8_t kLocation[] = {26, 27, 90, 92, 95, 100, 101};
    std::vector<std::uint8_t> out;
    std::size_t at = 0;
    while (at + 5 <= data.size() && data[at] == 0x1C) {
        std::size_t length = be(data, at + 3, 2);
        std::size_t header = 5;
        if (length & 0x8000) { // extended: the length of the length follows
            const std::size_t bytes = length & 0x7FFF;
            if (bytes > 4 || at + 5 + bytes > data.size())
                return data;
            length = be(data, at + 5, static_cast<int>(bytes));
            header += bytes;
        }
        if (length > data.size() - at - header)
            return data;
        const bool location = data[at + 1] == 2 && std::find(std::begin(kLocation), std::end(kLocation),
                                                             data[at + 2]) != std::end(kLocation);
        if (location)
            changed = true;
        else
            out.insert(out.end(), data.begin() + at, data.begin() + at + header + length);
        at += header + length;
    }
    // Anything after the datasets (padding) stays as it was.
    out.insert(out.end(), data.begin() + std::min(at, data.size()), data.end());
    return out;
}

} // namespace

void removeIptcLocation(std::vector<std::uint8_t>& iptc)
{
    if (iptc.size() < sizeof kPhotoshopHeader ||
        std::memcmp(iptc.data(), kPhotoshopHeader, sizeof kPhotoshopHeader))
        return;
    std::vector<std::uint8_t> out(iptc.begin(), iptc.begin() + sizeof kPhotoshopHeader);
    bool changed = false;
    std::size_t at = sizeof kPhotoshopHeader;
    while (at + 12 <= iptc.size() && std::memcmp(iptc.data() + at, "8BIM", 4) == 0) {
        const std::uint16_t id = static_cast<std::uint16_t>(be(iptc, at + 4, 2));
        // A Pascal name padded to an even length, then the data's size and the data, padded likewise.
        const std::size_t nameBytes = (iptc[at + 6] + 2) & ~std::size_t(1);
        const std::size_t sizeAt = at + 6 + nameBytes;
        if (sizeAt + 4 > iptc.size())
            return;
        const std::size_t size = be(iptc, sizeAt, 4);
        const std::size_t dataAt = sizeAt + 4;
        if (size > iptc.size() - dataAt)
            return;
        const std::size_t end = std::min(iptc.size(), dataAt + size + (size & 1));
        if (id == kIptcResource) {
            const std::vector<std::uint8_t> data(iptc.begin() + dataAt, iptc.begin() + dataAt + size);
            const std::vector<std::uint8_t> kept = withoutLocationDatasets(data, changed);
            out.insert(out.end(), iptc.begin() + at, iptc.begin() + dataAt);
            putBe32(out, out.size() - 4, static_cast<std::uint32_t>(kept.size()));
            out.insert(out.end(), kept.begin(), kept.end());
            if (kept.size() & 1)
                out.push_back(0);
        } else if (id != kIptcDigestResource) {
            out.insert(out.end(), iptc.begin() + at, iptc.begin() + end);
        }
        at = end;
    }
    if (at != iptc.size())
        return; // not understood to the end: leave it as it was
    if (changed)
        iptc = std::move(out);
}

void setExifPixelSize(std::vector<std::uint8_t>& exif, int width, int height)
{
    TiffView tiff(exif);
    if (!tiff.valid())
        return;
    const std::size_t pointer = tiff.find(tiff.u32(4), kExifPointerTag);
    if (pointer == 0)
        return;
    const std::size_t sub = tiff.u32(pointer + 8);
    const std::pair<std::uint16_t, int> sizes[] = {{kPixelXDimensionTag, width},
                                                   {kPixelYDimensionTag, height}};
    for (const auto& [tag, value] : sizes) {
        const std::size_t entry = tiff.find(sub, tag);
        if (entry == 0 || tiff.u32(entry + 4) != 1)
            continue;
        if (tiff.u16(entry + 2) == kLongType)
            tiff.put32(entry + 8, static_cast<std::uint32_t>(value));
        else if (tiff.u16(entry + 2) == kShortType && value <= 0xFFFF)
            tiff.put16(entry + 8, static_cast<std::uint16_t>(value));
    }
}

} // namespace cjpeg
