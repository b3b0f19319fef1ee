#include "LogSink.h"

#include "NerovaBase.h"

#include <QDir>
#include <QFile>
#include <QMutexLocker>

#include <cstdio>

namespace Nerova {

LogSink::~LogSink() = default;

QString LogSink::logFileName()
{
    return QStringLiteral("NerovaBase.log");
}

void LogSink::write(const Record& record)
{
    const QByteArray line = record.toLine().toUtf8() + '\n';
    // The log folder is read with value(): the sink must never add keys to the configuration.
    const QString logDir = NerovaBaseEntry()->getConfig().value(QStringLiteral("kLogDirPath")).toString();

    QMutexLocker locker(&mMutex);
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    if (!logDir.isEmpty()) {
        QFile file(QDir(logDir).filePath(logFileName()));
        if (file.open(QIODevice::WriteOnly | QIODevice::Append))
            file.write(line);
    }
    if (mCapture)
        mCaptured.append(record);
}

void LogSink::setCaptureEnabled(bool enabled)
{
    QMutexLocker locker(&mMutex);
    mCapture = enabled;
    if (!enabled)
        mCaptured.clear();
}

QList<Record> LogSink::takeCaptured()
{
    QMutexLocker locker(&mMutex);
    return std::exchange(mCaptured, {});
}

} // namespace Nerova
