#pragma once

struct AVFormatContext;

namespace Nerova {

// True when libavformat opened the context as an ASF-family file (ASF, WMV, WMA): the one family whose
// cover pictures carry no attached-picture mark, so only its files need a cover check.
bool isAsfFamily(const AVFormatContext* context);

} // namespace Nerova
