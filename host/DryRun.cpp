#include "DryRun.h"

#include "Job.h"
#include "MediaKind.h"

#include <compressor/FormatTable.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

namespace {

// Why the job would not run, in the words of a plan.
QString wouldNotRun(const HostOptions& options, const HostJob& job)
{
    JobResult::Outcome outcome = JobResult::Outcome::Failed;
    const QString obstacle = Job::obstacleOf(options, job, &outcome);
    if (obstacle.isEmpty())
        return {};
    return (outcome == JobResult::Outcome::Skipped ? QStringLiteral("would be skipped: ")
                                                   : QStringLiteral("would fail: ")) +
           obstacle;
}

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

QString DryRun::settings(const HostJob& job) const
{
    const OutputFormat& format = mKinds.table().forOutputPath(job.outputPath);
    QStringList parts{taskName(format.task)};
    parts << QStringLiteral("quality %1")
                 .arg(mOptions.quality.isNull() ? format.defaultQuality : mOptions.quality);
    if (mOptions.targetSize > 0)
        parts << (format.task == OutputFormat::Task::Video
                      ? QStringLiteral("no target size (videos)")
                      : QStringLiteral("target size %1 bytes").arg(mOptions.targetSize));
    if (format.task == OutputFormat::Task::Video) {
        parts << QStringLiteral("preset %1")
                     .arg(mOptions.preset.isNull() ? format.defaultPreset : mOptions.preset);
        if (!mOptions.scale.isNull())
            parts << QStringLiteral("scale %1").arg(mOptions.scale);
        if (mOptions.preview)
            parts << QStringLiteral("preview");
    }
    if (mOptions.maxWidth > 0 || mOptions.maxHeight > 0) {
        const auto side = [](int pixels) {
            return pixels > 0 ? QString::number(pixels) : QString();
        };
        parts << QStringLiteral("max size %1x%2").arg(side(mOptions.maxWidth), side(mOptions.maxHeight));
    }
    if (!mOptions.strip.isEmpty())
        parts << QStringLiteral("strip %1").arg(mOptions.strip);
    return parts.join(QStringLiteral(", "));
}

void DryRun::print(const QList<HostJob>& jobs, const QHash<int, QString>& refusals) const
{
    QTextStream out(stdout);
    for (int i = 0; i < jobs.size(); ++i) {
        const HostJob& job = jobs.at(i);
        const QString blocked = refusals.contains(i) ? QStringLiteral("would fail: ") + refusals.value(i)
                                                     : wouldNotRun(mOptions, job);
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
