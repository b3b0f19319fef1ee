// Guards the one life every task shares (start, finish, abort, destruction, a tool that is missing,
// cannot start or crashes): exactly one compressFinished per launched run, the status stored after
// it, the user's file and the temporary location as before; and what really reaches the tool's argv.
// The tools here are a fake that this test copies next to itself.

#include "MediaFixtures.h"

#include <compressor/CompressTask.h>
#include <compressor/FinishCode.h>
#include <compressor/ICompressor.h>

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

using namespace MediaFixtures;

namespace {

enum class Scenario {
    Finish,
    AbortBeforeStart, // then a normal run
    AbortAfterFinish, // the delivered result stays
    DropInSlot,       // the host releases the task from its compressFinished slot
    Abort,
    AbortTwice,
    Destroy,
    ToolMissing,
    ToolUnstartable,
    ToolCrashes,
    SecondStart
};

const QByteArray userBytes = "the user's own file";

QString toolNameFor(const QString& suffix)
{
    if (suffix == "jpg")
        return "cJpeg";
    if (suffix == "png")
        return "pngquant";
    return "ffmpeg";
}

} // namespace

Q_DECLARE_METATYPE(Scenario)

class TestTaskLifecycle : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void lifecycle_data();
    void lifecycle();
    void argumentsReachTheToolWhole_data();
    void argumentsReachTheToolWhole();

private:
    QString toolPath(const QString& suffix) const
    {
        return QCoreApplication::applicationDirPath() + "/" + toolNameFor(suffix);
    }
    void installTools();
    QStringList receivedArguments() const;

    QTemporaryDir mFixtures;
    QString mVideo, mImage;
    std::unique_ptr<QTemporaryDir> mWork;
    QString mTempDir;
};

void TestTaskLifecycle::initTestCase()
{
    QVERIFY(mFixtures.isValid());
    mImage = mFixtures.filePath("source.png");
    QVERIFY(makeImage(mImage, "testsrc2=size=64x48"));
    // One temporary location for the whole test: the video tasks keep a process-wide progress folder.
    mTempDir = mFixtures.filePath("tmp");
    QVERIFY(QDir().mkpath(mTempDir));
    qputenv("TMPDIR", QFile::encodeName(mTempDir));
    mVideo = mFixtures.filePath("source.mp4");
    QVERIFY(run(ffmpeg(), {"-v", "error", "-f", "lavfi", "-i", "testsrc2=size=64x48:rate=10", "-t", "1",
                           "-c:v", "libx264", "-preset", "ultrafast", mVideo}));
}

void TestTaskLifecycle::installTools()
{
    for (const QString suffix : {"jpg", "png", "mp4"}) {
        QFile::remove(toolPath(suffix));
        QVERIFY(QFile::copy(QStringLiteral(FAKE_TOOL_PATH), toolPath(suffix)));
    }
}

void TestTaskLifecycle::init()
{
    installTools();
    mWork = std::make_unique<QTemporaryDir>(mFixtures.filePath("work-XXXXXX"));
    QVERIFY(mWork->isValid());
    QVERIFY(QDir().mkpath(mWork->filePath("out")));
    qunsetenv("FAKE_TOOL_BEHAVIOUR");
    qputenv("FAKE_TOOL_ARGV", QFile::encodeName(mWork->filePath("argv")));
}

void TestTaskLifecycle::cleanup()
{
    // Nothing of a run stays in the temporary location: no working folder, no progress file.
    QStringList left;
    QDirIterator it(mTempDir, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        left << it.next();
    QStringList folders = QDir(mTempDir).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
    left << folders.filter(QRegularExpression("^(?!nerova-progress-)"));
    QCOMPARE(left, QStringList());
    mWork.reset();
}

QStringList TestTaskLifecycle::receivedArguments() const
{
    const QByteArray recorded = readAll(mWork->filePath("argv"));
    QStringList arguments;
    for (const QByteArray& argument : recorded.split('\0'))
        arguments << QString::fromUtf8(argument);
    if (!arguments.isEmpty())
        arguments.removeLast(); // every argument ends in a NUL
    return arguments;
}

void TestTaskLifecycle::lifecycle_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<Scenario>("scenario");
    const QList<QPair<const char*, Scenario>> scenarios{
        {"finish", Scenario::Finish},
        {"abort before start", Scenario::AbortBeforeStart},
        {"abort after finish", Scenario::AbortAfterFinish},
        {"dropped from its own signal", Scenario::DropInSlot},
        {"abort", Scenario::Abort},
        {"abort twice", Scenario::AbortTwice},
        {"destroy while running", Scenario::Destroy},
        {"tool missing", Scenario::ToolMissing},
        {"tool cannot start", Scenario::ToolUnstartable},
        {"tool crashes", Scenario::ToolCrashes},
        {"second start while running", Scenario::SecondStart}};
    for (const QString suffix : {"jpg", "png", "webp", "mp4"}) {
        for (const auto& [name, scenario] : scenarios)
            QTest::newRow(qPrintable(suffix + ": " + name)) << suffix << scenario;
    }
}

