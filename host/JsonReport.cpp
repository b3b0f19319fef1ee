#include "JsonReport.h"

#include "JobResult.h"
#include "RunSummary.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace {

// Three decimals are plenty for seconds and percentages and keep the lines short.
double rounded(double value)
{
    return std::round(value * 1000.0) / 1000.0;
}

} // namespace

JsonReport::JsonReport() : mOut(stdout)
{
    mOut.setCodec("UTF-8");
}

void JsonReport::fileFinished(const JobResult& result)
{
    QJsonObject object{{QStringLiteral("type"), QStringLiteral("file")},
                       {QStringLiteral("input"), result.inputPath},
                       {QStringLiteral("output"), result.outputPath},
                       {QStringLiteral("result"), JobResult::outcomeName(result.outcome)},
                       {QStringLiteral("code"), result.hasCode ? QJsonValue(result.code) : QJsonValue()},
                       {QStringLiteral("text"), result.text},
                       {QStringLiteral("bytesIn"), result.bytesIn},
                       {QStringLiteral("bytesOut"), result.bytesOut},
                       {QStringLiteral("seconds"), rounded(result.seconds)}};
    if (!result.toolMessage.isEmpty())
        object.insert(QStringLiteral("toolMessage"), result.toolMessage);
    if (result.sourceKept)
        object.insert(QStringLiteral("sourceKept"), true);
    if (!result.resized.isEmpty())
        object.insert(QStringLiteral("resized"), result.resized);
    if (result.hasTarget) {
        object.insert(QStringLiteral("targetMet"), result.targetMet);
        object.insert(QStringLiteral("targetQuality"), result.targetQuality);
        object.insert(QStringLiteral("targetEncodes"), result.targetEncodes);
    }
    mOut << QJsonDocument(object).toJson(QJsonDocument::Compact) << Qt::endl;
}

void JsonReport::runFinished(const RunSummary& summary, int notStarted, bool interrupted, int exitStatus)
{
    const double saved = summary.bytesIn() > 0 ? 100.0 * double(summary.bytesIn() - summary.bytesOut()) /
                                                     double(summary.bytesIn())
                                               : 0.0;
    const QJsonObject object{{QStringLiteral("type"), QStringLiteral("summary")},
                             {QStringLiteral("files"), summary.files() + notStarted},
                             {QStringLiteral("succeeded"), summary.succeeded()},
                             {QStringLiteral("failed"), summary.failed()},
                             {QStringLiteral("skipped"), summary.skipped()},
                             {QStringLiteral("aborted"), summary.aborted()},
                             {QStringLiteral("overTarget"), summary.overTarget()},
                             {QStringLiteral("notStarted"), notStarted},
                             {QStringLiteral("bytesIn"), summary.bytesIn()},
                             {QStringLiteral("bytesOut"), summary.bytesOut()},
                             {QStringLiteral("savedPercent"), rounded(saved)},
                             {QStringLiteral("seconds"), rounded(summary.wallSeconds())},
                             {QStringLiteral("interrupted"), interrupted},
                             {QStringLiteral("exitStatus"), exitStatus}};
    mOut << QJsonDocument(object).toJson(QJsonDocument::Compact) << Qt::endl;
}
