#include "WebpCompressor.h"

#include "FFmpegLocator.h"
#include "FinishCode.h"
#include "ImageFormat.h"
#include "ImageTool.h"
#include "OutputFile.h"
#include "ToolCommand.h"

#include <base/LogCategories.h>
#include <cjpeg/QualitySearch.h>

#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>

#include <cmath>

namespace {

// Whether the file holds as many bytes as its RIFF header declares. ffmpeg exits 0 even when closing the
// output fails (a full disk), leaving a cut-off file that must not pass for a result.
bool isCompleteWebp(const QString& path, qint64 size)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray header = file.read(12);
    if (header.size() < 12 || !header.startsWith("RIFF") || header.mid(8, 4) != "WEBP")
        return false;
    return qint64(qFromLittleEndian<quint32>(header.constData() + 4)) + 8 == size;
}

// A photo's WebP grows about evenly in log(size) against the square root of libwebp's quality (which
// it turns into a quantiser through a cube root), by about this much per unit.
constexpr double logSizePerRootQuality = 0.23;

double rootAxis(int quality)
{
    return std::sqrt(double(quality));
}
// Below this libwebp's pictures are blocks.
constexpr int lowestQuality = 5;

} // namespace

WebpCompressor::WebpCompressor(const QVariantMap& params) : DirectOutputCompressTask(params) {}

WebpCompressor::~WebpCompressor()
{
    // The tool must be gone before its working folder is.
    stopToolForDestruction();
}

bool WebpCompressor::startTask()
{
    setStatus(StatusRunning);
    return DirectOutputCompressTask::startTask();
}

QString WebpCompressor::toolPath() const
{
    return FFmpegLocator::ffmpegPath();
}

ToolCommand WebpCompressor::command(const QString& input) const
{
    ToolCommand command;
    command.words(QStringLiteral("-i"))
        .ffmpegPath(input)
        .words(QStringLiteral("-y"))
        .words(QStringLiteral("-c:v"))
        .words(QStringLiteral("libwebp"))
        .words(QStringLiteral("-quality"))
        .value(mSearch ? QString::number(mTrialQuality) : mQuality);
    // cImage shrinks still pictures itself; an animation's frames are shrunk here, with a Lanczos filter.
    if (!mFrameSize.isEmpty())
        command.words(QStringLiteral("-vf scale=%1:flags=lanczos").arg(mFrameSize));
    if (!mThreads.isEmpty())
        command.words(QStringLiteral("-threads")).value(mThreads);
    command.ffmpegPath(encodeOutput());
    return command;
}

QString WebpCompressor::encodeOutput() const
{
    if (!mSearch || !mWorkDir)
        return mOutputPath;
    return mWorkDir->path() + QStringLiteral("/trial-%1.webp").arg(mTrialQuality);
}

QStringList WebpCompressor::makeWebpCompressParam(const QVariantMap& params)
{
    Q_UNUSED(params)
    return command(mInputPath).paramList();
}

std::optional<ToolRunTask::ToolStep> WebpCompressor::firstStep(int kind, Outcome* refusal)
{
    Q_UNUSED(kind)
    mEncodeInput = mInputPath;
    mFrameSize.clear();
    mWorkDir.reset();
    // ffmpeg writes no metadata, but only cImage turns and shrinks a still picture properly.
    if (!ImageTool::isAvailable() && mPolicy.hasBox()) {
        qCWarning(lcCompressor) << "cImage is missing: cannot resize" << mInputPath;
        *refusal = {FinishCode::ToolFailedToStart, FinishCode::toolFailedToStartText()};
        return std::nullopt;
    }
    mSearch.reset();
    if (mTargetSize > 0) {
        // The searched range ends at the requested quality, so a target never gives a larger file.
        const std::optional<int> highest = targetSearchCeiling();
        if (!highest) {
            *refusal = {FinishCode::InvalidRequest, FinishCode::invalidRequestText()};
            return std::nullopt;
        }
        mSearch = std::make_unique<cjpeg::QualitySearch>(lowestQuality, *highest, mTargetSize,
                                                         logSizePerRootQuality, rootAxis);
        mTrialQuality = mSearch->next();
    }
    // The tried results need a private folder even where cImage is missing.
    if (!ImageTool::isAvailable() && !mSearch) {
        mStage = Stage::Encode;
        return ToolStep(toolPath(), command(mEncodeInput).arguments());
    }
    auto workDir = std::make_unique<QTemporaryDir>(
        QStandardPaths::writableLocation(QStandardPaths::TempLocation) + QStringLiteral("/compress-XXXXXX"));
    if (!workDir->isValid()) {
        *refusal = {FinishCode::NoWorkingDirectory, FinishCode::noWorkingDirectoryText()};
        return std::nullopt;
    }
    mWorkDir = std::move(workDir);
    if (!ImageTool::isAvailable()) {
        mStage = Stage::Encode;
        return ToolStep(toolPath(), command(mEncodeInput).arguments());
    }
    mStage = Stage::Prepare;
    ToolStep step(ImageTool::path(),
                  ImageTool::prepareArguments(QStringLiteral("webp"), mWorkDir->path(), mInputPath,
                                              mPolicy.hasBox() ? mPolicy.boxArgument() : QString()));
    step.keepsOutput = true;
    return step;
}

