#pragma once

#include <QElapsedTimer>
#include <QString>

#include <cstdio>

// A one-line progress bar with elapsed time and an estimate of the time left, redrawn in place on a
// terminal; silent when the stream is not a terminal.
class ProgressBar
{
public:
    explicit ProgressBar(std::FILE* stream = stderr);

    bool isInteractive() const { return mInteractive; }
    void update(double fraction);
    // Clears the bar so the next line starts clean.
    void finish();

    static QString clockText(qint64 seconds);

private:
    std::FILE* mStream;
    bool mInteractive;
    bool mDrawn = false;
    int mLastPermille = -1;
    QElapsedTimer mTimer;
};
