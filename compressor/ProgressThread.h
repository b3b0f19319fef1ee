#pragma once

#include <base/NerovaGlobal.h>

#include <QString>
#include <QThread>

#include <condition_variable>
#include <mutex>

// Follows ffmpeg's progress file while it grows and reports the output time reached as a fraction of
// the expected duration; ends on ffmpeg's end line or when stopped, and then deletes the file.
class NEROVA_EXPORT ProgressThread : public QThread
{
    Q_OBJECT
public:
    ProgressThread(float totalDuration, QString progressPath);
    // The owner stops the thread and waits for it before deleting it.
    ~ProgressThread() override;

    // Asks the thread to end; does not wait (use QThread::wait). Safe from any thread, at any time.
    void stopThread();

    // How long the thread rests when the file has no new line yet (or does not exist yet).
    static constexpr int idleWaitMs = 50;

signals:
    void threadCompressProcess(float progress);

protected:
    void run() override;

private:
    bool keepsRunning();
    // Rests for a moment unless stopped meanwhile; false once stopped.
    bool idle();
    // Handles one complete line; false on the end line.
    bool handleLine(const QString& line);

    const float mTotalDuration;
    bool mRunning = true;
    bool mWaitingForFile = true;
    std::mutex mMutex; // standard primitives, so thread checkers see the hand-over
    std::condition_variable mStopped;
    const QString mProgressPath;
};
