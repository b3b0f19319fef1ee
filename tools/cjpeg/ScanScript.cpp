#include "ScanScript.h"

#include <algorithm>

namespace cjpeg {

namespace {
// One scan: components (-1 ends the list), spectral band and successive-approximation bits.
struct Scan
{
    int components[3];
    int ss, se, ah, al;
};

// DC of all components together; luma's AC split after the lowest eight coefficients and sent in two
// bit planes (the low bit of busy blocks costs much, so it comes last); chroma's AC in one scan each,
// since there is too little of it to gain from splitting. On photographs this codes smaller than
// libjpeg's standard script.
constexpr Scan kColourScans[] = {
    {{0, 1, 2}, 0, 0, 0, 0},    {{0, -1, -1}, 1, 8, 0, 1},  {{0, -1, -1}, 9, 63, 0, 1},
    {{0, -1, -1}, 1, 63, 1, 0}, {{1, -1, -1}, 1, 63, 0, 0}, {{2, -1, -1}, 1, 63, 0, 0},
};
constexpr Scan kGrayScans[] = {
    {{0, -1, -1}, 0, 0, 0, 0},
    {{0, -1, -1}, 1, 8, 0, 1},
    {{0, -1, -1}, 9, 63, 0, 1},
    {{0, -1, -1}, 1, 63, 1, 0},
};

template <std::size_t N> void install(jpeg_compress_struct& cinfo, const Scan (&scans)[N])
{
    // libjpeg reads the script while it writes the file, so it lives in the image's memory pool.
    auto* script = static_cast<jpeg_scan_info*>(cinfo.mem->alloc_small(
        reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE, sizeof(jpeg_scan_info) * N));
    for (std::size_t i = 0; i < N; ++i) {
        const Scan& scan = scans[i];
        jpeg_scan_info& out = script[i];
        out.comps_in_scan = 0;
        for (int c : scan.components)
            if (c >= 0)
                out.component_index[out.comps_in_scan++] = c;
        out.Ss = scan.ss;
        out.Se = scan.se;
        out.Ah = scan.ah;
        out.Al = scan.al;
    }
    cinfo.scan_info = script;
    cinfo.num_scans = static_cast<int>(N);
}
} // namespace

void setProgressiveScans(jpeg_compress_struct& cinfo)
{
    if (cinfo.num_components == 1)
        install(cinfo, kGrayScans);
    else
        install(cinfo, kColourScans);
}

} // namespace cjpeg
