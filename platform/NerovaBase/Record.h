#pragma once

#include "NerovaBaseGlobal.h"

#include <QDateTime>
#include <QString>

namespace Nerova {

// One log record: where it was written from and the message parts streamed into it.
class NEROVABASE_EXPORT Record
{
public:
    Record(const char* function, int line, const char* file, const void* context, int level);

    Record& operator<<(const char* text);
    Record& operator<<(const QString& text);
    Record& operator<<(const QByteArray& text);
    Record& operator<<(int value);
    Record& operator<<(qint64 value);
    Record& operator<<(double value);

    QString function() const { return mFunction; }
    int line() const { return mLine; }
    QString file() const { return mFile; }
    const void* context() const { return mContext; }
    int level() const { return mLevel; }
    QDateTime time() const { return mTime; }
    QString message() const { return mMessage; }

    // The record as one line of a log file.
    QString toLine() const;

private:
    QString mFunction;
    int mLine = 0;
    QString mFile;
    const void* mContext = nullptr;
    int mLevel = 0;
    QDateTime mTime;
    QString mMessage;
};

} // namespace Nerova
