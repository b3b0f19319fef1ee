#include "JpegCompressor.h"

#include "ToolArguments.h"

#include <QCoreApplication>
#include <QDir>

JpegCompressor::JpegCompressor(const QVariantMap& params) : WorkingCopyCompressTask(params) {}

QString JpegCompressor::toolPath() const
{
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/cJpeg"));
}

QStringList JpegCompressor::makeJpegCompressParam(const QVariantMap& params)
{
    Q_UNUSED(params)
    if (!prepareWorkingCopy())
        return {};
    return {QStringLiteral("-outfile"),  ToolArguments::quoted(mTempOutputPath),
            QStringLiteral("-quality"),  mQuality,
            QStringLiteral("-baseline"), ToolArguments::quoted(mTempInputPath)};
}

QStringList JpegCompressor::makeToolParams()
{
    return makeJpegCompressParam(task());
}
