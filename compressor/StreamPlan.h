#pragma once

#include <base/NerovaGlobal.h>

#include <QString>
#include <QStringList>
#include <QVector>

struct OutputFormat;

namespace Nerova {
struct ContainerInfo;
}

// Which of a source's streams an output gets, chosen from the probe and what the output container
// can hold, and how each one is written.
struct NEROVA_EXPORT StreamPlan
{
    // A subtitle stream kept, with the encoder it goes through ("copy" keeps it as it is).
    struct Subtitle
    {
        int index = -1;
        QString encoder;
    };

    int videoIndex = -1; // the moving picture encoded; -1 for audio only
    QVector<int> audioIndexes;
    QVector<Subtitle> subtitles;
    int coverIndex = -1; // a cover picture kept as the output's cover
    QString coverEncoder;
    bool coverIsPng = false;
    QVector<int> attachmentIndexes; // Matroska attachments such as fonts
    // What was left out, one phrase each, for the log.
    QStringList leftOut;

    static StreamPlan choose(const Nerova::ContainerInfo& info, const OutputFormat& format);
};
