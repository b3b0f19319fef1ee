#pragma once

#include <QString>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

// A property every input must keep: breaking it is a finding, reported to libFuzzer as a crash.
inline void check(bool condition)
{
    if (!condition)
        std::abort();
}

// The quiet, private place every fuzz target runs in: no log chatter, its own settings file, and a
// temporary folder for inputs the code under test only takes as files.
class FuzzWorkspace
{
public:
    static FuzzWorkspace& instance();

    // Replaces the file name inside the private folder with the bytes and returns its path.
    QString writeFile(const QString& name, const uint8_t* data, size_t size) const;

private:
    FuzzWorkspace();

    QTemporaryDir mDir;
};
