#pragma once

#include "LogSink.h"
#include "NerovaBaseGlobal.h"

#include <QVariantMap>

namespace Nerova {

// The suite's base service: the default and current configuration maps and the log sink.
class NEROVABASE_EXPORT NerovaBaseService
{
public:
    NerovaBaseService();
    virtual ~NerovaBaseService();

    virtual LogSink* logSink();
    // The JSON file the user's settings are read from and saved to.
    virtual QString configFilePath() const;
    // Drops the current map, so the next getConfig() reads the saved settings again.
    virtual void reloadConfig();
    virtual QVariantMap& getDefaultConfig();
    // The defaults overlaid with the user's saved settings; defaults registered later show up too.
    virtual QVariantMap& getConfig();
    // Writes the current map to configFilePath(), replacing the file atomically.
    virtual void saveConfig();

    // Names the environment variable that points the settings file elsewhere (tests, portable hosts).
    static const char* configFileVariable() { return "NEROVA_CONFIG_FILE"; }

private:
    QVariantMap readSavedConfig() const;

    LogSink mLogSink;
    QVariantMap mDefaultConfig;
    QVariantMap mConfig;
    bool mConfigLoaded = false;
};

} // namespace Nerova

// The service object of this process; created on first use and never deleted.
extern "C" NEROVABASE_EXPORT Nerova::NerovaBaseService* NerovaBaseEntry();
