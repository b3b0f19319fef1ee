#pragma once

#include <QString>
#include <QStringList>

// The versions nerova-compress reports: its own, the plug-in's and those of the tools the tasks run.
class ToolVersions
{
public:
    // One line per program: "name version", or why it could not be asked.
    static QStringList lines(const QString& pluginVersion, const QString& ffmpegDir);
};
