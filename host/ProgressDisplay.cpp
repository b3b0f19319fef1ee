#include "ProgressDisplay.h"

#include "Job.h"
#include "JobScheduler.h"
#include "RunSummary.h"
#include "SizeText.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>

namespace {

constexpr int redrawIntervalMs = 200;
constexpr int minNameWidth = 12;

int terminalColumns(std::FILE* stream)
{
    winsize size = {};
    if (::ioctl(fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

QString elided(const QString& name, int width)
{
    if (name.size() <= width)
        return name.leftJustified(width);
    return QStringLiteral("...") + name.right(width - 3);
}

} // namespace

ProgressDisplay::ProgressDisplay(const JobScheduler& scheduler, const RunSummary& summary, QObject* parent)
    : QObject(parent), mScheduler(scheduler), mSummary(summary), mLive(isatty(fileno(mStream)) == 1)
{
    if (!mLive)
        return;
    mTimer.setInterval(redrawIntervalMs);
    connect(&mTimer, &QTimer::timeout, this, &ProgressDisplay::show);
    mTimer.start();
}

QString ProgressDisplay::clockText(qint64 seconds)
{
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600)
        .arg((seconds / 60) % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

QString ProgressDisplay::bar(double fraction, int width)
{
    const int filled = int(std::clamp(fraction, 0.0, 1.0) * width);
    return QLatin1Char('[') + QString(filled, QLatin1Char('#')) + QString(width - filled, QLatin1Char('.')) +
           QLatin1Char(']');
}

QString ProgressDisplay::timeLeft(double fraction, qint64 elapsedMs)
{
    if (fraction <= 0.01)
        return QStringLiteral("-:--:--");
    return clockText(qint64(double(elapsedMs) / 1000.0 * (1.0 - fraction) / fraction));
}

void ProgressDisplay::onJobProgressed(Job* job)
{
    if (mLive || !job->hostJob().isVideo)
        return; // the live lines pick it up at the next redraw
    const int tenths = int(std::floor(std::clamp(job->progress(), 0.0, 1.0) * 10.0));
    auto shown = mShownTenths.find(job);
    if (shown == mShownTenths.end()) {
        shown = mShownTenths.insert(job, -1);
        connect(job, &QObject::destroyed, this, [this, job] { mShownTenths.remove(job); });
    }
    if (tenths <= shown.value())
        return;
    shown.value() = tenths;
    const QString line =
        QStringLiteral("%1: %2% elapsed %3 left %4\n")
            .arg(job->hostJob().displayName)
            .arg(job->progress() * 100.0, 0, 'f', 1)
            .arg(clockText(job->elapsedMs() / 1000), timeLeft(job->progress(), job->elapsedMs()));
    std::fputs(line.toLocal8Bit().constData(), mStream);
    std::fflush(mStream);
}

QString ProgressDisplay::videoLine(const Job& job, int columns) const
{
    const double fraction = std::max(job.progress(), 0.0);
    const QString state =
        QStringLiteral(" %1 %2%  elapsed %3  left %4")
            .arg(bar(fraction, 20))
            .arg(fraction * 100.0, 5, 'f', 1)
            .arg(clockText(job.elapsedMs() / 1000), timeLeft(job.progress(), job.elapsedMs()));
    // The name gives way first: the numbers are what the line is for.
    const int nameWidth = std::max(minNameWidth, columns - 2 - int(state.size()));
    return QStringLiteral("  ") + elided(job.hostJob().displayName, nameWidth) + state;
}

QString ProgressDisplay::overallLine() const
{
    const int total = std::max(mScheduler.total(), 1);
    return QStringLiteral("%1 %2/%3 files, %4 running  saved %5  %6")
        .arg(bar(double(mScheduler.doneCount()) / total, 30))
        .arg(mScheduler.doneCount())
        .arg(mScheduler.total())
        .arg(mScheduler.runningJobs().size())
        .arg(SizeText::bytes(mSummary.bytesIn() - mSummary.bytesOut()),
             clockText(qint64(mSummary.wallSeconds())));
}

void ProgressDisplay::hide()
{
    if (!mLive || mDrawnLines == 0)
        return;
    QByteArray clear = "\r";
    if (mDrawnLines > 1)
        clear += "\033[" + QByteArray::number(mDrawnLines - 1) + "A";
    clear += "\033[J";
    std::fputs(clear.constData(), mStream);
    std::fflush(mStream);
    mDrawnLines = 0;
}

void ProgressDisplay::show()
{
    if (!mLive || mStopped)
        return;
    hide();
    draw();
}

void ProgressDisplay::draw()
{
    // A line longer than the terminal would wrap and break the count of lines to clear.
    const int width = terminalColumns(mStream) - 1;
    QStringList lines;
    for (const Job* job : mScheduler.runningJobs()) {
        if (job->hostJob().isVideo)
            lines << videoLine(*job, width);
    }
    lines << overallLine();
    for (QString& line : lines)
        line.truncate(width);
    std::fputs(lines.join(QLatin1Char('\n')).toLocal8Bit().constData(), mStream);
    std::fflush(mStream);
    mDrawnLines = int(lines.size());
}

void ProgressDisplay::stop()
{
    hide();
    mStopped = true;
    mTimer.stop();
}
