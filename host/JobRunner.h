#pragma once

#include "ProgressBar.h"

#include <QObject>
#include <QSharedPointer>
#include <QString>

class ICompressTask;

// Runs one task on this thread's event loop and keeps how it ended.
class JobRunner : public QObject
{
    Q_OBJECT
public:
    explicit JobRunner(QSharedPointer<ICompressTask> task);

    // Starts the task (or its preview) and returns when it has finished; false when it could not start.
    bool run(bool preview);

    bool hasFinished() const { return mFinished; }
    int finishCode() const { return mCode; }
    QString finishText() const { return mText; }

private slots:
    void onProgress(float progress);
    void onFinished(int code, QString text);

signals:
    void done();

private:
    QSharedPointer<ICompressTask> mTask;
    ProgressBar mProgressBar;
    bool mFinished = false;
    int mCode = 0;
    QString mText;
};
