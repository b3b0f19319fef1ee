#include "WebpCompressor.h"

#include "FFmpegLocator.h"
#include "FinishCode.h"
#include "OutputFile.h"
#include "ToolArguments.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
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

WebpCompressor::WebpCompressor(const QVariantMap& params) : ImageCompressTask(params) {}

WebpCompressor::~WebpCompressor()
{
    stopToolForDestruction();
    if (isRunActive())
        discardRun();
}

bool WebpCompressor::startTask()
{
    setStatus(StatusRunning);
    return ImageCompressTask::startTask();
}

QString WebpCompressor::toolPath() const
{
    return FFmpegLocator::ffmpegPath();
}

QStringList WebpCompressor::makeWebpCompressParam(const QVariantMap& params)
{
    Q_UNUSED(params)
    return {QStringLiteral("-i"),
            ToolArguments::quotedFFmpegPath(mInputPath),
            QStringLiteral("-y"),
            QStringLiteral("-c:v"),
            QStringLiteral("libwebp"),
            QStringLiteral("-quality"),
            mQuality,
            ToolArguments::quotedFFmpegPath(mOutputPath)};
}

QStringList WebpCompressor::prepareRun(Outcome* refusal)
{
    // ffmpeg would truncate the source before reading it.
    if (OutputFile::isSameFile(mInputPath, mOutputPath)) {
        *refusal = {FinishCode::OutputIsSource, FinishCode::outputIsSourceText()};
        return {};
    }
    if (!mSetAside.setAside(mOutputPath)) {
        *refusal = {FinishCode::OutputNotSetAside, FinishCode::outputNotSetAsideText()};
        return {};
    }
    return makeWebpCompressParam(task());
}

ImageCompressTask::Outcome WebpCompressor::deliverRun(int exitCode)
{
    const qint64 sourceSize = OutputFile::sizeOf(mInputPath);
    const qint64 resultSize = OutputFile::sizeOf(mOutputPath);

    // A WebP larger than its source is worth less than the original: deliver the source's bytes.
    if (sourceSize < resultSize) {
        if (!OutputFile::replace(mOutputPath, mInputPath)) {
            discardRun();
            return {FinishCode::NoOutput, FinishCode::failText()};
        }
        mSetAside.drop();
        return {exitCode, QString()};
    }
    if (exitCode == 0 && resultSize > 0 && isCompleteWebp(mOutputPath, resultSize)) {
        mSetAside.drop();
        return {FinishCode::Success, FinishCode::successfulText()};
    }
    discardRun();
    return {exitCode == 0 ? FinishCode::NoOutput : exitCode, FinishCode::failText()};
}

void WebpCompressor::discardRun()
{
    // Whatever ffmpeg left at the output is partial: the user's own file (if any) takes its place.
    QFile::remove(mOutputPath);
    mSetAside.restore();
}
