#pragma once

#include <QLibrary>
#include <QString>

class ICompressor;

// Loads the plug-in library the way a host application does and resolves its entry function.
class PluginLoader
{
public:
    // Where the plug-in is looked for: $NEROVA_PLUGIN, the build tree's and the install tree's library
    // folder beside this program, then the system's library path.
    ICompressor* load();
    QString errorText() const { return mErrorText; }

private:
    QLibrary mLibrary;
    QString mErrorText;
};
