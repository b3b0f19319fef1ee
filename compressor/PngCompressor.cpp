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

std::optional<ToolRunTask::ToolStep> PngCompressor::prepareRun(int kind, Outcome* refusal)
{
    std::optional<ToolStep> step = WorkingCopyCompressTask::prepareRun(kind, refusal);
    // pngquant spreads over every processor through OpenMP unless told its share.
    if (step && !mThreads.isEmpty() && mThreads != QLatin1String("0"))
        step->environment << QStringLiteral("OMP_NUM_THREADS=") + mThreads;
    return step;
}

QStringList PngCompressor::makePngCompressParam(const QVariantMap& params)
{
    Q_UNUSED(params)
    if (!prepareWorkingCopy())
        return {};
    return toolCommand().paramList();
}
