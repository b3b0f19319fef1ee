#pragma once

#include <QLibrary>
#include <QString>

class FormatTable;
class ICompressor;

// Loads the plug-in library the way a host application does and resolves its entry function.
class PluginLoader
{
public:
    // Where the plug-in is looked for: $NEROVA_PLUGIN, the build tree's and the install tree's library
    // folder beside this program, then the system's library path.
    ICompressor* load();
    // The plug-in's format table, once load() succeeded; null when the plug-in has none.
    const FormatTable* formatTable();
    // The plug-in's version, once load() succeeded; empty when it does not say.
    QString version();
    QString errorText() const { return mErrorText; }

private:
    QLibrary mLibrary;
    QString mErrorText;
};
