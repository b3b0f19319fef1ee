#include "Compressor.h"

#include "JpegCompressor.h"
#include "PngCompressor.h"
#include "VideoCompressor.h"
#include "WebpCompressor.h"

#include <QFileInfo>

Compressor::~Compressor() = default;

QVariantList Compressor::getSupportOriginal()
{
    return {QStringLiteral("mp4"), QStringLiteral("mov"), QStringLiteral("mkv"), QStringLiteral("m4v"),
            QStringLiteral("avi"), QStringLiteral("flv"), QStringLiteral("f4v"), QStringLiteral("m2ts")};
}

QSharedPointer<ICompressTask> Compressor::createCompressTask(const QVariantMap& params)
{
    const QString outputPath = params.value(QStringLiteral("outputPath")).toString();
    if (outputPath.isEmpty())
        return {};

    // Only the output's format decides; every other key is the task's own business.
    const QString suffix = QFileInfo(outputPath).suffix().toLower();
    if (suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg"))
        return QSharedPointer<ICompressTask>(new JpegCompressor(params));
    if (suffix == QLatin1String("png"))
        return QSharedPointer<ICompressTask>(new PngCompressor(params));
    if (suffix == QLatin1String("webp"))
        return QSharedPointer<ICompressTask>(new WebpCompressor(params));
    // Any other suffix, none included, is a video job; ffmpeg decides whether it can write it.
    return QSharedPointer<ICompressTask>(new VideoCompressor(params));
}

ICompressor* CompressorEntry()
{
    static ICompressor* const instance = new Compressor;
    return instance;
}
