#include "DryRun.h"

#include "FileOps.h"
#include "MediaKind.h"

#include <compressor/FormatTable.h>

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

namespace {

QString taskName(OutputFormat::Task task)
{
    switch (task) {
    case OutputFormat::Task::Jpeg:
        return QStringLiteral("JPEG (cJpeg)");
    case OutputFormat::Task::Png:
        return QStringLiteral("PNG (pngquant)");
    case OutputFormat::Task::Webp:
        return QStringLiteral("WebP (ffmpeg libwebp)");
    case OutputFormat::Task::Video:
        break;
    }
    return QStringLiteral("video (ffmpeg)");
}

} // namespace

QString DryRun::obstacle(const HostJob& job) const
{
    const QFileInfo source(job.inputPath);
    if (!source.isFile())
        return QStringLiteral("no such file");
    const QFileInfo output(job.outputPath);
    const bool ontoSource = QDir::cleanPath(source.absoluteFilePath()) == QDir::cleanPath(job.outputPath) ||
                            FileOps::isSameFile(job.inputPath, job.outputPath);
    if (ontoSource)
        return mOptions.inPlace ? QString() : QStringLiteral("would be skipped: the output is the source");
    if (output.isDir())
        return QStringLiteral("would fail: the output is a folder");
    if ((output.exists() || output.isSymLink()) && !mOptions.overwrite)
        return QStringLiteral("would be skipped: the output exists");
    return {};
}

QString DryRun::settings(const HostJob& job) const
{
    const OutputFormat& format = mKinds.table().forOutputPath(job.outputPath);
    QStringList parts{taskName(format.task)};
    parts << QStringLiteral("quality %1")
                 .arg(mOptions.quality.isNull() ? format.defaultQuality : mOptions.quality);
    if (format.task == OutputFormat::Task::Video) {
        parts << QStringLiteral("preset %1")
                     .arg(mOptions.preset.isNull() ? format.defaultPreset : mOptions.preset);
        if (!mOptions.scale.isNull())
            parts << QStringLiteral("scale %1").arg(mOptions.scale);
        if (mOptions.preview)
            parts << QStringLiteral("preview");
    }
    return parts.join(QStringLiteral(", "));
}

void DryRun::print(const QList<HostJob>& jobs, const QHash<int, QString>& refusals) const
{
    QTextStream out(stdout);
    for (int i = 0; i < jobs.size(); ++i) {
        const HostJob& job = jobs.at(i);
        const QString blocked =
            refusals.contains(i) ? QStringLiteral("would fail: ") + refusals.value(i) : obstacle(job);
        if (mOptions.json) {
            QJsonObject object{{QStringLiteral("type"), QStringLiteral("plan")},
                               {QStringLiteral("input"), job.inputPath},
                               {QStringLiteral("output"), job.outputPath},
                               {QStringLiteral("task"), settings(job)}};
            if (!blocked.isEmpty())
                object.insert(QStringLiteral("note"), blocked);
            out << QJsonDocument(object).toJson(QJsonDocument::Compact) << Qt::endl;
        } else {
            out << job.displayName << " -> " << job.outputPath << ": "
                << (blocked.isEmpty() ? settings(job) : blocked) << Qt::endl;
        }
    }
}
