#include "PngCompressor.h"

#include "ToolCommand.h"

#include <base/LogCategories.h>

#include <QCoreApplication>
#include <QDir>

PngCompressor::PngCompressor(const QVariantMap& params) : WorkingCopyCompressTask(params) {}

QString PngCompressor::toolPath() const
{
    const QString path =
        QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/pngquant"));
    qCDebug(lcCompressor) << "pngquant:" << path;
    return path;
}

ToolCommand PngCompressor::toolCommand() const
{
    ToolCommand command;
    command.words(QStringLiteral("--quality"))
        .value(QStringLiteral("0-") + mQuality)
        .words(QStringLiteral("--force"))
        .path(mTempInputPath)
        .words(QStringLiteral("-o"))
        .path(mTempOutputPath);
    return command;
}

QStringList PngCompressor::makePngCompressParam(const QVariantMap& params)
{
    Q_UNUSED(params)
    if (!prepareWorkingCopy())
        return {};
    return toolCommand().paramList();
}
