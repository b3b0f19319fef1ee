#include "ToolVersions.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>

namespace {

// The first line a program prints when asked for its version.
QString firstLine(const QString& program, const QStringList& arguments)
{
    if (!QFileInfo(program).isExecutable())
        return QStringLiteral("not found at %1").arg(program);
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(10000) || process.exitStatus() != QProcess::NormalExit) {
        process.kill();
        process.waitForFinished();
        return QStringLiteral("does not answer (%1)").arg(program);
    }
    const QString output = QString::fromLocal8Bit(process.readAll()).trimmed();
    if (process.exitCode() != 0 || output.isEmpty())
        return QStringLiteral("version unknown (%1)").arg(program);
    return output.section(QLatin1Char('\n'), 0, 0).trimmed();
}

} // namespace

QStringList ToolVersions::lines(const QString& pluginVersion, const QString& ffmpegDir)
{
    const QString here = QCoreApplication::applicationDirPath();
    const QString ffmpeg =
        QDir::cleanPath((ffmpegDir.isEmpty() ? here : ffmpegDir) + QStringLiteral("/ffmpeg"));
    return {QStringLiteral("nerova-compress %1").arg(QCoreApplication::applicationVersion()),
            QStringLiteral("plug-in %1")
                .arg(pluginVersion.isEmpty() ? QStringLiteral("(no version)") : pluginVersion),
            QStringLiteral("cJpeg: ") +
                firstLine(here + QStringLiteral("/cJpeg"), {QStringLiteral("-version")}),
            QStringLiteral("cImage: ") +
                firstLine(here + QStringLiteral("/cImage"), {QStringLiteral("-version")}),
            QStringLiteral("pngquant: ") +
                firstLine(here + QStringLiteral("/pngquant"), {QStringLiteral("--version")}),
            QStringLiteral("ffmpeg: ") + firstLine(ffmpeg, {QStringLiteral("-version")})};
}
