// Guards what the JPEG and PNG tasks deliver for each way their tool can end (exit codes, no result,
// an empty or a larger result), forced with a fake tool that sits next to this test program.

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
    void resultWritesThroughALinkedOutput();

private:
    QSharedPointer<ICompressTask> makeTask(const QString& behaviour, const QString& outputSuffix = "jpg");

    std::unique_ptr<QTemporaryDir> mWork;
    QString mTempDir, mSource, mOutput;
    const QByteArray mSourceBytes = QByteArray(1000, 's');
    const QByteArray mUserBytes = "the user's own file";
};

void TestImageTaskFaults::init()
{
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
    QTest::addColumn<QString>("suffix");       // which task: jpg (cJpeg) or png (pngquant)
    QTest::addColumn<QString>("sourceFormat"); // the source's content: jpg or png
    QTest::addColumn<QString>("behaviour");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("output"); // what the output path holds afterwards: user, source, result

    const QString corrupt = FinishCode::corruptSourceText();
    QTest::newRow("result with exit 3 is not delivered") << "jpg"
                                                         << "jpg"
                                                         << "exit:3" << 3 << ""
                                                         << "user";
    QTest::newRow("unreadable source") << "jpg"
                                       << "jpg"
                                       << "exit:1" << 1 << corrupt << "user";
    QTest::newRow("unreadable source, no result") << "jpg"
                                                  << "jpg"
                                                  << "nooutput:1" << 1 << corrupt << "user";
    QTest::newRow("no result") << "jpg"
                               << "jpg"
                               << "nooutput:7" << 2 << ""
                               << "user";
    QTest::newRow("no result, exit 0") << "jpg"
                                       << "jpg"
                                       << "nooutput:0" << 2 << ""
                                       << "user";
    QTest::newRow("empty result") << "jpg"
                                  << "jpg"
                                  << "empty" << 2 << ""
                                  << "user";
    QTest::newRow("larger result delivers the source") << "jpg"
                                                       << "jpg"
                                                       << "big" << 0 << ""
                                                       << "source";
    QTest::newRow("larger result from a PNG is still a JPEG") << "jpg"
                                                              << "png"
                                                              << "big" << 0 << ""
                                                              << "result";
    QTest::newRow("pngquant cannot read the source") << "png"
                                                     << "png"
                                                     << "nooutput:25" << 1 << corrupt << "user";
    QTest::newRow("pngquant quality floor keeps the source") << "png"
                                                             << "png"
                                                             << "nooutput:99" << 99 << ""
                                                             << "source";
    QTest::newRow("quality floor never puts a JPEG in a PNG") << "png"
                                                              << "jpg"
                                                              << "nooutput:99" << 2 << ""
                                                              << "user";
    QTest::newRow("pngquant result") << "png"
                                     << "png"
                                     << "exit:0" << 0 << ""
                                     << "result";
}

void TestImageTaskFaults::exitCodes()
{
    QFETCH(QString, suffix);
    QFETCH(QString, sourceFormat);
    QFETCH(QString, behaviour);
    QFETCH(int, code);
    QFETCH(QString, text);
    QFETCH(QString, output);

    const QByteArray magic =
        sourceFormat == "png" ? QByteArray("\x89PNG\r\n\x1a\n") : QByteArray("\xff\xd8\xff");
    const QByteArray sourceBytes = magic + mSourceBytes;
    QVERIFY(writeAll(mSource, sourceBytes));
    const auto task = makeTask(behaviour, suffix);
    const TaskResult result = runTask(*task);
    QVERIFY(result.started);
    QCOMPARE(result.finishCount, 1);
    QCOMPARE(result.code, code);
    QCOMPARE(result.text, text);
    const QByteArray delivered = readAll(compressTask(task)->task().value("outputPath").toString());
    if (output == "user")
        QCOMPARE(delivered, mUserBytes);
    else if (output == "source")
        QCOMPARE(delivered, sourceBytes);
    else
        QVERIFY(delivered != mUserBytes && delivered != sourceBytes && !delivered.isEmpty());
    QCOMPARE(compressTask(task)->status(),
             int(code == 0 ? CompressTask::StatusSucceeded : CompressTask::StatusFailed));
}

void TestImageTaskFaults::resultWritesThroughALinkedOutput()
{
    // A user who links their output to a file elsewhere keeps the link; the file it names gets the result.
    const QString linked = mWork->filePath("elsewhere.jpg");
    QVERIFY(QFile::rename(mOutput, linked));
    QVERIFY(QFile::link(linked, mOutput));
    QVERIFY(writeAll(mSource, QByteArray("\xff\xd8\xff") + mSourceBytes));
    const auto task = makeTask("exit:0");
    const TaskResult result = runTask(*task);
    QCOMPARE(result.code, 0);
    QVERIFY(QFileInfo(mOutput).isSymLink());
    const QByteArray delivered = readAll(linked);
    QVERIFY(!delivered.isEmpty() && delivered != mUserBytes);
}

QTEST_GUILESS_MAIN(TestImageTaskFaults)
#include "tst_imagetask_faults.moc"
