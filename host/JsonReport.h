#pragma once

#include "Report.h"

#include <QTextStream>

// For scripts: one compact JSON object per line, a "file" object per finished file and a final
// "summary" object; nothing else is written to standard output.
class JsonReport : public Report
{
public:
    JsonReport();

    void fileFinished(const JobResult& result) override;
    void runFinished(const RunSummary& summary, int notStarted, bool interrupted, int exitStatus) override;

private:
    QTextStream mOut;
};
