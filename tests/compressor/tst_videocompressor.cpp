// Video tasks: ffmpeg argument lists for generated sources, real encodes and previews with progress,
// aborts, and the exit codes a fake ffmpeg forces.

#include "MediaFixtures.h"
#include "TaskRun.h"

#include <NerovaDec/FFDemuxer.h>
#include <NerovaDec/StreamInfo.h>
#include <base/Config.h>
#include <base/Helpers.h>
#include <compressor/CompressTask.h>
#include <compressor/FinishCode.h>
#include <compressor/ICompressor.h>
#include <compressor/TimeEstimate.h>
#include <compressor/VideoCompressor.h>

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <thread>

using namespace MediaFixtures;

namespace {

QString quoted(const QString& path)
{
    return QLatin1Char('"') + path + QLatin1Char('"');
}

QString threadCount()
{
    return QString::number(int(std::ceil(float(std::thread::hardware_concurrency()) / 3.0f)));
}

// The streams of a file as ffprobe reports them.
QJsonArray probeStreams(const QString& path)
{
    QByteArray output;
    if (!run(ffprobe(), {"-v", "error", "-print_format", "json", "-show_streams", path}, &output))
        return {};
    return QJsonDocument::fromJson(output).object().value("streams").toArray();
}

double probeDuration(const QString& path)
{
    QByteArray output;
    run(ffprobe(), {"-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0", path}, &output);
    return output.trimmed().toDouble();
}

} // namespace

class TestVideoCompressor : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void requestValuesAreText();
    void encodeList_data();
    void encodeList();
    void previewList_data();
    void previewList();
    void hardwareList();
    void progressFilesAreNumberedPerProcess();
    void closestNumberRule_data();
    void closestNumberRule();
    void estimatesARawStream();
    void vobProgressCoversEveryChapter();

    void encodesToEachContainer_data();
    void encodesToEachContainer();
    void previewIsFifteenSeconds();
    void abortInTheMiddle();
    void exitCodes_data();
    void exitCodes();
    void ffmpegFromConfiguration();
    void refusesToWriteOntoItsSource();
    void keepsTheUsersFileWhenTheRunFails();

private:
    QString fixture(const QString& name) const { return mFixtures.filePath(name); }
    QString path(const QString& name) const { return mWork->filePath(name); }
    QSharedPointer<ICompressTask> makeTask(const QString& input, const QString& output,
                                           const QVariantMap& extra = {});
    QString fakeFfmpegFolder();

    QTemporaryDir mFixtures;
    std::unique_ptr<QTemporaryDir> mWork;
};

