#include "PngCompressor.h"

#include "FinishCode.h"
#include "OutputFile.h"
#include "ToolCommand.h"

#include <base/LogCategories.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {
constexpr int imageToolCannotRead = 1;
}

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
        .path(mQuantiseInput.isEmpty() ? mTempInputPath : mQuantiseInput)
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

ToolRunTask::ToolStep PngCompressor::quantiseStep() const
{
    ToolStep step(toolPath(), toolCommand().arguments());
    // pngquant spreads over every processor through OpenMP unless told its share.
    if (!mThreads.isEmpty() && mThreads != QLatin1String("0"))
        step.environment << QStringLiteral("OMP_NUM_THREADS=") + mThreads;
    return step;
}

std::optional<ToolRunTask::ToolStep> PngCompressor::prepareRun(int kind, Outcome* refusal)
{
    mQuantiseInput.clear();
    if (!WorkingCopyCompressTask::prepareRun(kind, refusal))
        return std::nullopt;
    if (!ImageTool::isAvailable()) {
        // pngquant alone can neither resize nor keep the colour profile while it drops the rest.
        if (!mPolicy.isDefault()) {
            qCWarning(lcCompressor) << "cImage is missing: cannot resize or strip metadata for" << mInputPath;
            *refusal = {FinishCode::ToolFailedToStart, FinishCode::toolFailedToStartText()};
            return std::nullopt;
        }
        mStage = Stage::Quantise;
        return quantiseStep();
    }
    mStage = Stage::Prepare;
    mFinishFailed = false;
    ToolStep step(ImageTool::path(),
                  ImageTool::prepareArguments(QStringLiteral("png"), mTempDirPath, mTempInputPath,
                                              mPolicy.hasBox() ? mPolicy.boxArgument() : QString()));
    step.keepsOutput = true;
    return step;
}

std::optional<ToolRunTask::ToolStep> PngCompressor::followUpStep(int exitCode, const QByteArray& output)
{
    switch (mStage) {
    case Stage::Prepare:
        if (exitCode != 0)
            return std::nullopt;
        mQuantiseInput = ImageTool::parsePrepared(output, mTempDirPath).input;
        mStage = Stage::Quantise;
        return quantiseStep();
    case Stage::Quantise:
        mQuantiseExitCode = exitCode;
        if (exitCode != 0 || !ImageTool::isAvailable() || OutputFile::sizeOf(mTempOutputPath) == 0)
            return std::nullopt;
        mStage = Stage::Finish;
        return ToolStep(ImageTool::path(), ImageTool::finishArguments(QStringLiteral("png"), mTempInputPath,
                                                                      mTempOutputPath, mPolicy.strip()));
    case Stage::Finish:
        // A result whose metadata could not be added is still the right picture, unless metadata had to
        // go: pngquant copies the source's text chunks, location included.
        if (exitCode != 0) {
            qCDebug(lcCompressor) << "The source's metadata could not be added to" << mOutputPath;
            mFinishFailed = !mPolicy.strip().isEmpty();
        }
        return std::nullopt;
    }
    return std::nullopt;
}

ToolRunTask::Outcome PngCompressor::deliverRun(int exitCode)
{
    if (mStage == Stage::Prepare) {
        if (exitCode == imageToolCannotRead)
            return {FinishCode::CorruptSource, FinishCode::corruptSourceText()};
        return {exitCode, QString()};
    }
    if (mFinishFailed)
        return {FinishCode::ResultNotAsExpected, FinishCode::resultNotAsExpectedText()};
    const int quantiseExitCode = mStage == Stage::Finish ? mQuantiseExitCode : exitCode;
    // pngquant could not meet the quality floor on a picture that was not a PNG: the lossless PNG it
    // was given is the best result in the right format.
    const bool intermediate = !mQuantiseInput.isEmpty() && mQuantiseInput != mTempInputPath;
    if (keepsSourceOnExit(quantiseExitCode) && intermediate && !sourceMayStandIn()) {
        if (!OutputFile::replace(mOutputPath, mQuantiseInput))
            return {FinishCode::NoOutput, QString()};
        return {quantiseExitCode, QString(), true};
    }
    return WorkingCopyCompressTask::deliverRun(quantiseExitCode);
}
