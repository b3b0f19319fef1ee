#pragma once

#include "Report.h"

#include <QTextStream>

// Readable lines: one per finished file (named when there are several), then the summary table.
class TextReport : public Report
{
public:
    explicit TextReport(bool severalFiles);

    void fileFinished(const JobResult& result) override;
    void runFinished(const RunSummary& summary, int notStarted, bool interrupted, int exitStatus) override;

private:
    QTextStream mOut;
    bool mSeveralFiles;
};
