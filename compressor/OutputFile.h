#pragma once

#include <base/NerovaGlobal.h>

#include <QString>

// Puts a finished result at the user's output path: written beside the target and renamed over it,
// so the target is either the old file or the complete new one, never a partial copy.
class NEROVA_EXPORT OutputFile
{
public:
    // Replaces (or creates) targetPath with the bytes of finishedPath; false leaves the target untouched.
    static bool replace(const QString& targetPath, const QString& finishedPath, QString* errorText = nullptr);

    // Puts a finished file of the task's own (a tool's result in its working folder) at targetPath. On
    // one filesystem it is moved, not written a second time; a user's file at the target is replaced
    // only once the result's data is on disk. Elsewhere, or for a link at the target, it is copied as
    // replace() does. The finished file is gone afterwards either way, unless false is returned.
    static bool moveInto(const QString& targetPath, const QString& finishedPath,
                         QString* errorText = nullptr);

    // Copies a file to a new path for a tool to work on: no flush to disk, since the copy is scratch
    // that never outlives its run (QFile::copy syncs, which costs more than the copy itself).
    static bool copyScratch(const QString& sourcePath, const QString& copyPath);

    // True when both paths lead to one existing file (through links and hard links too).
    static bool isSameFile(const QString& first, const QString& second);
    // The size of a file, 0 when there is none.
    static qint64 sizeOf(const QString& path);
};