void TestVideoCompressor::initTestCase()
{
    QVERIFY(mFixtures.isValid());
    const QString audio = "sine=frequency=440:duration=%1";
    const QString video = "testsrc2=size=%1:rate=25:duration=%2";
    // Two seconds of video with two audio tracks.
    QVERIFY(run(ffmpeg(), {"-v",         "error",      "-f",
                           "lavfi",      "-i",         video.arg("320x240").arg(2),
                           "-f",         "lavfi",      "-i",
                           audio.arg(2), "-f",         "lavfi",
                           "-i",         audio.arg(2), "-map",
                           "0",          "-map",       "1",
                           "-map",       "2",          "-c:v",
                           "libx264",    "-preset",    "ultrafast",
                           "-c:a",       "aac",        fixture("twoaudio.mkv")}));
    // One audio track.
    QVERIFY(run(ffmpeg(), {"-v", "error", "-i", fixture("twoaudio.mkv"), "-map", "0:v", "-map", "0:a:0", "-c",
                           "copy", fixture("oneaudio.mkv")}));
    // Two audio tracks and a text subtitle track.
    QVERIFY(writeAll(fixture("subs.srt"), "1\n00:00:00,000 --> 00:00:01,500\nHello\n"));
    QVERIFY(run(ffmpeg(), {"-v", "error", "-i", fixture("twoaudio.mkv"), "-i", fixture("subs.srt"), "-map",
                           "0", "-map", "1", "-c", "copy", "-c:s", "srt", fixture("textsubs.mkv")}));
    // One audio track and one text subtitle.
    QVERIFY(
        run(ffmpeg(), {"-v", "error", "-i", fixture("twoaudio.mkv"), "-i", fixture("subs.srt"), "-map", "0:v",
                       "-map", "0:a:0", "-map", "1", "-c", "copy", "-c:s", "srt", fixture("onesub.mkv")}));
    // An odd width, one frame.
    QVERIFY(run(ffmpeg(), {"-v", "error", "-f", "lavfi", "-i", video.arg("1918x1080").arg(0.2), "-c:v",
                           "libx264", "-preset", "ultrafast", fixture("wide.mp4")}));
    // Rotated by a display matrix.
    QVERIFY(run(ffmpeg(), {"-v", "error", "-f", "lavfi", "-i", video.arg("320x240").arg(1), "-c:v", "libx264",
                           "-preset", "ultrafast", fixture("rotated.mp4")}));
    QVERIFY(setMp4Rotation(fixture("rotated.mp4"), 90));
    // A cover picture as the first video stream, then the real video.
    QVERIFY(makeImage(fixture("cover.png"), "color=c=blue:size=64x64"));
    QVERIFY(run(ffmpeg(), {"-v",
                           "error",
                           "-i",
                           fixture("cover.png"),
                           "-f",
                           "lavfi",
                           "-i",
                           video.arg("320x240").arg(2),
                           "-map",
                           "0",
                           "-map",
                           "1",
                           "-c:v:0",
                           "png",
                           "-c:v:1",
                           "libx264",
                           "-preset",
                           "ultrafast",
                           "-disposition:v:0",
                           "attached_pic",
                           fixture("cover.mp4")}));
    // A raw H.264 stream: no container duration.
    QVERIFY(run(ffmpeg(), {"-v", "error", "-f", "lavfi", "-i", video.arg("160x120").arg(4), "-c:v", "libx264",
                           "-preset", "ultrafast", "-f", "h264", fixture("raw.h264")}));
    // Two program streams joined byte for byte: a VOB whose clocks restart in the middle.
    QByteArray vob;
    for (const int seconds : {3, 2}) {
        const QString part = fixture(QString("part%1.vob").arg(seconds));
        QVERIFY(run(ffmpeg(), {"-v", "error", "-f", "lavfi", "-i", video.arg("320x240").arg(seconds), "-f",
                               "lavfi", "-i", audio.arg(seconds), "-c:v", "mpeg2video", "-b:v", "1500k",
                               "-c:a", "ac3", "-f", "vob", part}));
        vob += readAll(part);
    }
    QVERIFY(writeAll(fixture("joined.vob"), vob));
    // A longer source for previews and aborts.
    QVERIFY(run(ffmpeg(), {"-v", "error", "-f", "lavfi", "-i", video.arg("320x240").arg(40), "-f", "lavfi",
                           "-i", audio.arg(40), "-c:v", "libx264", "-preset", "ultrafast", "-c:a", "aac",
                           fixture("long.mp4")}));
}

void TestVideoCompressor::init()
{
    mWork = std::make_unique<QTemporaryDir>();
    QVERIFY(mWork->isValid());
    Nerova::getConfig()[kFFmpegPath] = QString();
}

void TestVideoCompressor::cleanup()
{
    Nerova::getConfig()[kFFmpegPath] = QString();
    Nerova::GpuModel::setGpuModelNameList({});
    QCOMPARE(entriesStartingWith(mWork->path(), "."), QStringList()); // nothing left set aside
    QCOMPARE(QDir(VideoCompressor::progressDirectory()).entryList(QDir::Files), QStringList());
    mWork.reset();
}

