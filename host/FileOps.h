#pragma once

#include <QString>

// The few file operations the host needs beyond Qt's: identity through links, times, atomic rename.
namespace FileOps {

// True when both paths lead to one existing file (through links and hard links too).
bool isSameFile(const QString& first, const QString& second);
// The modification time of path in nanoseconds since the epoch, or -1 when it cannot be read.
qint64 modificationTimeNs(const QString& path);
bool setModificationTimeNs(const QString& path, qint64 nanoseconds);
// Renames from over to in one step (replacing to when it exists): to is never seen half written.
bool renameOver(const QString& from, const QString& to);
// A free name for a hidden file beside path, e.g. ".photo.nerova-1a2b3c.jpg" for "photo.jpg".
QString hiddenSibling(const QString& path);

} // namespace FileOps
