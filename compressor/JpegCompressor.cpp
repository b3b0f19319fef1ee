#include "JpegCompressor.h"

#include <QCoreApplication>
#include <QDir>

JpegCompressor::JpegCompressor(const QVariantMap& params) : ImageCompressTask(params) {}

QString JpegCompressor::toolPath() const
{
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/cJpeg"));
}

QStringList JpegCompressor::makeJpegCompressParam(const QVariantMap& params)
{
    Q_UNUSED(params)
    if (!prepareWorkingCopy())
        return {};
    const QString quote = QStringLiteral("\"");
    return {QStringLiteral("-outfile"),  quote + mTempOutputPath + quote,
            QStringLiteral("-quality"),  mQuality,
            QStringLiteral("-baseline"), quote + mTempInputPath + quote};
}

QStringList JpegCompressor::makeToolParams()
{
    return makeJpegCompressParam(task());
}