QSharedPointer<ICompressTask> TestVideoCompressor::makeTask(const QString& input, const QString& output,
                                                            const QVariantMap& extra)
{
    QVariantMap request{
        {"inputPath", input}, {"outputPath", output}, {"quality", 30}, {"preset", "ultrafast"}};
    for (auto it = extra.cbegin(); it != extra.cend(); ++it)
        request.insert(it.key(), it.value());
    return CompressorEntry()->createCompressTask(request);
}

QString TestVideoCompressor::fakeFfmpegFolder()
{
    const QString dir = path("fake");
    QDir().mkpath(dir);
    QFile::link(QStringLiteral(FAKE_TOOL_PATH), dir + "/ffmpeg");
    return dir;
}

void TestVideoCompressor::requestValuesAreText()
{
    VideoCompressor task({{"inputPath", "/in/a.mkv"}, {"outputPath", "/out/a.mp4"}, {"quality", 28}});
    QCOMPARE(task.status(), 0);
    const QStringList list = task.makeVideoPreviewParam({});
    QVERIFY(list.isEmpty()); // the source does not exist
    QCOMPARE(CompressorEntry()->createCompressTask({{"outputPath", "/out/a"}})->metaObject()->className(),
             "VideoCompressor");
}

void TestVideoCompressor::encodeList_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("outputName");
    QTest::addColumn<QString>("scale");
    QTest::addColumn<QStringList>("middle"); // the elements between "-pix_fmt yuv420p" and "-preset"
    QTest::addColumn<QString>("size");

    QTest::newRow("two audio tracks")
        << "twoaudio.mkv"
        << "out.mp4"
        << "2" << QStringList{"-c:a aac", "-map 0:v:0 -map 0:a"} << "scale=160:120";
    QTest::newRow("text subtitles") << "textsubs.mkv"
                                    << "out.mkv"
                                    << "1"
                                    << QStringList{"-c:a aac", "-map 0:v:0 -map 0:a -map 0:s -c:s copy"}
                                    << "scale=320:240";
    QTest::newRow("one text subtitle") << "onesub.mkv"
                                       << "out.m2ts"
                                       << "" << QStringList{"-c:a ac3", "-c:s copy"} << "scale=320:240";
    QTest::newRow("avi, scale 1 rounds") << "wide.mp4"
                                         << "out.avi"
                                         << "1" << QStringList{"-c:a mp3"} << "scale=1920:1080";
    QTest::newRow("scale 2 rounds") << "wide.mp4"
                                    << "out.flv"
                                    << "2" << QStringList{"-c:a mp3"} << "scale=960:540";
    QTest::newRow("scale 4, tie away from zero") << "wide.mp4"
                                                 << "out.ts"
                                                 << "4" << QStringList{} << "scale=480:272";
    QTest::newRow("scale 3 keeps the size") << "wide.mp4"
                                            << "out.mov"
                                            << "3" << QStringList{"-c:a aac"} << "scale=1918:1080";
    QTest::newRow("no scale keeps the size") << "wide.mp4"
                                             << "out.mkv"
                                             << "" << QStringList{"-c:a aac"} << "scale=1918:1080";
    QTest::newRow("rotation swaps the size") << "rotated.mp4"
                                             << "out.mp4"
                                             << "1" << QStringList{"-c:a aac"} << "scale=240:320";
    QTest::newRow("cover picture first") << "cover.mp4"
                                         << "out.mkv"
                                         << "1" << QStringList{"-c:a aac"} << "scale=320:240";
}

