#include "PngCompressor.h"

#include "FinishCode.h"
#include "OutputFile.h"
#include "ToolCommand.h"

#include <base/LogCategories.h>
#include <cjpeg/QualitySearch.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cmath>

namespace {
constexpr int imageToolCannotRead = 1;
// pngquant turns its quality into the mean square error the palette may leave (its quality_to_mse); a
// photo's palette PNG grows about evenly in log(size) against the log of that error, by about this much
// per unit (0.3 to 0.5 on photos).
constexpr double logSizePerLogError = 0.4;

double errorAxis(int quality)
{
    if (quality <= 0)
        return -std::log(1e3); // any error goes
    const double q = quality;
    const double lowQualityFudge = std::max(0.0, 0.016 / (0.001 + q) - 0.001);
    return -std::log(lowQualityFudge + 2.5 / std::pow(210.0 + q, 1.2) * (100.1 - q) / 100.0);
}

// pngquant beside the application.
QString pngquantPath()
{
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/pngquant"));
}
} // namespace

PngCompressor::PngCompressor(const QVariantMap& params) : WorkingCopyCompressTask(params) {}

PngCompressor::~PngCompressor() = default;

QString PngCompressor::toolPath() const
{
    // Asked once per start; the steps of a run take the path without writing the line again.
    const QString path = pngquantPath();
    qCDebug(lcCompressor) << "pngquant:" << path;
    return path;
}

ToolCommand PngCompressor::toolCommand() const
{
    ToolCommand command;
    command.words(QStringLiteral("--quality"))
        .value(QStringLiteral("0-") + (mSearch ? QString::number(mTrialQuality) : mQuality))
        .words(QStringLiteral("--force"))
        .path(mQuantiseInput.isEmpty() ? mTempInputPath : mQuantiseInput)
        .words(QStringLiteral("-o"))
        .path(quantiseOutput());
    return command;
}

QString PngCompressor::quantiseOutput() const
{
    if (!mSearch)
        return mTempOutputPath;
    return mTempDirPath + QStringLiteral("/trial-%1.png").arg(mTrialQuality);
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
    ToolStep step(pngquantPath(), toolCommand().arguments());
    // pngquant spreads over every processor through OpenMP unless told its share.
    if (!mThreads.isEmpty() && mThreads != QLatin1String("0"))
        step.environment << QStringLiteral("OMP_NUM_THREADS=") + mThreads;
    return step;
}

std::optional<ToolRunTask::ToolStep> PngCompressor::prepareRun(int kind, Outcome* refusal)
{
    mQuantiseInput.clear();
    mSearch.reset();
    if (mTargetSize > 0) {
        // The searched range ends at the requested quality, so a target never gives a larger file.
        const std::optional<int> highest = targetSearchCeiling();
        if (!highest) {
            *refusal = {FinishCode::InvalidRequest, FinishCode::invalidRequestText()};
            return std::nullopt;
        }
        mSearch =
            std::make_unique<cjpeg::QualitySearch>(0, *highest, mTargetSize, logSizePerLogError, errorAxis);
        mTrialQuality = mSearch->next();
    }
    Q_UNUSED(kind)
    if (!prepareWorkingCopy(refusal))
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
        if (exitCode != 0 || OutputFile::sizeOf(quantiseOutput()) == 0)
            return std::nullopt;
        if (!ImageTool::isAvailable())
            return mSearch ? recordTrial() : std::nullopt;
        mStage = Stage::Finish;
        return ToolStep(ImageTool::path(), ImageTool::finishArguments(QStringLiteral("png"), mTempInputPath,
                                                                      quantiseOutput(), mPolicy.strip()));
    case Stage::Finish:
        // A result whose metadata could not be added is still the right picture, unless metadata had to
        // go: pngquant copies the source's text chunks, location included.
        if (exitCode != 0) {
            qCDebug(lcCompressor) << "The source's metadata could not be added to" << mOutputPath;
            // Any try whose metadata could not be stripped fails the run: its file may carry the location.
            mFinishFailed = mFinishFailed || !mPolicy.strip().isEmpty();
        }
        return mSearch ? recordTrial() : std::nullopt;
    }
    return std::nullopt;
}

std::optional<ToolRunTask::ToolStep> PngCompressor::recordTrial()
{
    // Sizes are taken with the metadata in, as the user's file will have it.
    mSearch->record(mTrialQuality, OutputFile::sizeOf(quantiseOutput()));
    const int next = mSearch->next();
    if (next >= 0) {
        mTrialQuality = next;
        mStage = Stage::Quantise;
        return quantiseStep();
    }
    mTrialQuality = mSearch->chosen();
    mStage = Stage::Finish;
    mQuantiseExitCode = 0;
    if (!QFile::rename(quantiseOutput(), mTempOutputPath))
        mQuantiseExitCode = FinishCode::NoOutput;
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
    const Outcome outcome = WorkingCopyCompressTask::deliverRun(quantiseExitCode);
    if (outcome.delivered && mSearch)
        reportTarget(mTrialQuality, mSearch ? mSearch->encodes() : 0);
    return outcome;
}
