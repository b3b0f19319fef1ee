#include "JpegCompressor.h"

#include "ImageTool.h"
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
    if (mTargetSize > 0)
        command.words(QStringLiteral("-targetsize")).value(QString::number(mTargetSize));
    command.path(mTempInputPath);
    return command;
}

std::optional<ToolRunTask::ToolStep> JpegCompressor::prepareRun(int kind, Outcome* refusal)
{
    std::optional<ToolStep> step = WorkingCopyCompressTask::prepareRun(kind, refusal);
    // cJpeg says on standard output when it made the picture smaller, and which quality it chose.
    if (step && (mPolicy.hasBox() || mTargetSize > 0))
        step->keepsOutput = true;
    return step;
}

std::optional<ToolRunTask::ToolStep> JpegCompressor::followUpStep(int exitCode, const QByteArray& output)
{
    mTargetQuality = mTargetEncodes = 0;
    if (exitCode == 0 && mTargetSize > 0) {
        const QHash<QString, QString> values = ImageTool::parseKeyValues(output);
        mTargetQuality = values.value(QStringLiteral("quality")).toInt();
        mTargetEncodes = values.value(QStringLiteral("encodes")).toInt();
    }
    return std::nullopt;
}

ToolRunTask::Outcome JpegCompressor::deliverRun(int exitCode)
{
    const Outcome outcome = WorkingCopyCompressTask::deliverRun(exitCode);
    if (outcome.delivered)
        reportTarget(mTargetQuality, mTargetEncodes);
    return outcome;
}

QStringList JpegCompressor::makeJpegCompressParam(const QVariantMap& params)
{
    Q_UNUSED(params)
    if (!prepareWorkingCopy())
        return {};
    return toolCommand().paramList();
}
