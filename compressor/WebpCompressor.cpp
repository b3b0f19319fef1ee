#include "WebpCompressor.h"

#include "FFmpegLocator.h"
#include "FinishCode.h"
#include "OutputFile.h"
#include "ToolArguments.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <sys/stat.h>

namespace {

// True when both paths lead to one file (links and hard links included).
bool isSameFile(const QString& first, const QString& second)
{
    struct stat a
    {
    };
    struct stat b
    {
    };
    if (::stat(QFile::encodeName(first).constData(), &a) != 0 ||
        ::stat(QFile::encodeName(second).constData(), &b) != 0)
        return false;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

qint64 sizeOf(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() ? info.size() : 0;
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
    if (isSameFile(mInputPath, mOutputPath)) {
        *refusal = {FinishCode::OutputIsSource, FinishCode::outputIsSourceText()};
        return {};
    }
    if (!setAsideExistingOutput()) {
        *refusal = {FinishCode::OutputNotSetAside, FinishCode::outputNotSetAsideText()};
        return {};
    }
    return makeWebpCompressParam(task());
}

bool WebpCompressor::setAsideExistingOutput()
{
    mSetAsidePath.clear();
    const QFileInfo output(mOutputPath);
    if (!output.exists() && !output.isSymLink())
        return true;
    // Renamed within its own folder: no copy, and it stays on the user's disk whatever happens.
    for (int attempt = 0; attempt < 16; ++attempt) {
        const QString candidate =
            output.dir().filePath(QStringLiteral(".%1.%2.aside")
                                      .arg(output.fileName())
                                      .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0')));
        if (QFileInfo::exists(candidate))
            continue;
        if (QFile::rename(mOutputPath, candidate)) {
            mSetAsidePath = candidate;
            return true;
        }
        qDebug() << "Cannot set aside" << mOutputPath;
        return false;
    }
    return false;
}

void WebpCompressor::restoreSetAside()
{
    if (mSetAsidePath.isEmpty())
        return;
    QFile::remove(mOutputPath);
    if (!QFile::rename(mSetAsidePath, mOutputPath))
        qWarning() << "Cannot put back" << mOutputPath << "- it is kept as" << mSetAsidePath;
    mSetAsidePath.clear();
}

void WebpCompressor::dropSetAside()
{
    if (!mSetAsidePath.isEmpty())
        QFile::remove(mSetAsidePath);
    mSetAsidePath.clear();
}

ImageCompressTask::Outcome WebpCompressor::deliverRun(int exitCode)
{
    const qint64 sourceSize = sizeOf(mInputPath);
    const qint64 resultSize = sizeOf(mOutputPath);

    // A WebP larger than its source is worth less than the original: deliver the source's bytes.
    if (sourceSize < resultSize) {
        if (!OutputFile::replace(mOutputPath, mInputPath)) {
            discardRun();
            return {FinishCode::NoOutput, FinishCode::failText()};
        }
        dropSetAside();
        return {exitCode, QString()};
    }
    if (exitCode == 0 && resultSize > 0) {
        dropSetAside();
        return {FinishCode::Success, FinishCode::successfulText()};
    }
    discardRun();
    return {exitCode == 0 ? FinishCode::NoOutput : exitCode, FinishCode::failText()};
}

void WebpCompressor::discardRun()
{
    // Whatever ffmpeg left at the output is partial: the user's own file (if any) takes its place.
    QFile::remove(mOutputPath);
    restoreSetAside();
}
