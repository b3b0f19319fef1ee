#include "ProgressThread.h"

#include <QFile>
#include <QMutexLocker>

#include <cmath>

ProgressThread::ProgressThread(float totalDuration, QString progressPath)
    : mTotalDuration(totalDuration), mProgressPath(std::move(progressPath))
{}

void ProgressThread::stopThread()
{
    QMutexLocker locker(&mMutex);
    mRunning = false;
    mStopped.wakeAll();
}

bool ProgressThread::keepsRunning()
{
    QMutexLocker locker(&mMutex);
    return mRunning;
}

bool ProgressThread::idle()
{
    QMutexLocker locker(&mMutex);
    if (mRunning)
        mStopped.wait(&mMutex, idleWaitMs);
    return mRunning;
}

bool ProgressThread::handleLine(const QString& line)
{
    const QStringList parts = line.split(QLatin1Char('='));
    if (parts.size() != 2)
        return true;
    const QString& key = parts.at(0);
    const QString& value = parts.at(1);
    if (key == QLatin1String("progress") && value == QLatin1String("end"))
        return false;
    if (key == QLatin1String("out_time_us") && mTotalDuration > 0) {
        const float outTimeUs = std::fabs(value.toFloat());
        emit threadCompressProcess(outTimeUs / 1000.0f / mTotalDuration);
    }
    return true;
}

void ProgressThread::run()
{
    QFile file(mProgressPath);
    QByteArray pending; // the start of a line ffmpeg has not finished writing yet
    bool ended = false;
    while (!ended && keepsRunning()) {
        if (mWaitingForFile) {
            if (!file.open(QIODevice::ReadOnly)) {
                idle();
                continue;
            }
            mWaitingForFile = false;
        }
        const QByteArray chunk = file.read(64 * 1024);
        if (chunk.isEmpty()) {
            idle();
            continue;
        }
        pending += chunk;
        int start = 0;
        for (int end = pending.indexOf('\n'); end >= 0 && !ended; end = pending.indexOf('\n', start)) {
            QByteArray line = pending.mid(start, end - start);
            if (line.endsWith('\r'))
                line.chop(1);
            start = end + 1;
            ended = !handleLine(QString::fromUtf8(line));
        }
        pending.remove(0, start);
    }
    file.close();
    QFile::remove(mProgressPath);
}
