// The target-size check every image format shares: the chosen quality fits, one step up does not.
#pragma once

#include "MediaFixtures.h"
#include "TaskRun.h"

#include <compressor/ICompressor.h>

#include <QFileInfo>
#include <QTest>

#include <functional>

// Checks a task's target-size promise on one source: the result fits, equals a plain run at the chosen
// quality, and the next quality step up would not have (or the lowest quality was used and the file reported
// over the target), and a target above the plain result gives exactly the plain result from one encode.
namespace TargetSizeCheck {

// A task for source -> output at quality, with a target size when targetSize is valid.
using MakeTask = std::function<QSharedPointer<ICompressTask>(const QString& output, int quality,
                                                             const QVariant& targetSize)>;

// The plug-in's tasks for one source file.
inline MakeTask tasksFor(const QString& source)
{
    return [source](const QString& output, int quality, const QVariant& targetSize) {
        QVariantMap request{{"inputPath", source}, {"outputPath", output}, {"quality", quality}};
        if (targetSize.isValid())
            request.insert("targetSize", targetSize);
        return CompressorEntry()->createCompressTask(request);
    };
}

// Runs one task to a good end and returns its result's bytes.
inline QByteArray encoded(const MakeTask& make, const QString& output, int quality, const QVariant& target,
                          QSharedPointer<ICompressTask>* task = nullptr)
{
    const auto made = make(output, quality, target);
    const TaskResult result = runTask(*made);
    if (task)
        *task = made;
    return result.finishCount == 1 && result.code == 0 ? MediaFixtures::readAll(output) : QByteArray();
}

// targetShare: the target as a share of the plain result at `highest`; lowest: the search's floor.
inline void check(const MakeTask& make, const QString& folder, const QString& suffix, int highest, int lowest,
                  double targetShare)
{
    const QByteArray plain = encoded(make, folder + "/plain." + suffix, highest, QVariant());
    QVERIFY(!plain.isEmpty());
    const qint64 target = qint64(double(plain.size()) * targetShare);

    QSharedPointer<ICompressTask> task;
    const QByteArray result = encoded(make, folder + "/target." + suffix, highest, target, &task);
    QVERIFY(!result.isEmpty());
    const int quality = task->property("targetQuality").toInt();
    const QString said =
        QString("target %1, got %2 at quality %3").arg(target).arg(result.size()).arg(quality);
    QCOMPARE(task->property("targetMet").toBool(), result.size() <= target);
    QVERIFY2(task->property("targetEncodes").toInt() <= 8, qPrintable(said));
    if (plain.size() <= target) {
        QCOMPARE(quality, highest);
        QCOMPARE(task->property("targetEncodes").toInt(), 1);
        QCOMPARE(result, plain);
        return;
    }
    if (result.size() > target) {
        QVERIFY2(quality == lowest, qPrintable(said)); // the search went as low as it may
        return;
    }
    // The result is what a plain task at the chosen quality delivers, and the next step up would not
    // have fit.
    QCOMPARE(encoded(make, folder + "/chosen." + suffix, quality, QVariant()), result);
    const QByteArray stepUp = encoded(make, folder + "/stepup." + suffix, quality + 1, QVariant());
    QVERIFY2(stepUp.size() > target,
             qPrintable(said + QStringLiteral(", one step up %1").arg(stepUp.size())));
}

} // namespace TargetSizeCheck
