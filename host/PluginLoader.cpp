#include "PluginLoader.h"

#include <compressor/ICompressor.h>

#include <QCoreApplication>
#include <QFileInfo>

ICompressor* PluginLoader::load()
{
    QStringList candidates;
    const QString fromEnvironment = qEnvironmentVariable("NEROVA_PLUGIN");
    if (!fromEnvironment.isEmpty())
        candidates << fromEnvironment;
    const QString programDir = QCoreApplication::applicationDirPath();
    candidates << programDir + QStringLiteral("/../lib/libNerovaCompressor.so")
               << programDir + QStringLiteral("/" NEROVA_INSTALLED_LIBDIR "/libNerovaCompressor.so")
               << QStringLiteral("NerovaCompressor");

    QStringList errors;
    for (const QString& candidate : candidates) {
        if (candidate.contains(QLatin1Char('/')) && !QFileInfo::exists(candidate))
            continue;
        mLibrary.setFileName(candidate);
        if (!mLibrary.load()) {
            errors << mLibrary.errorString();
            continue;
        }
        using Entry = ICompressor* (*)();
        const auto entry = reinterpret_cast<Entry>(mLibrary.resolve("CompressorEntry"));
        if (entry)
            return entry();
        errors << mLibrary.errorString();
        mLibrary.unload();
    }
    mErrorText = errors.join(QStringLiteral("; "));
    return nullptr;
}

QString PluginLoader::version()
{
    using Entry = const char* (*)();
    const auto entry = reinterpret_cast<Entry>(mLibrary.resolve("CompressorVersion"));
    return entry ? QString::fromLatin1(entry()) : QString();
}

const FormatTable* PluginLoader::formatTable()
{
    using Entry = const FormatTable* (*)();
    const auto entry = reinterpret_cast<Entry>(mLibrary.resolve("FormatTableEntry"));
    if (!entry) {
        mErrorText = mLibrary.errorString();
        return nullptr;
    }
    return entry();
}