void TestTaskLifecycle::lifecycle()
{
    QFETCH(QString, suffix);
    QFETCH(Scenario, scenario);
    const bool video = suffix == "mp4";
    const bool setsRunningFirst = suffix == "webp" || video; // before the tool is even looked for
    const QString source = video ? mVideo : mImage;
    const QString output = mWork->filePath("out/result." + suffix);
    QVERIFY(writeAll(output, userBytes));

    const bool delivers = scenario == Scenario::Finish || scenario == Scenario::AbortBeforeStart ||
                          scenario == Scenario::AbortAfterFinish || scenario == Scenario::DropInSlot;
    const bool hangs = !delivers && scenario != Scenario::ToolCrashes && scenario != Scenario::ToolMissing &&
                       scenario != Scenario::ToolUnstartable;
    // A video run counts only when its result reads back as a video: the fake hands back the source.
    const char* finishes = video ? "copy" : "exit:0";
    qputenv("FAKE_TOOL_BEHAVIOUR", scenario == Scenario::ToolCrashes ? "crash" : hangs ? "hang" : finishes);
    if (scenario == Scenario::ToolMissing)
        QVERIFY(QFile::remove(toolPath(suffix)));
    if (scenario == Scenario::ToolUnstartable)
        QVERIFY(QFile::setPermissions(toolPath(suffix), QFile::ReadOwner | QFile::WriteOwner));

    QSharedPointer<ICompressTask> task =
        CompressorEntry()->createCompressTask({{"inputPath", source}, {"outputPath", output}});
    auto* base = static_cast<CompressTask*>(task.data());
    QSignalSpy finished(task.data(), &ICompressTask::compressFinished);
    QVERIFY(finished.isValid());
    int statusSeenBySlot = -1;
    connect(task.data(), &ICompressTask::compressFinished, this, [&] {
        statusSeenBySlot = base->status();
        if (scenario == Scenario::DropInSlot)
            task.reset();
    });

    if (scenario == Scenario::AbortBeforeStart)
        task->abortTask();
    const bool started = task->startTask();
    QCOMPARE(started, scenario != Scenario::ToolMissing);
    if (scenario == Scenario::ToolMissing) {
        QCOMPARE(base->status(), setsRunningFirst ? int(CompressTask::StatusRunning) : 0);
    } else if (scenario == Scenario::Destroy) {
        task.reset();
    } else if (hangs) {
        QTRY_VERIFY(QFileInfo::exists(mWork->filePath("argv"))); // the tool really runs
        if (scenario == Scenario::SecondStart)
            QVERIFY(!task->startTask());
        task->abortTask();
        if (scenario == Scenario::AbortTwice)
            task->abortTask();
    }
    if (started && task)
        QTRY_COMPARE(finished.count(), 1);
    const QByteArray delivered = readAll(output);
    if (scenario == Scenario::AbortAfterFinish)
        task->abortTask();
    if (scenario == Scenario::DropInSlot) {
        QTRY_VERIFY(finished.count() == 1 && task.isNull());
        QTest::qWait(50); // the released process object goes through the event loop
    }
    QCoreApplication::processEvents(); // lets a stray second signal show up
    QCOMPARE(finished.count(), started && scenario != Scenario::Destroy ? 1 : 0);

    // The user's file stays unless a run finished; only its result ever replaces it.
    QCOMPARE(readAll(output), delivers ? delivered : userBytes);
    QVERIFY(!delivers || delivered != userBytes);
    QCOMPARE(QDir(mWork->filePath("out")).entryList(QDir::Files | QDir::Hidden),
             QStringList{"result." + suffix});
    if (!task || finished.isEmpty())
        return;

    const int code = finished.first().at(0).toInt();
    const QString text = finished.first().at(1).toString();
    const bool imageTask = !video;
    switch (scenario) {
    case Scenario::Finish:
    case Scenario::AbortBeforeStart:
    case Scenario::AbortAfterFinish:
        QCOMPARE(code, 0);
        QCOMPARE(text, suffix == "jpg" || suffix == "png" ? QString() : FinishCode::successfulText());
        break;
    case Scenario::Abort:
    case Scenario::AbortTwice:
    case Scenario::SecondStart:
        QCOMPARE(code, imageTask ? FinishCode::Aborted : 9); // ffmpeg's signal number for a video
        break;
    case Scenario::ToolCrashes:
        QCOMPARE(code, imageTask ? FinishCode::ToolCrashed : 6);
        break;
    case Scenario::ToolUnstartable:
        QCOMPARE(code, FinishCode::ToolFailedToStart);
        break;
    default:
        break;
    }
    // The status is stored after compressFinished: its receivers still see the run as running.
    QCOMPARE(statusSeenBySlot, int(CompressTask::StatusRunning));
    QCOMPARE(base->status(), int(code == 0 ? CompressTask::StatusSucceeded : CompressTask::StatusFailed));
    QVERIFY(base->isFinished());
}

