#pragma once

#include "NerovaBaseGlobal.h"
#include "Record.h"

#include <QList>
#include <QMutex>

namespace Nerova {

// Takes finished log records: one line each to stderr and, when a log folder is configured, to a file.
class NEROVABASE_EXPORT LogSink
{
public:
    // The first virtual operation: callers reach it through the service's log sink.
    virtual void write(const Record& record);
    virtual ~LogSink();

    // Keeps copies of every record written from now on, so tests can look at them.
    void setCaptureEnabled(bool enabled);
    QList<Record> takeCaptured();

    static QString logFileName();

private:
    QMutex mMutex;
    bool mCapture = false;
    QList<Record> mCaptured;
};

} // namespace Nerova
