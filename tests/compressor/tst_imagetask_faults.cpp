// Faults of an image tool that a real encoder cannot be made to show, forced with a fake tool that
// sits next to this test program: exit codes, crashes, hangs, aborts and tools that cannot start.

#include "MediaFixtures.h"
#include "TaskRun.h"

#include <compressor/CompressTask.h>
#include <compressor/FinishCode.h>
#include <compressor/ICompressor.h>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

using namespace MediaFixtures;

class TestImageTaskFaults : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void exitCodes_data();
    void exitCodes();
    void crashedToolDeliversNothing();
    void abortDuringRun();
    void abortWhenNothingRunsTouchesNothing();
    void destroyWhileRunning();
    void hostMayDropTaskWhenFinished();
    void toolThatCannotStart();

private:
    QSharedPointer<ICompressTask> makeTask(const QString& behaviour, const QString& outputSuffix = "jpg");

    std::unique_ptr<QTemporaryDir> mWork;
    QString mTempDir, mSource, mOutput;
    const QByteArray mSourceBytes = QByteArray(1000, 's');
    const QByteArray mUserBytes = "the user's own file";
};

void TestImageTaskFaults::init()
{
#ifdef TOOL_UNSTARTABLE
    if (QString(QTest::currentTestFunction()) != QLatin1String("toolThatCannotStart"))
        QSKIP("this build only holds a tool that cannot start");
#else
    if (QString(QTest::currentTestFunction()) == QLatin1String("toolThatCannotStart"))
        QSKIP("needs the build whose tool cannot start");
#endif
    mWork = std::make_unique<QTemporaryDir>();
    QVERIFY(mWork->isValid());
    mTempDir = mWork->filePath("tmp");
    QVERIFY(QDir().mkpath(mTempDir));
    qputenv("TMPDIR", QFile::encodeName(mTempDir));
    mSource = mWork->filePath("source.jpg");
    mOutput = mWork->filePath("out.jpg");
    QVERIFY(writeAll(mSource, mSourceBytes));
    QVERIFY(writeAll(mOutput, mUserBytes));
}

void TestImageTaskFaults::cleanup()
{
    if (!mWork)
        return;
    QCOMPARE(entriesStartingWith(mTempDir, "compress"), QStringList());
    mWork.reset();
}

QSharedPointer<ICompressTask> TestImageTaskFaults::makeTask(const QString& behaviour,
                                                            const QString& outputSuffix)
{
    const QString output = outputSuffix == "jpg" ? mOutput : mWork->filePath("out." + outputSuffix);
    if (outputSuffix != "jpg")
        writeAll(output, mUserBytes);
    return CompressorEntry()->createCompressTask(
        {{"inputPath", mSource}, {"outputPath", output}, {"quality", behaviour}});
}

void TestImageTaskFaults::exitCodes_data()
{
    QTest::addColumn<QString>("suffix"); // which task: jpg (cJpeg) or png (pngquant)
    QTest::addColumn<QString>("behaviour");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("output"); // what the output path holds afterwards

    const QString corrupt = FinishCode::corruptSourceText();
    QTest::newRow("result with exit 3 is not delivered") << "jpg"
                                                         << "exit:3" << 3 << "" << mUserBytes;
    QTest::newRow("unreadable source") << "jpg"
                                       << "exit:1" << 1 << corrupt << mUserBytes;
    QTest::newRow("unreadable source, no result") << "jpg"
                                                  << "nooutput:1" << 1 << corrupt << mUserBytes;
    QTest::newRow("no result") << "jpg"
                               << "nooutput:7" << 2 << "" << mUserBytes;
    QTest::newRow("no result, exit 0") << "jpg"
                                       << "nooutput:0" << 2 << "" << mUserBytes;
    QTest::newRow("empty result") << "jpg"
                                  << "empty" << 2 << "" << mUserBytes;
    QTest::newRow("larger result delivers the source") << "jpg"
                                                       << "big" << 0 << "" << mSourceBytes;
    QTest::newRow("pngquant cannot read the source") << "png"
                                                     << "nooutput:25" << 1 << corrupt << mUserBytes;
    QTest::newRow("pngquant quality floor keeps the source") << "png"
                                                             << "nooutput:99" << 99 << "" << mSourceBytes;
    QTest::newRow("pngquant result") << "png"
                                     << "exit:0" << 0 << ""
                                     << QByteArray("\x00\x01\x02\x03\x04\x05\x06\x07\x08\x09", 10);
}

