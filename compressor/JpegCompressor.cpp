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
        .words(QStringLiteral("-baseline"));
    if (mPolicy.hasBox())
        command.words(QStringLiteral("-maxsize")).value(mPolicy.boxArgument());
    if (!mPolicy.strip().isEmpty())
        command.words(QStringLiteral("-strip")).value(mPolicy.strip());
    command.path(mTempInputPath);
    return command;
}

std::optional<ToolRunTask::ToolStep> JpegCompressor::prepareRun(int kind, Outcome* refusal)
{
    std::optional<ToolStep> step = WorkingCopyCompressTask::prepareRun(kind, refusal);
    // cJpeg says on standard output when it made the picture smaller.
    if (step && mPolicy.hasBox())
        step->keepsOutput = true;
    return step;
}

QStringList JpegCompressor::makeJpegCompressParam(const QVariantMap& params)
{
    Q_UNUSED(params)
    if (!prepareWorkingCopy())
        return {};
    return toolCommand().paramList();
}
