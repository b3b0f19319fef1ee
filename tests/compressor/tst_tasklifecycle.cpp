// Guards the life and delivery rules every task shares, with a fake tool as cJpeg, pngquant and ffmpeg.

#include "MediaFixtures.h"
#include "TaskRun.h"

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
const QByteArray userBytes = "the user's own file";
// The first four deliver a result (a finished task then runs once more); the tool hangs in the next four.
// clang-format off
const QStringList scenarios{"finish", "abort before start", "abort after finish", "dropped in its signal",
    "abort", "abort twice", "destroy", "second start", "tool missing", "tool cannot start", "tool crashes"};
// clang-format on
} // namespace

class TestTaskLifecycle : public QObject
{
    Q_OBJECT

    QTemporaryDir mFixtures;
    QString mVideo, mImage, mTempDir;
    std::unique_ptr<QTemporaryDir> mWork;

    static QString toolPath(const QString& suffix)
    {
        const QString name = suffix == "jpg" ? "cJpeg" : suffix == "png" ? "pngquant" : "ffmpeg";
        return QCoreApplication::applicationDirPath() + "/" + name;
    }
    QString path(const QString& name) const { return mWork->filePath(name); }
    // A JPEG or PNG task's source: the format's magic and some bytes, larger than the fake's result.
    QString fakeImage(const QString& format)
    {
        const QString source = path("source." + format);
        const QByteArray magic =
            format == "png" ? QByteArray("\x89PNG\r\n\x1a\n") : QByteArray("\xff\xd8\xff");
        writeAll(source, magic + QByteArray(1000, 's'));
        return source;
    }

private slots:
    void initTestCase()
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

    void init()
    {
        for (const QString suffix : {"jpg", "png", "mp4"}) {
            QFile::remove(toolPath(suffix));
            QVERIFY(QFile::copy(QStringLiteral(FAKE_TOOL_PATH), toolPath(suffix)));
        }
        mWork = std::make_unique<QTemporaryDir>(mFixtures.filePath("work-XXXXXX"));
        QVERIFY(mWork->isValid());
        QVERIFY(QDir().mkpath(path("out")));
        qputenv("FAKE_TOOL_BEHAVIOUR", "exit:0");
        qputenv("FAKE_TOOL_ARGV", QFile::encodeName(path("argv")));
    }

