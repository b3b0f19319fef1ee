#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantMap>

// One file to compress: where it comes from, where the result goes and how it is shown to the user.
struct HostJob
{
    QString inputPath;
    QString outputPath;
    QString displayName;
    bool isVideo = false;
};

// What the user asked the host for on the command line.
struct HostOptions
{
    // "INPUT OUTPUT": the one input and its output file. "INPUT... -o OUTDIR": files and folders.
    QStringList inputs;
    QString outputPath;
    QString outputDir;
    QString format;
    int parallelJobs = 0; // 0: one per processor
    // Threads each image tool may use so that the parallel jobs together fill the processors once;
    // 0 leaves each tool its own choice. Set by the host once it knows how many jobs run at a time.
    int imageToolThreads = 0;
    bool recursive = false;
    QString quality;
    QString preset;
    QString scale;
    // --max-size WxH: the box every image and video frame is shrunk to fit; 0 = no limit on that side.
    int maxWidth = 0;
    int maxHeight = 0;
    // --strip gps|all: the metadata left out; empty keeps all of it.
    QString strip;
    // --target-size in bytes (k = 1000, M = 1000000); 0 when not given. Images only.
    qint64 targetSize = 0;
    QString ffmpegDir;
    bool preview = false;
    bool verbose = false;
    bool stats = false;
    bool json = false;
    bool keepDates = false;
    bool overwrite = false;
    bool inPlace = false;
    bool dryRun = false;
    bool version = false;

    // The request map a task for the job is built from.
    QVariantMap toRequest(const HostJob& job) const;

    // Parses the arguments: "INPUT OUTPUT" or "INPUT... -o OUTDIR [--to FORMAT]". On failure returns
    // false with a message for the user in errorText (empty when help was asked for).
    static bool parse(const QStringList& arguments, HostOptions* options, QString* errorText);
    static QString usage();
    // "500k", "1.5M" or plain bytes as a positive number of bytes; 0 when malformed.
    static qint64 parseSize(const QString& text);
};