void TestVideoCompressor::encodeList()
{
    QFETCH(QString, source);
    QFETCH(QString, outputName);
    QFETCH(QString, scale);
    QFETCH(QStringList, middle);
    QFETCH(QString, size);

    VideoCompressor task({{"inputPath", fixture(source)},
                          {"outputPath", path(outputName)},
                          {"quality", "23"},
                          {"preset", "medium"},
                          {"scale", scale}});
    const QStringList list = task.makeVideoCompressParam({});
    QVERIFY(!list.isEmpty());
    const QString progressPath = list.last().mid(1, list.last().size() - 2);
    QStringList expected{"-i", quoted(fixture(source)), "-c:v libx264", "-pix_fmt yuv420p"};
    expected << middle << "-preset"
             << "medium"
             << "-crf"
             << "23"
             << "-vf" << size << "-y"
             << "-threads" << threadCount() << quoted(path(outputName)) << "-progress"
             << quoted(progressPath);
    if (list != expected)
        qWarning() << list;
    QCOMPARE(list, expected);
    QCOMPARE(QFileInfo(progressPath).path(), VideoCompressor::progressDirectory());
    QVERIFY(QFileInfo(progressPath).fileName().startsWith("progress_"));
}

void TestVideoCompressor::previewList_data()
{
    QTest::addColumn<QString>("scale");
    QTest::addColumn<QStringList>("sizeElements");
    QTest::newRow("scale 1: no filter") << "1" << QStringList{};
    QTest::newRow("scale 2") << "2" << QStringList{"-vf", "scale=960:540"};
    QTest::newRow("scale 4") << "4" << QStringList{"-vf", "scale=480:272"};
    QTest::newRow("no scale") << "" << QStringList{};
}

void TestVideoCompressor::previewList()
{
    QFETCH(QString, scale);
    QFETCH(QStringList, sizeElements);
    VideoCompressor task({{"inputPath", fixture("wide.mp4")},
                          {"outputPath", path("p.mp4")},
                          {"quality", "23"},
                          {"preset", "fast"},
                          {"scale", scale}});
    const QStringList list = task.makeVideoPreviewParam({});
    QVERIFY(!list.isEmpty());
    QStringList expected{"-i", quoted(fixture("wide.mp4")), "-c:v libx264", "-preset", "fast", "-crf", "23"};
    expected << sizeElements << "-y"
             << "-t 15" << quoted(path("p.mp4")) << "-progress" << list.last();
    QCOMPARE(list, expected);
}

void TestVideoCompressor::hardwareList()
{
    QSharedPointer<Nerova::FFDemuxer> demuxer =
        Nerova::FFDemuxer::createDemuxer(fixture("twoaudio.mkv"), false);
    QVERIFY(demuxer->open(fixture("twoaudio.mkv")));
    // Matroska gives no stream duration, so the duration and the bit rate come from the container.
    const auto info = demuxer->containerInfo();
    QVERIFY(info->videoStreams.first()->durationMs <= 0);
    const qint64 bitRate = info->bitRate;
    QVERIFY(bitRate > 0);
    demuxer.reset();

    Nerova::GpuModel::setGpuModelNameList({QVariantMap{{"name", "NVIDIA GeForce RTX"}}});
    VideoCompressor task({{"inputPath", fixture("twoaudio.mkv")},
                          {"outputPath", path("out.mkv")},
                          {"quality", "0.5"},
                          {"preset", "p4"},
                          {"scale", "1"}});
    const QStringList list = task.makeVideoHardwareParam({});
    const QString rate = QString("%1k").arg(double(0.5f * float(bitRate / 1000)));
    const QStringList expected{"-i",
                               quoted(fixture("twoaudio.mkv")),
                               "-c:v h264_nvenc",
                               "-pix_fmt yuv420p",
                               "-c:a aac",
                               "-map 0:v:0 -map 0:a",
                               "-preset",
                               "p4",
                               "-vb",
                               rate,
                               "-minrate " + rate,
                               "-maxrate " + rate,
                               "-bufsize " + rate,
                               "-vf",
                               "scale=320:240",
                               "-y",
                               "-threads",
                               threadCount(),
                               quoted(path("out.mkv")),
                               "-progress",
                               list.value(list.size() - 1)};
    QCOMPARE(list, expected);

    Nerova::GpuModel::setGpuModelNameList({QVariantMap{{"name", "intel nvidia hybrid"}}});
    QCOMPARE(task.makeVideoHardwareParam({}).at(2), QString("-c:v h264_qsv"));
    Nerova::GpuModel::setGpuModelNameList({QVariantMap{{"name", "AMD Radeon"}}});
    QCOMPARE(task.makeVideoHardwareParam({}).at(2), QString("-c:v h264"));
}

