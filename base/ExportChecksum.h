#pragma once

#include <base/NerovaGlobal.h>

#include <QString>

namespace Nerova {

// A token binding a payload to the local time it was made ("yyyy-MM-dd HH:mm:ss,payload" as a string
// token). Peers of the suite make and check these tokens, so the format and the acceptance rule are fixed.
NEROVA_EXPORT QString genExportChecksum(const QString& payload);
// True when the token holds exactly one "," and the expected payload behind it, and its time stamp lies
// less than an hour ahead of now. Old stamps, and stamps that do not parse, are not refused.
NEROVA_EXPORT bool validateExportChecksum(const QString& token, const QString& payload);

} // namespace Nerova
