#include "NerovaBase.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStandardPaths>

namespace Nerova {

NerovaBaseService::NerovaBaseService() = default;
NerovaBaseService::~NerovaBaseService() = default;

LogSink* NerovaBaseService::logSink()
{
    return &mLogSink;
}

QString NerovaBaseService::configFilePath() const
{
    const QString fromEnvironment = qEnvironmentVariable(configFileVariable());
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Nerova/NerovaBase.json");
}

void NerovaBaseService::reloadConfig()
{
    mConfig.clear();
    mConfigLoaded = false;
}

QVariantMap& NerovaBaseService::getDefaultConfig()
{
    return mDefaultConfig;
}

QVariantMap NerovaBaseService::readSavedConfig() const
{
    QFile file(configFilePath());
    if (!file.exists())
        return {};
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning() << "Cannot read the settings file" << file.fileName();
        return {};
    }
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        qWarning() << "Ignoring a damaged settings file" << file.fileName() << error.errorString();
        return {};
    }
    return document.object().toVariantMap();
}

QVariantMap& NerovaBaseService::getConfig()
{
    if (!mConfigLoaded) {
        mConfig = readSavedConfig();
        mConfigLoaded = true;
    }
    // Libraries register their defaults when they are loaded, possibly after the map was first read.
    for (auto it = mDefaultConfig.cbegin(); it != mDefaultConfig.cend(); ++it) {
        if (!mConfig.contains(it.key()))
            mConfig.insert(it.key(), it.value());
    }
    return mConfig;
}

void NerovaBaseService::saveConfig()
{
    const QString path = configFilePath();
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        qWarning() << "Cannot save the settings to" << path << file.errorString();
        return;
    }
    file.write(QJsonDocument(QJsonObject::fromVariantMap(getConfig())).toJson());
    if (!file.commit())
        qWarning() << "Cannot save the settings to" << path << file.errorString();
}

} // namespace Nerova

Nerova::NerovaBaseService* NerovaBaseEntry()
{
    static Nerova::NerovaBaseService* const service = new Nerova::NerovaBaseService;
    return service;
}