void TestVideoCompressor::progressFilesAreNumberedPerProcess()
{
    VideoCompressor first({{"inputPath", fixture("wide.mp4")}, {"outputPath", path("a.mp4")}});
    VideoCompressor second({{"inputPath", fixture("wide.mp4")}, {"outputPath", path("b.mp4")}});
    auto number = [](const QStringList& list) {
        return QFileInfo(list.last().chopped(1)).completeBaseName().mid(QString("progress_").size()).toInt();
    };
    const int a = number(second.makeVideoPreviewParam({}));
    const int b = number(first.makeVideoPreviewParam({}));
    QVERIFY(a >= 2);
    QCOMPARE(b, a + 1);
}

void TestVideoCompressor::closestNumberRule_data()
{
    QTest::addColumn<int>("n");
    QTest::addColumn<int>("expected");
    for (const auto& [n, expected] : {std::pair{12, 12},
                                      {13, 12},
                                      {14, 16},
                                      {15, 16},
                                      {16, 16},
                                      {270, 272},
                                      {0, 0},
                                      {-14, -16},
                                      {1918, 1920},
                                      {540, 540}})
        QTest::addRow("%d", n) << n << expected;
}

void TestVideoCompressor::closestNumberRule()
{
    QFETCH(int, n);
    QFETCH(int, expected);
    QCOMPARE(closestNumber(n, 4), expected);
    QCOMPARE(Nerova::closestNumber(n, 4), expected);
}

void TestVideoCompressor::estimatesARawStream()
{
    QSharedPointer<Nerova::FFDemuxer> demuxer = Nerova::FFDemuxer::createDemuxer(fixture("raw.h264"), false);
    QVERIFY(demuxer->open(fixture("raw.h264")));
    long long duration = 5000;
    timeEstimate(demuxer->formatCtx(), duration);
    QCOMPARE(duration, 5000LL); // a known duration is kept without reading

    duration = 0;
    timeEstimate(demuxer->formatCtx(), duration);
    QVERIFY2(std::abs(duration - 4000) <= 100, qPrintable(QString::number(duration)));

    // The full encode takes its progress total from the estimate.
    VideoCompressor task(
        {{"inputPath", fixture("raw.h264")}, {"outputPath", path("raw.mp4")}, {"quality", "30"}});
    QVERIFY(!task.makeVideoCompressParam({}).isEmpty());
}

void TestVideoCompressor::vobProgressCoversEveryChapter()
{
    VideoCompressor task(
        {{"inputPath", fixture("joined.vob")}, {"outputPath", path("dvd.mp4")}, {"quality", "30"}});
    QVERIFY(!task.makeVideoCompressParam({}).isEmpty());
    QVERIFY2(std::abs(task.sourceDurationMs() - 5000) < 200,
             qPrintable(QString::number(task.sourceDurationMs())));
}

void TestVideoCompressor::encodesToEachContainer_data()
{
    QTest::addColumn<QString>("outputName");
    QTest::addColumn<QString>("audioCodec");
    QTest::addColumn<int>("audioStreams");
    QTest::newRow("mp4") << "out.mp4"
                         << "aac" << 2;
    QTest::newRow("mkv") << "out.mkv"
                         << "aac" << 2;
    QTest::newRow("mov") << "out.mov"
                         << "aac" << 2;
    QTest::newRow("avi") << "out.avi"
                         << "mp3" << 2;
    QTest::newRow("flv") << "out.flv"
                         << "mp3" << 1; // FLV holds one audio track
    QTest::newRow("m2ts") << "out.m2ts"
                          << "ac3" << 2;
    QTest::newRow("webm") << "out.webm"
                          << "opus" << 2;
}

