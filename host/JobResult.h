#pragma once

#include <QString>

// How one file's job ended, as the host reports it.
struct JobResult
{
    enum class Outcome { Succeeded, Failed, Skipped, Aborted };

    QString displayName;
    QString inputPath;
    QString outputPath;
    Outcome outcome = Outcome::Failed;
    bool hasCode = false; // false when no task ran (skipped, refused or not startable)
    int code = 0;
    QString text;
    QString toolMessage; // why the tool refused, in its own words (empty when it gave none)
    qint64 bytesIn = 0;
    qint64 bytesOut = 0;
    // The task delivered the source's own bytes because its result came out larger.
    bool sourceKept = false;
    // "WxH" when the picture or frame was shrunk to fit --max-size; empty otherwise.
    QString resized;
    // With --target-size: whether the task reported on the target, whether its result fits, the
    // quality it chose and how many encodes that took. A result over the target is still delivered (the
    // smallest the task made).
    bool hasTarget = false;
    bool targetMet = false;
    int targetQuality = 0;
    int targetEncodes = 0;
    qint64 targetSize = 0;
    double seconds = 0.0;

    static QString outcomeName(Outcome outcome);
    // Delivered, but larger than the target size.
    bool isOverTarget() const { return outcome == Outcome::Succeeded && hasTarget && !targetMet; }
};