std::optional<ToolRunTask::ToolStep> WebpCompressor::followUpStep(int exitCode, const QByteArray& output)
{
    switch (mStage) {
    case Stage::Prepare: {
        if (exitCode != 0)
            return std::nullopt;
        const ImageTool::Prepared prepared = ImageTool::parsePrepared(output, mWorkDir->path());
        if (!prepared.input.isEmpty())
            mEncodeInput = prepared.input;
        const QStringList sides = prepared.resized.split(QLatin1Char('x'));
        if (prepared.frames > 1 && sides.size() == 2 && sides.at(0).toInt() > 0 && sides.at(1).toInt() > 0)
            mFrameSize = QStringLiteral("%1:%2").arg(sides.at(0).toInt()).arg(sides.at(1).toInt());
        mStage = Stage::Encode;
        return ToolStep(toolPath(), command(mEncodeInput).arguments());
    }
    case Stage::Encode: {
        mEncodeExitCode = exitCode;
        const QString result = encodeOutput();
        if (exitCode != 0 || !mWorkDir || !isCompleteWebp(result, OutputFile::sizeOf(result)))
            return std::nullopt;
        if (!ImageTool::isAvailable())
            return recordTrial();
        mStage = Stage::Finish;
        return ToolStep(ImageTool::path(), ImageTool::finishArguments(QStringLiteral("webp"), mInputPath,
                                                                      result, mPolicy.strip()));
    }
    case Stage::Finish:
        // A result whose metadata could not be added is still the right picture.
        if (exitCode != 0)
            qCDebug(lcCompressor) << "The source's metadata could not be added to" << mOutputPath;
        return mSearch ? recordTrial() : std::nullopt;
    }
    return std::nullopt;
}

std::optional<ToolRunTask::ToolStep> WebpCompressor::recordTrial()
{
    if (!mSearch)
        return std::nullopt;
    // Sizes are taken with the metadata in, as the user's file will have it.
    mSearch->record(mTrialQuality, OutputFile::sizeOf(encodeOutput()));
    const int next = mSearch->next();
    if (next >= 0) {
        mTrialQuality = next;
        mStage = Stage::Encode;
        return ToolStep(toolPath(), command(mEncodeInput).arguments());
    }
    mTrialQuality = mSearch->chosen();
    mStage = Stage::Finish;
    mEncodeExitCode = 0;
    QString error;
    if (!OutputFile::moveInto(mOutputPath, encodeOutput(), &error)) {
        qCDebug(lcCompressor) << "Cannot write" << mOutputPath << error;
        mEncodeExitCode = FinishCode::NoOutput;
    }
    return std::nullopt;
}

ToolRunTask::Outcome WebpCompressor::deliverRun(int exitCode)
{
    if (mStage == Stage::Prepare)
        return {exitCode == 0 ? FinishCode::NoOutput : exitCode, FinishCode::failText()};
    if (mStage == Stage::Finish)
        exitCode = mEncodeExitCode;
    const qint64 sourceSize = OutputFile::sizeOf(mInputPath);
    const qint64 resultSize = OutputFile::sizeOf(mOutputPath);
    const bool complete = exitCode == 0 && resultSize > 0 && isCompleteWebp(mOutputPath, resultSize);

    // A WebP larger than a WebP source is worth less than the original: deliver the source's bytes. A
    // source in another format never stands in: the output is always the format its name says.
    // Nor does it when a size limit or metadata policy was asked for, which its bytes do not honour.
    if (complete && sourceSize < resultSize && mPolicy.isDefault() &&
        sniffImageFormat(mInputPath) == ImageFormat::Webp) {
        if (!OutputFile::replace(mOutputPath, mInputPath))
            return {FinishCode::NoOutput, FinishCode::failText()};
        keepOutput();
        reportTarget(mTrialQuality, mSearch ? mSearch->encodes() : 0);
        return {exitCode, QString(), true};
    }
    if (complete) {
        keepOutput();
        reportTarget(mTrialQuality, mSearch ? mSearch->encodes() : 0);
        return {FinishCode::Success, FinishCode::successfulText(), true};
    }
    return {exitCode == 0 ? FinishCode::NoOutput : exitCode, FinishCode::failText()};
}

void WebpCompressor::cleanUpRun()
{
    mWorkDir.reset();
}