void TestTaskLifecycle::argumentsReachTheToolWhole_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QString>("name");         // of both the source and the output
    QTest::addColumn<QString>("quality");      // empty: left out of the request
    QTest::addColumn<QString>("threads");      // the "threads" key; empty: left out
    QTest::addColumn<QStringList>("expected"); // around the paths: what the tool must receive
    QTest::addColumn<QString>("ompThreads");   // pngquant's OpenMP share; empty: not set

    const QString odd = "-dash \"quoted\" two  blanks";
    const QString third = QString::number((QThread::idealThreadCount() + 2) / 3);
    QTest::newRow("jpg, default quality")
        << "jpg" << odd << ""
        << "" << QStringList{"-outfile", "-quality", "75", "-baseline"} << "";
    QTest::newRow("png, default quality") << "png" << odd << ""
                                          << "" << QStringList{"--quality", "0-80", "--force", "-o"} << "";
    QTest::newRow("png, a share of the processors") << "png"
                                                    << "plain"
                                                    << "60"
                                                    << "1" << QStringList{"--quality", "0-60"} << "1";
    QTest::newRow("webp, default quality")
        << "webp" << odd << ""
        << "" << QStringList{"-i", "-y", "-c:v", "libwebp", "-quality", "75"} << "";
    QTest::newRow("webp, quality 40, one thread")
        << "webp"
        << "plain"
        << "40"
        << "1" << QStringList{"-i", "-y", "-c:v", "libwebp", "-quality", "40", "-threads", "1"} << "";
    QTest::newRow("mp4, default quality and preset")
        << "mp4" << odd << ""
        << "" << QStringList{"-preset", "medium", "-crf", "23", "-threads", third} << "";
    QTest::newRow("mp4, every processor") << "mp4"
                                          << "plain"
                                          << ""
                                          << "0" << QStringList{"-threads", "0"} << "";
}

void TestTaskLifecycle::argumentsReachTheToolWhole()
{
    QFETCH(QString, suffix);
    QFETCH(QString, name);
    QFETCH(QString, quality);
    QFETCH(QString, threads);
    QFETCH(QStringList, expected);
    QFETCH(QString, ompThreads);

    const QString source = mWork->filePath(name + (suffix == "mp4" ? ".mp4" : ".png"));
    QVERIFY(QFile::copy(suffix == "mp4" ? mVideo : mImage, source));
    const QString output = mWork->filePath("out/" + name + "." + suffix);
    QVariantMap request{{"inputPath", source}, {"outputPath", output}};
    if (!quality.isEmpty())
        request.insert("quality", quality);
    if (!threads.isEmpty())
        request.insert("threads", threads);
    qputenv("FAKE_TOOL_BEHAVIOUR", "exit:0");

    const auto task = CompressorEntry()->createCompressTask(request);
    QSignalSpy finished(task.data(), &ICompressTask::compressFinished);
    QVERIFY(finished.isValid());
    QVERIFY(task->startTask());
    QVERIFY(finished.wait(20000));

    const QStringList received = receivedArguments();
    // Every expected word arrives as one argument, in order, and no value is ever empty.
    int from = 0;
    for (const QString& word : expected) {
        const int at = received.indexOf(word, from);
        QVERIFY2(at >= 0, qPrintable(word + " missing from " + received.join('|')));
        from = at + 1;
    }
    QVERIFY(!received.contains(QString()));
    QCOMPARE(QString::fromUtf8(readAll(mWork->filePath("argv.omp"))), ompThreads);
    // The paths arrive whole: the working copy's for the image tools that work on one, else the user's.
    if (suffix == "webp" || suffix == "mp4") {
        QVERIFY(received.contains(QFileInfo(source).absoluteFilePath()));
        QVERIFY(received.contains(QFileInfo(output).absoluteFilePath()));
    } else {
        QCOMPARE(received.filter("temporaryImage_").size(), 2);
    }
}

QTEST_GUILESS_MAIN(TestTaskLifecycle)
#include "tst_tasklifecycle.moc"
