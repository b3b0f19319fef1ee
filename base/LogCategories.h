#pragma once

#include <QLoggingCategory>

// The library's diagnostic categories, so that a host can switch each on or off
// (QT_LOGGING_RULES="nerova.compressor.debug=false", or QLoggingCategory::setFilterRules).
Q_DECLARE_LOGGING_CATEGORY(lcCompressor) // "nerova.compressor": tasks, tools, their command lines
Q_DECLARE_LOGGING_CATEGORY(lcDemux)      // "nerova.demux": media probing and VOB scanning
Q_DECLARE_LOGGING_CATEGORY(lcBase)       // "nerova.base": monitors and helpers