void TestImageTaskFaults::exitCodes()
{
    QFETCH(QString, suffix);
    QFETCH(QString, behaviour);
    QFETCH(int, code);
    QFETCH(QString, text);
    QFETCH(QByteArray, output);

    const auto task = makeTask(behaviour, suffix);
    const TaskResult result = runTask(*task);
    QVERIFY(result.started);
    QCOMPARE(result.finishCount, 1);
    QCOMPARE(result.code, code);
    QCOMPARE(result.text, text);
    QCOMPARE(readAll(compressTask(task)->task().value("outputPath").toString()), output);
    QCOMPARE(compressTask(task)->status(),
             int(code == 0 ? CompressTask::StatusSucceeded : CompressTask::StatusFailed));
}

void TestImageTaskFaults::crashedToolDeliversNothing()
{
    const TaskResult result = runTask(*makeTask("crash"));
    QCOMPARE(result.finishCount, 1);
    QCOMPARE(result.code, FinishCode::ToolCrashed);
    QCOMPARE(readAll(mOutput), mUserBytes);
}

void TestImageTaskFaults::abortDuringRun()
{
    const auto task = makeTask("hang");
    QSignalSpy finished(task.data(), &ICompressTask::compressFinished);
    QVERIFY(finished.isValid());
    QVERIFY(task->startTask());
    QCOMPARE(compressTask(task)->status(), int(CompressTask::StatusRunning));
    // Wait until the tool really runs and has begun its (partial) result.
    QTRY_VERIFY(!QDir(mTempDir).entryList({"compress*"}, QDir::Dirs).isEmpty());
    const QString workDir = QDir(mTempDir).entryInfoList({"compress*"}, QDir::Dirs).first().filePath();
    QTRY_VERIFY(QFileInfo::exists(workDir + "/temporaryImage_2.jpg"));

    task->abortTask();
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.first().at(0).toInt(), FinishCode::Aborted);
    QVERIFY(compressTask(task)->isFinished());
    QVERIFY(!QFileInfo::exists(workDir));
    QCOMPARE(readAll(mOutput), mUserBytes);

    task->abortTask(); // a second abort has nothing left to do
    QCoreApplication::processEvents();
    QCOMPARE(finished.count(), 1);
}

void TestImageTaskFaults::abortWhenNothingRunsTouchesNothing()
{
    const auto task = makeTask("big");
    QSignalSpy finished(task.data(), &ICompressTask::compressFinished);
    QVERIFY(finished.isValid());
    task->abortTask(); // before any start
    QCOMPARE(finished.count(), 0);
    QCOMPARE(runTask(*task).code, 0);
    const QByteArray delivered = readAll(mOutput);
    task->abortTask(); // after the run: the delivered result stays
    QCOMPARE(readAll(mOutput), delivered);
    QCOMPARE(finished.count(), 1);
}

void TestImageTaskFaults::destroyWhileRunning()
{
    auto task = makeTask("hang");
    QVERIFY(task->startTask());
    QTRY_VERIFY(!entriesStartingWith(mTempDir, "compress").isEmpty());
    task.reset();
    QCOMPARE(entriesStartingWith(mTempDir, "compress"), QStringList());
    QCOMPARE(readAll(mOutput), mUserBytes);
}

void TestImageTaskFaults::hostMayDropTaskWhenFinished()
{
    QSharedPointer<ICompressTask> task = makeTask("exit:0");
    int code = -100;
    connect(task.data(), &ICompressTask::compressFinished, this, [&](int finishedCode) {
        code = finishedCode;
        task.reset(); // a host releasing its task from the finished slot
    });
    QVERIFY(task->startTask());
    QTRY_COMPARE_WITH_TIMEOUT(code, 0, 30000);
    QVERIFY(task.isNull());
    QCOMPARE(readAll(mOutput).size(), 10);
}

void TestImageTaskFaults::toolThatCannotStart()
{
    const auto task = makeTask("75");
    QSignalSpy finished(task.data(), &ICompressTask::compressFinished);
    QVERIFY(finished.isValid());
    task->startTask();
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 30000);
    QCOMPARE(finished.first().at(0).toInt(), FinishCode::ToolFailedToStart);
    QCoreApplication::processEvents();
    QCOMPARE(finished.count(), 1);
    QCOMPARE(readAll(mOutput), mUserBytes);
}

QTEST_GUILESS_MAIN(TestImageTaskFaults)
#include "tst_imagetask_faults.moc"
