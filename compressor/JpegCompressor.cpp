#include "JpegCompressor.h"

#include "ToolCommand.h"

#include <QCoreApplication>
#include <QDir>

JpegCompressor::JpegCompressor(const QVariantMap& params) : WorkingCopyCompressTask(params) {}

QString JpegCompressor::toolPath() const
{
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/cJpeg"));
}

ToolCommand JpegCompressor::toolCommand() const
{
    ToolCommand command;
    command.words(QStringLiteral("-outfile"))
        .path(mTempOutputPath)
        .words(QStringLiteral("-quality"))
        .value(mQuality)
        .words(QStringLiteral("-baseline"))
        .path(mTempInputPath);
    return command;
}

QStringList JpegCompressor::makeJpegCompressParam(const QVariantMap& params)
{
    Q_UNUSED(params)
    if (!prepareWorkingCopy())
        return {};
    return toolCommand().paramList();
}
