// Runs a task the way a host does and records its one finish: the shared helper of the task tests.
#pragma once

#include <compressor/CompressTask.h>
#include <compressor/ICompressTask.h>
#include <compressor/ICompressor.h>

#include <QCoreApplication>
#include <QSharedPointer>
#include <QSignalSpy>
#include <QTest>

// The task behind a host's pointer; every task the factory makes is a CompressTask.
inline CompressTask* compressTask(const QSharedPointer<ICompressTask>& task)
{
    return static_cast<CompressTask*>(task.data());
}

// The plug-in's task for source -> output, with the request's other values.
inline QSharedPointer<ICompressTask> newTask(const QString& source, const QString& output,
                                             const QVariantMap& extra = {})
{
    QVariantMap request{{"inputPath", source}, {"outputPath", output}};
    request.insert(extra);
    return CompressorEntry()->createCompressTask(request);
}

// How one task run ended, as a host hears it.
struct TaskResult
{
    bool started = false;
    int finishCount = 0;
    int code = 0;
    QString text;
};

// Starts the task and waits for its compressFinished; also notes a second, unwanted one.
inline TaskResult runTask(ICompressTask& task, int timeoutMs = 60000)
{
    TaskResult result;
    QSignalSpy spy(&task, &ICompressTask::compressFinished);
    if (!spy.isValid())
        return result;
    result.started = task.startTask();
    if (spy.isEmpty() && result.started)
        spy.wait(timeoutMs);
    QCoreApplication::processEvents(); // lets a stray second signal show up
    result.finishCount = spy.count();
    if (!spy.isEmpty()) {
        result.code = spy.first().at(0).toInt();
        result.text = spy.first().at(1).toString();
    }
    return result;
}
