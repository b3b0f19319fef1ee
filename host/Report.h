#pragma once

class RunSummary;
struct JobResult;

// What the host tells the user on standard output: a record per finished file and the run's end.
class Report
{
public:
    virtual ~Report() = default;
    virtual void fileFinished(const JobResult& result) = 0;
    virtual void runFinished(const RunSummary& summary, int notStarted, bool interrupted, int exitStatus) = 0;
};
