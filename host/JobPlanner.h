#pragma once

#include "HostOptions.h"
#include "MediaKind.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

// Turns the command line's files and folders into the list of jobs, before any of them runs, so that
// the results written during the run are never taken as inputs.
class JobPlanner
{
public:
    JobPlanner(const HostOptions& options, const MediaKind& kinds);

    // False with a message for the user when an input does not exist or the arguments do not fit.
    bool plan(QString* errorText);

    QList<HostJob> jobs() const { return mJobs; }
    // Jobs that cannot run because an earlier input already writes their output, with the reason.
    QHash<int, QString> refusals() const { return mRefusals; }
    // Remarks for the user about what was left out of the folders.
    QStringList notes() const { return mNotes; }

private:
    void addFile(const QString& inputPath, const QString& displayName, const QString& outputPath);
    void scanFolder(const QString& folder, const QString& displayFolder, const QString& outputFolder);
    QString outputNameFor(const QString& fileName) const;
    bool isVideoOutput(const QString& outputPath) const;

    const HostOptions& mOptions;
    const MediaKind& mKinds;
    QList<HostJob> mJobs;
    QHash<int, QString> mRefusals;
    QStringList mNotes;
    QSet<QString> mSeenInputs;
    QHash<QString, QString> mOutputOwners;
    QString mOutputRoot;
    int mLeftOutFiles = 0;
    QStringList mLeftOutSuffixes; // of the files left out, in the order first met
    int mLeftOutFolders = 0;
};
