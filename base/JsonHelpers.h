#pragma once

#include <base/NerovaGlobal.h>

#include <QList>
#include <QMap>
#include <QString>
#include <QVariant>

namespace Nerova {

// The map as JSON object text, indented when indented is true, compact otherwise.
NEROVA_EXPORT QString variantMapToJson(const QMap<QString, QVariant>& map, bool indented);
// The map of a JSON object text; empty for anything else.
NEROVA_EXPORT QMap<QString, QVariant> jsonToVariantMap(const QString& json);
// The list of a JSON array text; empty for anything else.
NEROVA_EXPORT QList<QVariant> jsonToVariantList(const QString& json);

// The whole file read as UTF-8 text; empty when it cannot be read.
NEROVA_EXPORT QString getFileContent(const QString& path);
// Writes content to path as UTF-8. The file is replaced as a whole: when writing fails (no room, no
// permission) an earlier file at path stays as it was and no partial file is left.
NEROVA_EXPORT void saveToFile(const QString& content, const QString& path);

// The timeline file's JSON, indented, with a "timeline_dir" of "." replaced by the file's own directory.
NEROVA_EXPORT QString loadTimelineJsonFromPath(const QString& path);
// The "file_path" of the first of the timeline's "clips"; empty when there is none.
NEROVA_EXPORT QString getTimelineFirstClipPath(const QMap<QString, QVariant>& timeline);

} // namespace Nerova