    void cleanup()
    {
        // Nothing of a run stays in the temporary location: no working folder, no progress file.
        QStringList left;
        QDirIterator it(mTempDir, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
        while (it.hasNext())
            left << it.next();
        const QStringList folders =
            QDir(mTempDir).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
        left << folders.filter(QRegularExpression("^(?!nerova-progress-)"));
        QCOMPARE(left, QStringList());
        mWork.reset();
    }

    void lifecycle_data()
    {
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<QString>("scenario");
        for (const QString suffix : {"jpg", "png", "webp", "mp4"}) {
            for (const QString& scenario : scenarios)
                QTest::newRow(qPrintable(suffix + ": " + scenario)) << suffix << scenario;
        }
    }

    void lifecycle()
    {
        QFETCH(QString, suffix);
        QFETCH(QString, scenario);
        const bool video = suffix == "mp4";
        const bool setsRunningFirst = suffix == "webp" || video; // before the tool is even looked for
        const QString output = path("out/result." + suffix);
        QVERIFY(writeAll(output, userBytes));

        const bool delivers = scenarios.indexOf(scenario) < 4;
        const bool hangs = !delivers && scenarios.indexOf(scenario) < 8;
        // A video run counts only when its result reads back as a video: the fake hands back the source.
        const char* finishes = video ? "copy" : "exit:0";
        qputenv("FAKE_TOOL_BEHAVIOUR", scenario == "tool crashes" ? "crash" : hangs ? "hang" : finishes);
        if (scenario == "tool missing")
            QVERIFY(QFile::remove(toolPath(suffix)));
        if (scenario == "tool cannot start")
            QVERIFY(QFile::setPermissions(toolPath(suffix), QFile::ReadOwner | QFile::WriteOwner));

        QSharedPointer<ICompressTask> task = newTask(video ? mVideo : mImage, output);
        CompressTask* base = compressTask(task);
        QSignalSpy finished(task.data(), &ICompressTask::compressFinished);
        QVERIFY(finished.isValid());
        int statusSeenBySlot = -1;
        connect(task.data(), &ICompressTask::compressFinished, this, [&] {
            statusSeenBySlot = base->status();
            if (scenario == "dropped in its signal")
                task.reset();
        });

        if (scenario == "abort before start")
            task->abortTask();
        const bool started = task->startTask();
        QCOMPARE(started, scenario != "tool missing");
        if (scenario == "tool missing") {
            QCOMPARE(base->status(), setsRunningFirst ? int(CompressTask::StatusRunning) : 0);
        } else if (scenario == "destroy") {
            task.reset();
        } else if (hangs) {
            QTRY_VERIFY(QFileInfo::exists(path("argv"))); // the tool really runs
            if (scenario == "second start")
                QVERIFY(!task->startTask());
            task->abortTask();
            if (scenario == "abort twice")
                task->abortTask();
        }
        if (started && task)
            QTRY_COMPARE(finished.count(), 1);
        const QByteArray delivered = readAll(output);
        if (scenario == "abort after finish")
            task->abortTask();
        if (scenario == "dropped in its signal") {
            QTRY_VERIFY(finished.count() == 1 && task.isNull());
            QTest::qWait(50); // the released process object goes through the event loop
        }
        QCoreApplication::processEvents(); // lets a stray second signal show up
        QCOMPARE(finished.count(), started && scenario != "destroy" ? 1 : 0);

        // The user's file stays unless a run finished; only its result ever replaces it.
        QCOMPARE(readAll(output), delivers ? delivered : userBytes);
        QVERIFY(!delivers || delivered != userBytes);
        QCOMPARE(QDir(path("out")).entryList(QDir::Files | QDir::Hidden), QStringList{"result." + suffix});
        if (!task || finished.isEmpty())
            return;

        const int code = finished.first().at(0).toInt();
        const QString text = finished.first().at(1).toString();
        if (delivers) {
            QCOMPARE(code, 0);
            QCOMPARE(text, suffix == "jpg" || suffix == "png" ? QString() : FinishCode::successfulText());
        } else if (hangs) {
            QCOMPARE(code, video ? 9 : FinishCode::Aborted); // ffmpeg's signal number for a video
        } else if (scenario == "tool crashes") {
            QCOMPARE(code, video ? 6 : FinishCode::ToolCrashed);
        } else {
            QCOMPARE(code, FinishCode::ToolFailedToStart);
        }
        // The status is stored after compressFinished: its receivers still see the run as running.
        QCOMPARE(statusSeenBySlot, int(CompressTask::StatusRunning));
        QCOMPARE(base->status(), int(code == 0 ? CompressTask::StatusSucceeded : CompressTask::StatusFailed));
        QVERIFY(base->isFinished());
        if (scenario == "finish") {
            QVERIFY(task->startTask());
            QTRY_COMPARE(finished.count(), 2);
            QCOMPARE(finished.last().at(0).toInt(), 0);
        }
    }

    // How a JPEG or PNG task ends for each way its tool can end, and for request values that could pass
    // for an option or for more than one argument, which never reach a tool.
    void delivery_data()
    {
        QTest::addColumn<QString>("suffix");       // jpg (cJpeg) or png (pngquant)
        QTest::addColumn<QString>("sourceFormat"); // what the source's content is
        QTest::addColumn<QString>("behaviour");
        QTest::addColumn<QString>("request"); // key=value added to the request
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("output"); // what the output path holds: user's, source's, tool's result

        const int refused = FinishCode::InvalidRequest;
        // clang-format off
        QTest::newRow("result, exit 3") << "jpg" << "jpg" << "exit:3" << "" << 3 << "user";
        QTest::newRow("unreadable") << "jpg" << "jpg" << "exit:1" << "" << 1 << "user";
        QTest::newRow("unreadable, no result") << "jpg" << "jpg" << "nooutput:1" << "" << 1 << "user";
        QTest::newRow("no result") << "jpg" << "jpg" << "nooutput:7" << "" << 2 << "user";
        QTest::newRow("no result, exit 0") << "jpg" << "jpg" << "nooutput:0" << "" << 2 << "user";
        QTest::newRow("empty result") << "jpg" << "jpg" << "empty" << "" << 2 << "user";
        QTest::newRow("larger result") << "jpg" << "jpg" << "big" << "" << 0 << "source";
        QTest::newRow("larger result from a PNG") << "jpg" << "png" << "big" << "" << 0 << "result";
        QTest::newRow("pngquant result") << "png" << "png" << "exit:0" << "" << 0 << "result";
        QTest::newRow("pngquant cannot read") << "png" << "png" << "nooutput:25" << "" << 1 << "user";
        QTest::newRow("quality floor") << "png" << "png" << "nooutput:99" << "" << 99 << "source";
        QTest::newRow("quality floor, JPEG source") << "png" << "jpg" << "nooutput:99" << "" << 2 << "user";
        QTest::newRow("two values") << "jpg" << "jpg" << "exit:0" << "quality=75 -o x" << refused << "user";
        QTest::newRow("option") << "jpg" << "jpg" << "exit:0" << "quality=-progressive" << refused << "user";
        QTest::newRow("quote") << "jpg" << "jpg" << "exit:0" << "quality=7\"5" << refused << "user";
        for (const QString size : {"0", "-300000", "300k", "1.5"})
            QTest::newRow(qPrintable("target size " + size))
                << "png" << "png" << "exit:0" << "targetSize=" + size << refused << "user";
        // clang-format on
    }

    void delivery()
    {
        QFETCH(QString, suffix);
        QFETCH(QString, sourceFormat);
        QFETCH(QString, behaviour);
        QFETCH(QString, request);
        QFETCH(int, code);
        QFETCH(QString, output);
        qputenv("FAKE_TOOL_BEHAVIOUR", behaviour.toUtf8());
        const QString source = fakeImage(sourceFormat);
        const QString out = path("out/result." + suffix);
        QVERIFY(writeAll(out, userBytes));

        QVariantMap extra;
        if (!request.isEmpty())
            extra.insert(request.section('=', 0, 0), request.section('=', 1));
        const auto task = newTask(source, out, extra);
        const TaskResult result = runTask(*task);
        QCOMPARE(result.started, code != FinishCode::InvalidRequest);
        QCOMPARE(QFileInfo::exists(path("argv")), result.started);
        QCOMPARE(result.finishCount, 1);
        QCOMPARE(result.code, code);
        QCOMPARE(result.text, code == 1                            ? FinishCode::corruptSourceText()
                              : code == FinishCode::InvalidRequest ? FinishCode::invalidRequestText()
                                                                   : QString());
        const QByteArray delivered = readAll(out);
        if (output == "user")
            QCOMPARE(delivered, userBytes);
        else if (output == "source")
            QCOMPARE(delivered, readAll(source));
        else
            QVERIFY(delivered != userBytes && delivered != readAll(source) && !delivered.isEmpty());
        QCOMPARE(compressTask(task)->status(),
                 int(code == 0 ? CompressTask::StatusSucceeded : CompressTask::StatusFailed));
    }

    // A result takes the place of the user's file as that file was: through a link to the file it names,
    // and with the file's own permissions.
    void resultKeepsTheOutputsLinkAndPermissions()
    {
        const QString out = path("out/result.jpg"), linked = path("elsewhere.jpg");
        const auto permissions = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther;
        QVERIFY(writeAll(out, userBytes) && writeAll(linked, userBytes));
        QVERIFY(QFile::setPermissions(out, permissions));
        const auto before = QFile::permissions(out);
        QVERIFY(QFile::link(linked, path("out/link.jpg")));

        QCOMPARE(runTask(*newTask(fakeImage("jpg"), out)).code, 0);
        QCOMPARE(QFile::permissions(out), before);
        QCOMPARE(runTask(*newTask(fakeImage("jpg"), path("out/link.jpg"))).code, 0);
        QVERIFY(QFileInfo(path("out/link.jpg")).isSymLink());
        QCOMPARE(readAll(linked), readAll(out));
    }

    // A task that writes its output in place of the user's never takes its own source for it, however named.
    void outputThatIsTheSourceIsRefused_data()
    {
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<QString>("output");
        for (const QString suffix : {"webp", "mp4"}) {
            for (const QString output : {"source.", "link.", "./source."})
                QTest::newRow(qPrintable(suffix + ": " + output + suffix)) << suffix << output + suffix;
        }
    }

    void outputThatIsTheSourceIsRefused()
    {
        QFETCH(QString, suffix);
        QFETCH(QString, output);
        const QString source = path("source." + suffix), original = suffix == "mp4" ? mVideo : mImage;
        QVERIFY(QFile::copy(original, source));
        QVERIFY(QFile::link(source, path("link." + suffix)));
        const TaskResult result = runTask(*newTask(source, path(output)));
        QCOMPARE(result.finishCount, 1);
        QCOMPARE(result.code, FinishCode::OutputIsSource);
        QCOMPARE(readAll(source), readAll(original));
        QVERIFY(!QFileInfo::exists(path("argv")));
    }

    void argumentsReachTheToolWhole_data()
    {
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<QString>("name");         // of both the source and the output
        QTest::addColumn<QVariantMap>("request");  // besides the paths
        QTest::addColumn<QStringList>("expected"); // around the paths: what the tool must receive, in order
        QTest::addColumn<QString>("ompThreads");   // pngquant's OpenMP share; empty: not set

        const QString odd = "-dash \"quoted\" two  blanks é";
        const QString third = QString::number((QThread::idealThreadCount() + 2) / 3);
        using Words = QStringList;
        // clang-format off
        QTest::newRow("jpg, default quality") << "jpg" << odd << QVariantMap()
            << Words{"-outfile", "-quality", "75", "-baseline"} << "";
        QTest::newRow("png, default quality, one processor") << "png" << odd << QVariantMap{{"threads", "1"}}
            << Words{"--quality", "0-80", "--force", "-o"} << "1";
        QTest::newRow("webp, quality 40, one thread") << "webp" << "plain"
            << QVariantMap{{"quality", "40"}, {"threads", "1"}}
            << Words{"-i", "-y", "-c:v", "libwebp", "-quality", "40", "-threads", "1"} << "";
        QTest::newRow("mp4, default quality and preset") << "mp4" << odd << QVariantMap()
            << Words{"-preset", "medium", "-crf", "23", "-threads", third} << "";
        QTest::newRow("mp4, every processor") << "mp4" << "plain" << QVariantMap{{"threads", "0"}}
            << Words{"-threads", "0"} << "";
        // clang-format on
    }

    void argumentsReachTheToolWhole()
    {
        QFETCH(QString, suffix);
        QFETCH(QString, name);
        QFETCH(QVariantMap, request);
        QFETCH(QStringList, expected);
        QFETCH(QString, ompThreads);
        const QString source = path(name + (suffix == "mp4" ? ".mp4" : ".png"));
        QVERIFY(QFile::copy(suffix == "mp4" ? mVideo : mImage, source));
        const QString output = path("out/" + name + "." + suffix);
        QCOMPARE(runTask(*newTask(source, output, request)).finishCount, 1);

        QStringList received; // what the fake tool received, each argument ended by a NUL
        for (const QByteArray& argument : readAll(path("argv")).split('\0'))
            received << QString::fromUtf8(argument);
        received.removeLast();
        // Every expected word arrives as one argument, in order, and no value is ever empty.
        int from = 0;
        for (const QString& word : expected) {
            const int at = received.indexOf(word, from);
            QVERIFY2(at >= 0, qPrintable(word + " missing from " + received.join('|')));
            from = at + 1;
        }
        QVERIFY(!received.contains(QString()));
        QCOMPARE(QString::fromUtf8(readAll(path("argv.omp"))), ompThreads);
        // The paths arrive whole: the working copy's for the image tools that work on one, else the user's.
        if (suffix == "webp" || suffix == "mp4") {
            QVERIFY(received.contains(QFileInfo(source).absoluteFilePath()));
            QVERIFY(received.contains(QFileInfo(output).absoluteFilePath()));
        } else {
            QCOMPARE(received.filter("temporaryImage_").size(), 2);
        }
    }
};

QTEST_GUILESS_MAIN(TestTaskLifecycle)
#include "tst_tasklifecycle.moc"
