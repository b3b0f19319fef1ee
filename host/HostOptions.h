#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantMap>

// One file to compress: where it comes from and where the result goes.
struct HostJob
{
    QString inputPath;
    QString outputPath;
};

// What the user asked the host for on the command line.
struct HostOptions
{
    QList<HostJob> jobs;
    QString quality;
    QString preset;
    QString scale;
    QString ffmpegDir;
    bool preview = false;
    bool verbose = false;
    bool stats = false;

    // The request map a task for the job is built from.
    QVariantMap toRequest(const HostJob& job) const;

    // Parses the arguments: "INPUT OUTPUT" or "INPUT... -o OUTDIR [--to FORMAT]". On failure returns
    // false with a message for the user in errorText (empty when help was asked for).
    static bool parse(const QStringList& arguments, HostOptions* options, QString* errorText);
    static QString usage();
};
