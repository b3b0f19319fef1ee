#include "ProgressThread.h"

#include <QFile>

#include <cmath>

ProgressThread::ProgressThread(float totalDuration, QString progressPath)
    : mTotalDuration(totalDuration), mProgressPath(std::move(progressPath))
{}

ProgressThread::~ProgressThread()
{
    // Pairs with the lock that ends run(): a hand-over thread checkers can see, which QThread::wait()
    // (built on Qt's own primitives) does not show them.
    const std::lock_guard<std::mutex> locker(mMutex);
}

void ProgressThread::stopThread()
{
    {
        const std::lock_guard<std::mutex> locker(mMutex);
        mRunning = false;
    }
    mStopped.notify_all();
}

bool ProgressThread::keepsRunning()
{
    const std::lock_guard<std::mutex> locker(mMutex);
    return mRunning;
}

bool ProgressThread::idle()
{
    std::unique_lock<std::mutex> locker(mMutex);
    mStopped.wait_for(locker, std::chrono::milliseconds(idleWaitMs), [this] { return !mRunning; });
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
    const std::lock_guard<std::mutex> locker(mMutex);
    mRunning = false;
}
