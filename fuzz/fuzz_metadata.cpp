// Feeds damaged metadata to cJpeg's own EXIF, XMP and IPTC editors: the code that reads a photo's
// orientation and takes its location out before the photo is written again. The first byte picks the
// payload (EXIF, XMP or a Photoshop IPTC block), the rest is the payload as it sits in its JPEG marker.
#include "Property.h"

#include <Image.h>
#include <MetadataPolicy.h>
#include <Orientation.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

void editExif(const Bytes& exif)
{
    const int orientation = cjpeg::exifOrientation(exif);
    checkProperty(orientation >= 1 && orientation <= 8, "an orientation in 1..8");

    Bytes turned = exif;
    const int other = orientation % 8 + 1;
    if (cjpeg::setExifOrientation(turned, other))
        checkProperty(cjpeg::exifOrientation(turned) == other, "the orientation written reads back");

    Bytes located = exif;
    cjpeg::removeExifGps(located);
    cjpeg::setExifPixelSize(located, 4032, 3024);
    checkProperty(turned.size() == exif.size() && located.size() == exif.size(),
                  "EXIF is edited in place, at its size");
}

// Taking the location out leaves nothing that a second pass would still take: no location property is
// formed by what the first pass joined.
void editXmp(const Bytes& xmp)
{
    Bytes once = xmp;
    cjpeg::removeXmpLocation(once);
    checkProperty(once.size() <= xmp.size(), "removing only shortens the XMP");
    Bytes twice = once;
    cjpeg::removeXmpLocation(twice);
    checkProperty(twice == once, "no location is left in the XMP");
}

void editIptc(const Bytes& iptc)
{
    Bytes once = iptc;
    cjpeg::removeIptcLocation(once);
    Bytes twice = once;
    cjpeg::removeIptcLocation(twice);
    checkProperty(twice == once, "no location is left in the IPTC block");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const Bytes payload(data + 1, data + size);
    cjpeg::Metadata metadata;
    switch (data[0] % 3) {
    case 0:
        editExif(payload);
        metadata.exif = payload;
        break;
    case 1:
        editXmp(payload);
        metadata.xmp = payload;
        break;
    default:
        editIptc(payload);
        metadata.iptc = payload;
        break;
    }
    metadata.icc = {1, 2, 3};
    cjpeg::Metadata gps = metadata;
    cjpeg::applyStripPolicy(gps, cjpeg::StripPolicy::Gps);
    cjpeg::applyStripPolicy(metadata, cjpeg::StripPolicy::All);
    checkProperty(metadata.exif.empty() && metadata.xmp.empty() && metadata.iptc.empty() &&
                      metadata.icc.size() == 3,
                  "stripping all keeps only the colour profile");
    return 0;
}
