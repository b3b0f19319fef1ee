#include "MediaFixtures.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

namespace MediaFixtures {

bool run(const QString& program, const QStringList& arguments, QByteArray* output, int timeoutMs)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(program, arguments);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return false;
    }
    if (output)
        *output = process.readAll();
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

QString ffmpeg()
{
    return QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
}

QString ffprobe()
{
    return QStandardPaths::findExecutable(QStringLiteral("ffprobe"));
}

bool makeImage(const QString& path, const QString& source, const QStringList& extraOutputArguments)
{
    QStringList arguments{QStringLiteral("-v"),
                          QStringLiteral("error"),
                          QStringLiteral("-y"),
                          QStringLiteral("-f"),
                          QStringLiteral("lavfi"),
                          QStringLiteral("-i"),
                          source,
                          QStringLiteral("-frames:v"),
                          QStringLiteral("1")};
    arguments << extraOutputArguments << path;
    return run(ffmpeg(), arguments);
}

double ssim(const QString& reference, const QString& distorted)
{
    QByteArray output;
    // Compared on luma: chroma subsampling is a JPEG's designed loss, not a fault.
    const QStringList arguments{
        QStringLiteral("-v"),     QStringLiteral("info"),
        QStringLiteral("-i"),     reference,
        QStringLiteral("-i"),     distorted,
        QStringLiteral("-lavfi"), QStringLiteral("[0:v]format=gray[a];[1:v]format=gray[b];[a][b]ssim"),
        QStringLiteral("-f"),     QStringLiteral("null"),
        QStringLiteral("-")};
    if (!run(ffmpeg(), arguments, &output))
        return -1;
    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral("All:([0-9.]+)")).match(QString::fromUtf8(output));
    return match.hasMatch() ? match.captured(1).toDouble() : -1;
}

QString frameSize(const QString& path)
{
    QByteArray output;
    const QStringList arguments{
        QStringLiteral("-v"),  QStringLiteral("error"),         QStringLiteral("-select_streams"),
        QStringLiteral("v:0"), QStringLiteral("-show_entries"), QStringLiteral("stream=width,height"),
        QStringLiteral("-of"), QStringLiteral("csv=s=x:p=0"),   path};
    if (!run(ffprobe(), arguments, &output))
        return {};
    return QString::fromUtf8(output).trimmed();
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeAll(const QString& path, const QByteArray& data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

QString photo(const QString& fileName)
{
    return QStringLiteral(TEST_DATA_DIR "/photos/") + fileName;
}

QStringList entriesStartingWith(const QString& dir, const QString& prefix)
{
    return QDir(dir).entryList({prefix + QLatin1Char('*')},
                               QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
}

} // namespace MediaFixtures
