#include "TextReport.h"

#include "JobResult.h"
#include "ProgressDisplay.h"
#include "RunSummary.h"
#include "SizeText.h"

namespace {

QString codeText(const JobResult& result)
{
    const QString code = QStringLiteral("finish code %1 \"%2\"").arg(result.code).arg(result.text);
    return result.toolMessage.isEmpty() ? code
                                        : code + QStringLiteral(" (") + result.toolMessage + QLatin1Char(')');
}

// A conversion to another container may come out larger than its source: that is said as it is.
QString sizeChange(const JobResult& result)
{
    if (result.bytesIn > 0 && result.bytesOut > result.bytesIn) {
        const double growth = 100.0 * double(result.bytesOut - result.bytesIn) / double(result.bytesIn);
        return QStringLiteral(", grew ") + QString::number(growth, 'f', 1) + QLatin1Char('%');
    }
    return QStringLiteral(", saved ") + SizeText::saving(result.bytesIn, result.bytesOut);
}

// A result that could not be brought under --target-size: the smallest the task made was delivered.
QString overTarget(const JobResult& result)
{
    return QStringLiteral("; over the target size: %1 bytes > %2 bytes (the smallest result, quality %3)")
        .arg(result.bytesOut)
        .arg(result.targetSize)
        .arg(result.targetQuality);
}

} // namespace

TextReport::TextReport(bool severalFiles) : mOut(stdout), mSeveralFiles(severalFiles) {}

void TextReport::fileFinished(const JobResult& result)
{
    if (mSeveralFiles)
        mOut << result.displayName << ": ";
    switch (result.outcome) {
    case JobResult::Outcome::Succeeded:
    case JobResult::Outcome::Failed:
        if (!result.hasCode) {
            mOut << "failed: " << result.text;
            break;
        }
        mOut << codeText(result) << ": " << SizeText::bytes(result.bytesIn) << " -> ";
        if (result.outcome == JobResult::Outcome::Succeeded)
            mOut << SizeText::bytes(result.bytesOut) << sizeChange(result)
                 << (result.resized.isEmpty() ? QString() : QStringLiteral(", resized to ") + result.resized)
                 << (result.sourceKept ? " (source kept: the result was larger)" : "")
                 << (result.isOverTarget() ? overTarget(result) : QString());
        else
            mOut << "no output";
        break;
    case JobResult::Outcome::Skipped:
        mOut << "skipped: " << result.text;
        break;
    case JobResult::Outcome::Aborted:
        mOut << "aborted";
        if (result.hasCode)
            mOut << " (" << codeText(result) << ")";
        break;
    }
    mOut << Qt::endl;
}

void TextReport::runFinished(const RunSummary& summary, int notStarted, bool interrupted, int exitStatus)
{
    Q_UNUSED(exitStatus)
    if (!mSeveralFiles && !interrupted)
        return; // the file's own line said it all
    const auto row = [this](const char* label, const QString& value) {
        mOut << "  " << QString::fromLatin1(label).leftJustified(12) << value << "\n";
    };
    mOut << "\nSummary" << (interrupted ? " (interrupted)" : "") << "\n";
    row("files", QString::number(summary.files() + notStarted));
    row("succeeded", QString::number(summary.succeeded()));
    row("failed", QString::number(summary.failed()));
    for (const JobResult& failure : summary.failures()) {
        mOut << "    " << failure.displayName << ": " << (failure.hasCode ? codeText(failure) : failure.text)
             << "\n";
    }
    if (summary.overTarget() > 0)
        row("over target", QString::number(summary.overTarget()));
    row("skipped", QString::number(summary.skipped()));
    if (summary.aborted() > 0)
        row("aborted", QString::number(summary.aborted()));
    if (notStarted > 0)
        row("not started", QString::number(notStarted));
    row("bytes", QStringLiteral("%1 -> %2, saved %3")
                     .arg(SizeText::bytes(summary.bytesIn()), SizeText::bytes(summary.bytesOut()),
                          SizeText::saving(summary.bytesIn(), summary.bytesOut())));
    row("wall time", ProgressDisplay::clockText(qint64(summary.wallSeconds())) +
                         QStringLiteral(" (%1 s)").arg(summary.wallSeconds(), 0, 'f', 2));
    mOut.flush();
}
