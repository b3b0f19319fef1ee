#pragma once

#include <QString>
#include <QStringList>
#include <QVariantMap>

// What the user asked the host for on the command line.
struct HostOptions
{
    QString inputPath;
    QString outputPath;
    QString quality;
    QString preset;
    QString scale;
    QString ffmpegDir;
    bool preview = false;
    bool verbose = false;

    // The request map a task is built from.
    QVariantMap toRequest() const;

    // Parses the arguments; on failure returns false with a message for the user in errorText.
    static bool parse(const QStringList& arguments, HostOptions* options, QString* errorText);
    static QString usage();
};
