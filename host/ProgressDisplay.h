#pragma once

#include <QHash>
#include <QObject>
#include <QTimer>

#include <cstdio>

class Job;
class JobScheduler;
class RunSummary;

// Shows the run while it goes, on standard error. On a terminal: a live line per running video
// (percent, elapsed, time left) under which an overall bar (files done / total, bytes saved) is
// redrawn in place. Otherwise: a plain line for each tenth of a video's progress.
class ProgressDisplay : public QObject
{
    Q_OBJECT
public:
    ProgressDisplay(const JobScheduler& scheduler, const RunSummary& summary, QObject* parent = nullptr);

    bool isLive() const { return mLive; }
    void onJobProgressed(Job* job);
    // Clears the live lines before something else is printed, and draws them again afterwards.
    void hide();
    void show();
    // Clears the live lines for good.
    void stop();

    static QString clockText(qint64 seconds);

private:
    void draw();
    QString videoLine(const Job& job, int columns) const;
    QString overallLine() const;
    static QString bar(double fraction, int width);
    static QString timeLeft(double fraction, qint64 elapsedMs);

    const JobScheduler& mScheduler;
    const RunSummary& mSummary;
    std::FILE* mStream = stderr;
    bool mLive = false;
    bool mStopped = false;
    int mDrawnLines = 0;
    QTimer mTimer;
    QHash<const Job*, int> mShownTenths;
};
