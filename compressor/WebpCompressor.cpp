#include "WebpCompressor.h"

#include "FFmpegLocator.h"
#include "FinishCode.h"
#include "OutputFile.h"
#include "ToolCommand.h"

#include <QFile>
#include <QtEndian>

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

} // namespace

WebpCompressor::WebpCompressor(const QVariantMap& params) : DirectOutputCompressTask(params) {}

bool WebpCompressor::startTask()
{
    setStatus(StatusRunning);
    return DirectOutputCompressTask::startTask();
}

QString WebpCompressor::toolPath() const
{
    return FFmpegLocator::ffmpegPath();
}

ToolCommand WebpCompressor::command() const
{
    ToolCommand command;
    command.words(QStringLiteral("-i"))
        .ffmpegPath(mInputPath)
        .words(QStringLiteral("-y"))
        .words(QStringLiteral("-c:v"))
        .words(QStringLiteral("libwebp"))
        .words(QStringLiteral("-quality"))
        .value(mQuality);
    if (!mThreads.isEmpty())
        command.words(QStringLiteral("-threads")).value(mThreads);
    command.ffmpegPath(mOutputPath);
    return command;
}

QStringList WebpCompressor::makeWebpCompressParam(const QVariantMap& params)
{
    Q_UNUSED(params)
    return command().paramList();
}

std::optional<ToolRunTask::ToolStep> WebpCompressor::firstStep(int kind, Outcome* refusal)
{
    Q_UNUSED(kind)
    Q_UNUSED(refusal)
    return ToolStep{toolPath(), command().arguments()};
}

ToolRunTask::Outcome WebpCompressor::deliverRun(int exitCode)
{
    const qint64 sourceSize = OutputFile::sizeOf(mInputPath);
    const qint64 resultSize = OutputFile::sizeOf(mOutputPath);

    // A WebP larger than its source is worth less than the original: deliver the source's bytes.
    if (sourceSize < resultSize) {
        if (!OutputFile::replace(mOutputPath, mInputPath))
            return {FinishCode::NoOutput, FinishCode::failText()};
        keepOutput();
        return {exitCode, QString(), true};
    }
    if (exitCode == 0 && resultSize > 0 && isCompleteWebp(mOutputPath, resultSize)) {
        keepOutput();
        return {FinishCode::Success, FinishCode::successfulText(), true};
    }
    return {exitCode == 0 ? FinishCode::NoOutput : exitCode, FinishCode::failText()};
}
