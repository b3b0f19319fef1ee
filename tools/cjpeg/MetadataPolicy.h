#pragma once

#include "Image.h"

#include <cstdint>
#include <string>
#include <vector>

namespace cjpeg {

// What of a source's metadata the output keeps: everything, everything but the location, or only the
// ICC profile.
enum class StripPolicy { None, Gps, All };

// Reads "gps" or "all"; false for anything else.
bool parseStripPolicy(const std::string& text, StripPolicy& policy);

// Applies the policy to metadata in its JPEG payload form. Gps drops the EXIF GPS directory and the
// XMP and IPTC location fields; All drops EXIF, XMP, IPTC and comments. The ICC profile always stays, so
// the colours do not change.
void applyStripPolicy(Metadata& metadata, StripPolicy policy);

// Removes the GPS directory and the pointer to it from an "Exif\0\0" payload; true when it had one.
bool removeExifGps(std::vector<std::uint8_t>& exif);

// Removes the location properties (exif:GPS*, the city, state, country and location fields of the
// Photoshop and IPTC schemas) from an XMP payload, attributes and elements alike.
void removeXmpLocation(std::vector<std::uint8_t>& xmp);

// Removes the location datasets of the IPTC block in a Photoshop APP13 payload (city, sub-location,
// province or state, country and its code, content location) and the digest that vouched for it.
void removeIptcLocation(std::vector<std::uint8_t>& iptc);

// Rewrites the pixel dimensions of the EXIF sub-directory, which would otherwise still name the size
// before a resize; nothing happens when the payload has none.
void setExifPixelSize(std::vector<std::uint8_t>& exif, int width, int height);

} // namespace cjpeg
