#pragma once

#include "HostOptions.h"

#include <QHash>
#include <QList>
#include <QString>

class MediaKind;

// What a run would do, without doing any of it: each input, its output, the task and its settings,
// or why the file would be skipped or refused.
class DryRun
{
public:
    DryRun(const HostOptions& options, const MediaKind& kinds) : mOptions(options), mKinds(kinds) {}

    // One line (or, with --json, one JSON object) per job, on standard output.
    void print(const QList<HostJob>& jobs, const QHash<int, QString>& refusals) const;

private:
    QString settings(const HostJob& job) const;

    const HostOptions& mOptions;
    const MediaKind& mKinds;
};