void TestVideoCompressor::encodesToEachContainer()
{
    QFETCH(QString, outputName);
    QFETCH(QString, audioCodec);
    QFETCH(int, audioStreams);
    const QString output = path(outputName);
    const auto task =
        makeTask(fixture(audioStreams == 1 ? "oneaudio.mkv" : "twoaudio.mkv"), output, {{"scale", "2"}});
    // A full encode reports from its progress thread: collect on this thread, as a host does.
    QList<float> progress;
    // Queued calls die with their receiver: none can reach this function's locals once it returned.
    QObject receiver;
    connect(task.data(), &ICompressTask::compressProcess, &receiver, [&](float value) { progress << value; });
    const TaskResult result = runTask(*task, 120000);
    QCoreApplication::processEvents();
    QCOMPARE(result.finishCount, 1);
    QCOMPARE(result.code, 0);
    QCOMPARE(result.text, QString("successful"));
    QCOMPARE(compressTask(task)->status(), int(CompressTask::StatusSucceeded));
    QVERIFY(!progress.isEmpty());
    QVERIFY(std::all_of(progress.cbegin(), progress.cend(), [](float v) { return v >= 0.0f && v <= 1.0f; }));
    QVERIFY(progress.contains(1.0f));

    const QJsonArray streams = probeStreams(output);
    int audio = 0;
    for (const QJsonValue& stream : streams) {
        const QJsonObject object = stream.toObject();
        if (object.value("codec_type") == "video") {
            QCOMPARE(object.value("codec_name").toString(),
                     QString(outputName.endsWith("webm") ? "vp9" : "h264"));
            QCOMPARE(object.value("width").toInt(), 160);
            QCOMPARE(object.value("height").toInt(), 120);
        } else if (object.value("codec_type") == "audio") {
            QCOMPARE(object.value("codec_name").toString(), audioCodec);
            ++audio;
        }
    }
    QCOMPARE(audio, audioStreams);
}

void TestVideoCompressor::previewIsFifteenSeconds()
{
    const QString output = path("preview.mp4");
    const auto task = makeTask(fixture("long.mp4"), output);
    QSignalSpy progress(task.data(), &ICompressTask::compressProcess);
    QSignalSpy finished(task.data(), &ICompressTask::compressFinished);
    QVERIFY(progress.isValid() && finished.isValid());
    QVERIFY(task->previewTask());
    QVERIFY(finished.wait(120000));
    QCOMPARE(finished.first().at(0).toInt(), 0);
    QVERIFY(std::abs(probeDuration(output) - 15.0) < 0.5);
    QVERIFY(!progress.isEmpty());
    QCOMPARE(progress.last().at(0).toFloat(), 1.0f);
}

void TestVideoCompressor::abortInTheMiddle()
{
    const QString output = path("aborted.mp4");
    // A slow preset keeps ffmpeg busy long enough to be caught in the middle.
    const auto task = makeTask(fixture("long.mp4"), output, {{"preset", "veryslow"}});
    int progress = 0;
    QObject receiver; // see encodesToEachContainer
    connect(task.data(), &ICompressTask::compressProcess, &receiver, [&] { ++progress; });
    QSignalSpy finished(task.data(), &ICompressTask::compressFinished);
    QVERIFY(finished.isValid());
    QVERIFY(task->startTask());
    QTRY_VERIFY_WITH_TIMEOUT(progress > 0, 60000);
    QVERIFY(finished.isEmpty());

    task->abortTask();
    QTRY_COMPARE(finished.count(), 1);
    QVERIFY(finished.first().at(0).toInt() != 0);
    QCOMPARE(compressTask(task)->status(), int(CompressTask::StatusFailed));
    QVERIFY(!QFileInfo::exists(output));
    QCoreApplication::processEvents();
    QCOMPARE(finished.count(), 1);
}

void TestVideoCompressor::exitCodes_data()
{
    QTest::addColumn<QString>("behaviour");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    QTest::newRow("bad parameters") << "nooutput:1" << 1 << " Check the parameters please ";
    QTest::newRow("other failure") << "exit:2" << 2 << "Unknown mistake";
}

