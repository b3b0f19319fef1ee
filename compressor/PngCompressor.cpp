#include "PngCompressor.h"

#include "ToolArguments.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>

PngCompressor::PngCompressor(const QVariantMap& params) : WorkingCopyCompressTask(params) {}

QString PngCompressor::toolPath() const
{
    const QString path =
        QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/pngquant"));
    qDebug() << "pngquant:" << path;
    return path;
}

QStringList PngCompressor::makePngCompressParam(const QVariantMap& params)
{
    Q_UNUSED(params)
    if (!prepareWorkingCopy())
        return {};
    return {QStringLiteral("--quality"), QStringLiteral("0-") + mQuality,
            QStringLiteral("--force"),   ToolArguments::quoted(mTempInputPath),
            QStringLiteral("-o"),        ToolArguments::quoted(mTempOutputPath)};
}

QStringList PngCompressor::makeToolParams()
{
    return makePngCompressParam(task());
}
