#pragma once

#include <base/NerovaGlobal.h>

#include <QString>

// Keeps a user's existing file out of the way of a tool that writes the output path itself: the file
// is renamed within its own folder for the run, put back when the run delivers nothing, and removed
// only once the run has succeeded.
class NEROVA_EXPORT OutputSetAside
{
public:
    OutputSetAside() = default;
    OutputSetAside(const OutputSetAside&) = delete;
    OutputSetAside& operator=(const OutputSetAside&) = delete;
    // A file still set aside is put back: the run that needed the room never finished.
    ~OutputSetAside();

    // Moves a file (or link) at path aside; true also when there is nothing to move.
    bool setAside(const QString& path);
    // Removes whatever the run left at the path and brings the user's file back.
    void restore();
    // The run succeeded: the user's old file goes.
    void drop();

private:
    QString mPath;
    QString mAsidePath;
};