void TestVideoCompressor::exitCodes()
{
    QFETCH(QString, behaviour);
    QFETCH(int, code);
    QFETCH(QString, text);
    Nerova::getConfig()[kFFmpegPath] = fakeFfmpegFolder();
    const QString output = path("out.mp4");
    const auto task = makeTask(fixture("twoaudio.mkv"), output, {{"quality", behaviour}});
    const TaskResult result = runTask(*task);
    QCOMPARE(result.finishCount, 1);
    QCOMPARE(result.code, code);
    QCOMPARE(result.text, text);
    QCOMPARE(compressTask(task)->status(), int(CompressTask::StatusFailed));
    QVERIFY(!QFileInfo::exists(output));
}

void TestVideoCompressor::ffmpegFromConfiguration()
{
    // A configured folder without ffmpeg: nothing starts, and the application's folder is not tried.
    Nerova::getConfig()[kFFmpegPath] = path("empty");
    const auto missing = makeTask(fixture("twoaudio.mkv"), path("a.mp4"));
    QSignalSpy spy(missing.data(), &ICompressTask::compressFinished);
    QVERIFY(spy.isValid());
    QVERIFY(!missing->startTask());
    QCOMPARE(compressTask(missing)->status(), int(CompressTask::StatusRunning));
    QCOMPARE(spy.count(), 0);

    // ffmpeg's own exit code 62097 (not reachable by a real process here) maps to its text.
    Nerova::getConfig()[kFFmpegPath] = fakeFfmpegFolder();
    const auto hanging = makeTask(fixture("twoaudio.mkv"), path("b.mp4"), {{"quality", "hang"}});
    QSignalSpy finished(hanging.data(), &ICompressTask::compressFinished);
    QVERIFY(finished.isValid());
    QVERIFY(hanging->startTask());
    QVERIFY(QMetaObject::invokeMethod(hanging.data(), "onCompressFinished", Q_ARG(int, 62097),
                                      Q_ARG(QProcess::ExitStatus, QProcess::NormalExit)));
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.first().at(1).toString(), QString("Process Abort"));
}

void TestVideoCompressor::refusesToWriteOntoItsSource()
{
    const QString source = path("in.mp4");
    QVERIFY(QFile::copy(fixture("rotated.mp4"), source));
    const QByteArray before = readAll(source);
    const auto task = makeTask(source, source);
    const TaskResult result = runTask(*task);
    QCOMPARE(result.finishCount, 1);
    QCOMPARE(result.code, FinishCode::OutputIsSource);
    QCOMPARE(readAll(source), before);
}

void TestVideoCompressor::keepsTheUsersFileWhenTheRunFails()
{
    const QString output = path("out.mp4");
    QVERIFY(writeAll(output, "the user's own file"));
    // Options ffmpeg refuses: the run fails after the file was set aside.
    const auto failing = makeTask(fixture("twoaudio.mkv"), output, {{"preset", "nosuchpreset"}});
    const TaskResult result = runTask(*failing);
    QCOMPARE(result.finishCount, 1);
    QVERIFY(result.code != 0);
    QCOMPARE(readAll(output), QByteArray("the user's own file"));

    // Request values that would become options never reach ffmpeg.
    const auto unsafe = makeTask(fixture("twoaudio.mkv"), output, {{"scale", "1 -y /tmp/x.mp4"}});
    QCOMPARE(runTask(*unsafe).code, FinishCode::InvalidRequest);
    QCOMPARE(readAll(output), QByteArray("the user's own file"));

    // Aborting a task that never ran deletes nothing.
    makeTask(fixture("twoaudio.mkv"), output)->abortTask();
    QCOMPARE(readAll(output), QByteArray("the user's own file"));
}

QTEST_GUILESS_MAIN(TestVideoCompressor)
#include "tst_videocompressor.moc"
