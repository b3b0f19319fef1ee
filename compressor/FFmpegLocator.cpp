#include "FFmpegLocator.h"

#include <base/Config.h>

#include <QCoreApplication>
#include <QDir>

QString FFmpegLocator::ffmpegPath()
{
    const QString configured = Nerova::getConfig()[kFFmpegPath].toString();
    if (!configured.isEmpty())
        return QDir::cleanPath(configured + QDir::separator() + QStringLiteral("ffmpeg"));
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/ffmpeg"));
}
