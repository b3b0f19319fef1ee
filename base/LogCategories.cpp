#include "LogCategories.h"

Q_LOGGING_CATEGORY(lcCompressor, "nerova.compressor")
Q_LOGGING_CATEGORY(lcDemux, "nerova.demux")
Q_LOGGING_CATEGORY(lcBase, "nerova.base")
