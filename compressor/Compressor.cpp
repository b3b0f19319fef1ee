#include "Compressor.h"

#include "FormatTable.h"
#include "JpegCompressor.h"
#include "PngCompressor.h"
#include "VideoCompressor.h"
#include "WebpCompressor.h"

Compressor::~Compressor() = default;

QVariantList Compressor::getSupportOriginal()
{
    QVariantList suffixes;
    for (const QString& suffix : FormatTable::instance().supportedOriginals())
        suffixes << suffix;
    return suffixes;
}

QSharedPointer<ICompressTask> Compressor::createCompressTask(const QVariantMap& params)
{
    const QString outputPath = params.value(QStringLiteral("outputPath")).toString();
    if (outputPath.isEmpty())
        return {};

    // Only the output's format decides; every other key is the task's own business. Any suffix the
    // table does not know, none included, is a video job: ffmpeg decides whether it can write it.
    switch (FormatTable::instance().forOutputPath(outputPath).task) {
    case OutputFormat::Task::Jpeg:
        return QSharedPointer<ICompressTask>(new JpegCompressor(params));
    case OutputFormat::Task::Png:
        return QSharedPointer<ICompressTask>(new PngCompressor(params));
    case OutputFormat::Task::Webp:
        return QSharedPointer<ICompressTask>(new WebpCompressor(params));
    case OutputFormat::Task::Video:
        break;
    }
    return QSharedPointer<ICompressTask>(new VideoCompressor(params));
}

const char* CompressorVersion()
{
    return NEROVA_VERSION;
}

ICompressor* CompressorEntry()
{
    static ICompressor* const instance = new Compressor;
    return instance;
}
