// Video tasks: ffmpeg argument lists for generated sources, real and generated sources to every
// container with what each output holds, previews, aborts, the result check against a fake ffmpeg, and
// the source kept when the result grows.

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
#include <iterator>
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

// What a file holds, by kind, as ffprobe sees it.
struct Content
{
    QStringList video; // moving pictures
    int covers = 0;
    QStringList audio;
    QStringList subtitles;
    int attachments = 0;
    double seconds = 0.0;
};

Content probeContent(const QString& path)
{
    Content content;
    for (const QJsonValue& value : probeStreams(path)) {
        const QJsonObject stream = value.toObject();
        const QString type = stream.value("codec_type").toString();
        const QString codec = stream.value("codec_name").toString();
        if (type == "video" && stream.value("disposition").toObject().value("attached_pic").toInt())
            ++content.covers;
        else if (type == "video")
            content.video << codec;
        else if (type == "audio")
            content.audio << codec;
        else if (type == "subtitle")
            content.subtitles << codec;
        else if (type == "attachment")
            ++content.attachments;
    }
    content.seconds = probeDuration(path);
    return content;
}

bool closeInLength(double seconds, double expected)
{
    return std::abs(seconds - expected) <= std::max(0.5, expected * 0.02);
}

// What each container keeps of a source, as the container's own rules have it.
struct ContainerRule
{
    const char* suffix;
    const char* video;
    const char* audio;
    bool severalAudio;
    const char* textSubtitles; // "copy", a codec name, or nullptr for none
    bool attachments;
    bool cover;
};

const ContainerRule kContainers[] = {
    {"mp4", "h264", "aac", true, "mov_text", false, true},
    {"mov", "h264", "aac", true, "mov_text", false, false},
    {"mkv", "h264", "aac", true, "copy", true, true},
    {"m4v", "h264", "aac", true, "mov_text", false, true},
    {"avi", "h264", "mp3", true, nullptr, false, false},
    {"flv", "h264", "mp3", false, nullptr, false, false},
    {"f4v", "h264", "aac", true, nullptr, false, false},
    {"m2ts", "h264", "ac3", true, nullptr, false, false},
    {"webm", "vp9", "opus", true, "webvtt", false, false},
};

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
    void fitsTheBox_data();
    void fitsTheBox();
    void progressFilesAreNumberedPerProcess();
    void closestNumberRule_data();
    void closestNumberRule();
    void estimatesARawStream();
    void vobProgressCoversEveryChapter();

    void generatedSourcesToEachContainer_data();
    void generatedSourcesToEachContainer();
    void realSourcesToEachContainer_data();
    void realSourcesToEachContainer();
    void previewIsFifteenSeconds_data();
    void previewIsFifteenSeconds();
    void stripsTheLocation_data();
    void stripsTheLocation();
    void keepsTheSourceWhenTheResultGrows_data();
    void keepsTheSourceWhenTheResultGrows();
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
    // Runs a full encode and checks the progress it reported on the way.
    TaskResult encode(const QString& input, const QString& output, const QVariantMap& extra = {});

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
    // Two audio tracks and two text subtitle tracks, SubRip and ASS.
    QVERIFY(writeAll(fixture("subs.srt"), "1\n00:00:00,000 --> 00:00:01,500\nHello\n"));
    QVERIFY(run(ffmpeg(), {"-v",
                           "error",
                           "-i",
                           fixture("twoaudio.mkv"),
                           "-i",
                           fixture("subs.srt"),
                           "-i",
                           fixture("subs.srt"),
                           "-map",
                           "0",
                           "-map",
                           "1",
                           "-map",
                           "2",
                           "-c",
                           "copy",
                           "-c:s:0",
                           "srt",
                           "-c:s:1",
                           "ass",
                           fixture("textsubs.mkv")}));
    // Audio only: two tracks.
    QVERIFY(run(ffmpeg(), {"-v", "error", "-i", fixture("twoaudio.mkv"), "-map", "0:a", "-c", "copy",
                           fixture("audioonly.mkv")}));
    // A song with a JPEG cover.
    QVERIFY(makeImage(fixture("cover.jpg"), "color=c=red:size=64x64"));
    QVERIFY(run(ffmpeg(), {"-v", "error", "-f", "lavfi", "-i", audio.arg(2), "-i", fixture("cover.jpg"),
                           "-map", "0", "-map", "1", "-c:a", "aac", "-c:v", "copy", "-disposition:v",
                           "attached_pic", fixture("song.m4a")}));
    // ASS subtitles with the font they name, as an attachment.
    QVERIFY(writeAll(fixture("font.ttf"), QByteArray(512, 'f')));
    QVERIFY(run(ffmpeg(), {"-v", "error", "-i", fixture("oneaudio.mkv"), "-i", fixture("subs.srt"), "-attach",
                           fixture("font.ttf"), "-metadata:s:t", "mimetype=application/x-truetype-font",
                           "-map", "0", "-map", "1", "-c", "copy", "-c:s", "ass", fixture("fonts.mkv")}));
    // Variable frame rate: VP8 with frames missing in the middle, which still lasts two seconds.
    QVERIFY(run(ffmpeg(), {"-v", "error", "-f", "lavfi", "-i", video.arg("160x120").arg(2), "-vf",
                           "select='not(between(n,10,35))'", "-fps_mode", "vfr", "-c:v", "libvpx",
                           "-deadline", "realtime", fixture("gaps.webm")}));
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
    // A clip squeezed hard: a re-encode at a high quality comes out larger.
    QVERIFY(run(ffmpeg(), {"-v", "error", "-f", "lavfi", "-i", video.arg("160x120").arg(1), "-c:v", "libx264",
                           "-preset", "veryslow", "-crf", "45", fixture("tight.mp4")}));
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
    QTest::addColumn<QStringList>("timing"); // the elements between the size and "-y"

    const QStringList none;
    const QStringList constantRate{"-fps_mode cfr", "-r 25/1"};
    QTest::newRow("two audio tracks")
        << "twoaudio.mkv"
        << "out.mp4"
        << "2" << QStringList{"-c:a aac", "-map 0:0 -map 0:1 -map 0:2"} << "scale=160:120" << none;
    QTest::newRow("text subtitles copied into mkv")
        << "textsubs.mkv"
        << "out.mkv"
        << "1" << QStringList{"-c:a aac", "-map 0:0 -map 0:1 -map 0:2 -map 0:3 -map 0:4", "-c:s copy"}
        << "scale=320:240" << none;
    QTest::newRow("text subtitles become mov_text")
        << "textsubs.mkv"
        << "out.mov"
        << "1"
        << QStringList{"-c:a aac", "-map 0:0 -map 0:1 -map 0:2 -map 0:3 -map 0:4", "-c:s:0 mov_text",
                       "-c:s:1 mov_text"}
        << "scale=320:240" << none;
    QTest::newRow("m2ts holds no subtitles")
        << "onesub.mkv"
        << "out.m2ts"
        << "" << QStringList{"-c:a ac3", "-map 0:0 -map 0:1"} << "scale=320:240" << none;
    QTest::newRow("avi, scale 1 rounds")
        << "wide.mp4"
        << "out.avi"
        << "1" << QStringList{"-c:a mp3", "-map 0:0"} << "scale=1920:1080" << constantRate;
    QTest::newRow("flv holds one audio track")
        << "twoaudio.mkv"
        << "out.flv"
        << "2" << QStringList{"-c:a mp3", "-map 0:0 -map 0:1"} << "scale=160:120" << none;
    QTest::newRow("scale 4, tie away from zero") << "wide.mp4"
                                                 << "out.ts"
                                                 << "4" << QStringList{"-map 0:0"} << "scale=480:272" << none;
    QTest::newRow("scale 3 keeps the size")
        << "wide.mp4"
        << "out.mov"
        << "3" << QStringList{"-c:a aac", "-map 0:0"} << "scale=1918:1080" << none;
    QTest::newRow("rotation swaps the size")
        << "rotated.mp4"
        << "out.mp4"
        << "1" << QStringList{"-c:a aac", "-map 0:0"} << "scale=240:320" << none;
    QTest::newRow("cover picture left out of avi")
        << "cover.mp4"
        << "out.avi"
        << "1" << QStringList{"-c:a mp3", "-map 0:0"} << "scale=320:240" << constantRate;
}

void TestVideoCompressor::encodeList()
{
    QFETCH(QString, source);
    QFETCH(QString, outputName);
    QFETCH(QString, scale);
    QFETCH(QStringList, middle);
    QFETCH(QString, size);
    QFETCH(QStringList, timing);

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
             << "-vf" << size << timing << "-y"
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
    // The streams and the picture format of a full encode.
    QStringList expected{"-i",           quoted(fixture("wide.mp4")),
                         "-c:v libx264", "-pix_fmt yuv420p",
                         "-c:a aac",     "-map 0:0",
                         "-preset",      "fast",
                         "-crf",         "23"};
    expected << sizeElements << "-y"
             << "-t 15"
             << "-threads" << threadCount() << quoted(path("p.mp4")) << "-progress" << list.last();
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
                               "-map 0:0 -map 0:1 -map 0:2",
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
    // No GPU encoder writes WebM's codec.
    VideoCompressor webm({{"inputPath", fixture("twoaudio.mkv")}, {"outputPath", path("out.webm")}});
    QCOMPARE(webm.makeVideoHardwareParam({}).at(2), QString("-c:v libvpx-vp9"));
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

TaskResult TestVideoCompressor::encode(const QString& input, const QString& output, const QVariantMap& extra)
{
    const auto task = makeTask(input, output, extra);
    // A full encode reports from its progress thread: collect on this thread, as a host does. Queued
    // calls die with their receiver: none can reach this function's locals once it returned.
    QList<float> progress;
    QObject receiver;
    connect(task.data(), &ICompressTask::compressProcess, &receiver, [&](float value) { progress << value; });
    const TaskResult result = runTask(*task, 300000);
    QCoreApplication::processEvents();
    const int status = compressTask(task)->status();
    if (result.code == 0 && (status != int(CompressTask::StatusSucceeded) || !progress.contains(1.0f)))
        return {};
    if (!std::all_of(progress.cbegin(), progress.cend(), [](float v) { return v >= 0.0f && v <= 1.0f; }))
        return {};
    return result;
}

void TestVideoCompressor::generatedSourcesToEachContainer_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QString>("videoCodec");
    QTest::addColumn<QStringList>("audioCodecs");
    QTest::addColumn<QStringList>("subtitleCodecs");
    QTest::addColumn<int>("attachments");
    QTest::addColumn<int>("covers");

    // Each source: its file, whether it has video, its audio tracks, its text subtitles, attachments
    // and whether it has a cover.
    struct Source
    {
        const char* file;
        bool video;
        int audio;
        QStringList subtitles;
        int attachments;
        bool cover;
    };
    const Source sources[] = {
        {"textsubs.mkv", true, 2, {"subrip", "ass"}, 0, false},
        {"song.m4a", false, 1, {}, 0, true},
        {"fonts.mkv", true, 1, {"ass"}, 1, false},
        {"audioonly.mkv", false, 2, {}, 0, false},
        {"gaps.webm", true, 0, {}, 0, false},
    };
    for (const Source& source : sources) {
        for (const ContainerRule& rule : kContainers) {
            QStringList subtitles;
            if (rule.textSubtitles)
                for (const QString& codec : source.subtitles)
                    subtitles << (QLatin1String(rule.textSubtitles) == "copy" ? codec : rule.textSubtitles);
            const int audio = rule.severalAudio ? source.audio : std::min(source.audio, 1);
            QTest::addRow("%s to %s", source.file, rule.suffix)
                << fixture(source.file) << rule.suffix << (source.video ? rule.video : "")
                << QStringList(QVector<QString>(audio, rule.audio).toList()) << subtitles
                << (rule.attachments ? source.attachments : 0) << (rule.cover && source.cover ? 1 : 0);
        }
    }
}

void TestVideoCompressor::generatedSourcesToEachContainer()
{
    QFETCH(QString, source);
    QFETCH(QString, suffix);
    QFETCH(QString, videoCodec);
    QFETCH(QStringList, audioCodecs);
    QFETCH(QStringList, subtitleCodecs);
    QFETCH(int, attachments);
    QFETCH(int, covers);
    const QString output = path("out." + suffix);
    const TaskResult result = encode(source, output, {{"scale", "2"}});
    QCOMPARE(result.finishCount, 1);
    QCOMPARE(result.code, 0);
    QCOMPARE(result.text, QString("successful"));

    const Content content = probeContent(output);
    QCOMPARE(content.video, videoCodec.isEmpty() ? QStringList() : QStringList{videoCodec});
    QCOMPARE(content.audio, audioCodecs);
    QCOMPARE(content.subtitles, subtitleCodecs);
    QCOMPARE(content.attachments, attachments);
    QCOMPARE(content.covers, covers);
    const double expected = probeDuration(source);
    QVERIFY2(closeInLength(content.seconds, expected),
             qPrintable(QString("%1 s instead of %2 s").arg(content.seconds).arg(expected)));
}

void TestVideoCompressor::realSourcesToEachContainer_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<bool>("delivers");

    // The small real files sit with the tests; the larger ones are read beside the checkout when there.
    QStringList sources;
    for (const QString& name : QDir(TEST_DATA_DIR "/video").entryList({"*.*"}, QDir::Files)) {
        if (!name.endsWith(".md"))
            sources << QStringLiteral(TEST_DATA_DIR "/video/") + name;
    }
    for (const char* name : {"two_aac51_audio_only.mp4", "pixel_motion_photo_2hevc.mp4"}) {
        const QString shared = QStringLiteral(TEST_DATA_DIR "/../../../shared/media/video/") + name;
        if (QFileInfo::exists(shared))
            sources << QDir::cleanPath(shared);
    }
    // Each real file goes to three containers, a third of them apart, so that every container meets
    // several real files while the suite stays short; the generated sources go to every container.
    const int containerCount = int(std::size(kContainers));
    for (int i = 0; i < sources.size(); ++i) {
        const QString& source = sources.at(i);
        for (int step = 0; step < 3; ++step) {
            const ContainerRule& rule = kContainers[(i + step * containerCount / 3) % containerCount];
            // A picture of one pixel cannot be decoded: no such file may pass for a success.
            const bool delivers = !source.endsWith("tiny_1x1.wmv");
            QTest::addRow("%s to %s", qPrintable(QFileInfo(source).fileName()), rule.suffix)
                << source << rule.suffix << delivers;
        }
    }
}

void TestVideoCompressor::realSourcesToEachContainer()
{
    QFETCH(QString, source);
    QFETCH(QString, suffix);
    QFETCH(bool, delivers);
    const QString output = path("out." + suffix);
    const TaskResult result = encode(source, output, {{"scale", "4"}});
    QCOMPARE(result.finishCount, 1);
    if (!delivers) {
        QVERIFY(result.code != 0);
        QVERIFY(!QFileInfo::exists(output));
        return;
    }
    QCOMPARE(result.code, 0);

    const Content before = probeContent(source);
    const Content after = probeContent(output);
    QCOMPARE(after.video.size(), before.video.isEmpty() ? 0 : 1);
    QCOMPARE(after.audio.size(),
             suffix == "flv" ? std::min(int(before.audio.size()), 1) : before.audio.size());
    QVERIFY2(closeInLength(after.seconds, before.seconds),
             qPrintable(QString("%1 s instead of %2 s").arg(after.seconds).arg(before.seconds)));
}

void TestVideoCompressor::previewIsFifteenSeconds_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QString>("videoCodec");
    QTest::newRow("mp4") << "mp4"
                         << "h264";
    QTest::newRow("webm") << "webm"
                          << "vp9";
}

void TestVideoCompressor::previewIsFifteenSeconds()
{
    QFETCH(QString, suffix);
    QFETCH(QString, videoCodec);
    const QString output = path("preview." + suffix);
    const auto task = makeTask(fixture("long.mp4"), output, {{"scale", "2"}});
    QSignalSpy progress(task.data(), &ICompressTask::compressProcess);
    QSignalSpy finished(task.data(), &ICompressTask::compressFinished);
    QVERIFY(progress.isValid() && finished.isValid());
    QVERIFY(task->previewTask());
    QVERIFY(finished.wait(120000));
    QCOMPARE(finished.first().at(0).toInt(), 0);
    const Content content = probeContent(output);
    QCOMPARE(content.video, QStringList{videoCodec});
    QCOMPARE(content.audio.size(), 1);
    QVERIFY(std::abs(content.seconds - 15.0) < 0.5);
    QVERIFY(!progress.isEmpty());
    QCOMPARE(progress.last().at(0).toFloat(), 1.0f);
}

// wide.mp4 is 1918x1080; rotated.mp4 is stored 320x240 and shown 240x320.
void TestVideoCompressor::fitsTheBox_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("scale");
    QTest::addColumn<int>("maxWidth");
    QTest::addColumn<int>("maxHeight");
    QTest::addColumn<bool>("preview");
    QTest::addColumn<QString>("size"); // the scale filter
    QTest::addColumn<QString>("resized");
    QTest::newRow("width") << "wide.mp4"
                           << "" << 640 << 0 << false << "scale=640:360"
                           << "640x360";
    QTest::newRow("odd width") << "wide.mp4"
                               << "" << 641 << 0 << false << "scale=640:360"
                               << "640x360";
    QTest::newRow("height") << "wide.mp4"
                            << "" << 0 << 480 << false << "scale=852:480"
                            << "852x480";
    QTest::newRow("box, height limits") << "wide.mp4"
                                        << "" << 1280 << 600 << false << "scale=1066:600"
                                        << "1066x600";
    QTest::newRow("after the divisor, fits") << "wide.mp4"
                                             << "2" << 1280 << 0 << false << "scale=960:540"
                                             << "";
    QTest::newRow("after the divisor") << "wide.mp4"
                                       << "2" << 480 << 0 << false << "scale=480:270"
                                       << "480x270";
    QTest::newRow("never enlarged") << "wide.mp4"
                                    << "" << 4000 << 4000 << false << "scale=1918:1080"
                                    << "";
    QTest::newRow("rotated") << "rotated.mp4"
                             << "" << 0 << 160 << false << "scale=120:160"
                             << "120x160";
    QTest::newRow("preview") << "wide.mp4"
                             << "" << 640 << 0 << true << "scale=640:360"
                             << "640x360";
}

void TestVideoCompressor::fitsTheBox()
{
    QFETCH(QString, source);
    QFETCH(QString, scale);
    QFETCH(int, maxWidth);
    QFETCH(int, maxHeight);
    QFETCH(bool, preview);
    QFETCH(QString, size);
    QFETCH(QString, resized);
    VideoCompressor task({{"inputPath", fixture(source)},
                          {"outputPath", path("out.mp4")},
                          {"scale", scale},
                          {"maxWidth", maxWidth},
                          {"maxHeight", QString::number(maxHeight)}});
    const QStringList list = preview ? task.makeVideoPreviewParam({}) : task.makeVideoCompressParam({});
    const int filter = list.indexOf("-vf");
    QVERIFY2(filter > 0, qPrintable(list.join(' ')));
    QCOMPARE(list.value(filter + 1), size);
    QCOMPARE(task.property("resized").toString(), resized);
}

// A clip with a place of recording, a title and a French audio track.
void TestVideoCompressor::stripsTheLocation_data()
{
    QTest::addColumn<QString>("sourceName");
    QTest::addColumn<QString>("outputName");
    QTest::addColumn<QString>("policy");
    QTest::newRow("mp4, gps") << "located.mp4"
                              << "out.mp4"
                              << "gps";
    QTest::newRow("mp4, all") << "located.mp4"
                              << "out.mp4"
                              << "all";
    QTest::newRow("mov, gps") << "located.mov"
                              << "out.mov"
                              << "gps";
    QTest::newRow("mov to mkv, gps") << "located.mov"
                                     << "out.mkv"
                                     << "gps";
}

void TestVideoCompressor::stripsTheLocation()
{
    QFETCH(QString, sourceName);
    QFETCH(QString, outputName);
    QFETCH(QString, policy);
    const QString source = path(sourceName), output = path(outputName);
    QVERIFY(run(ffmpeg(), {"-v",
                           "error",
                           "-f",
                           "lavfi",
                           "-i",
                           "testsrc2=size=320x240:rate=25:duration=1",
                           "-f",
                           "lavfi",
                           "-i",
                           "sine=duration=1",
                           "-c:v",
                           "libx264",
                           "-preset",
                           "ultrafast",
                           "-c:a",
                           "aac",
                           "-metadata",
                           "location=+48.8577+002.2950/",
                           "-metadata",
                           "location-eng=+48.8577+002.2950/",
                           "-metadata",
                           "title=Tower",
                           "-metadata:s:a:0",
                           "language=fra",
                           source}));
    const auto tags = [](const QString& file) {
        QByteArray out;
        run(ffprobe(),
            {"-v", "error", "-show_entries", "format_tags:stream_tags=language", "-of", "flat", file}, &out);
        return QString::fromUtf8(out).toLower();
    };
    QVERIFY(tags(source).contains("location"));
    QVERIFY(MediaFixtures::metadataTags(source).contains("Composite:GPSLatitude"));

    const auto task = makeTask(source, output, {{"strip", policy}, {"maxWidth", "160"}});
    const TaskResult result = runTask(*task, 120000);
    QCOMPARE(result.code, 0);
    QCOMPARE(MediaFixtures::frameSize(output), QString("160x120"));
    QCOMPARE(task->property("resized").toString(), QString("160x120"));
    const QString left = tags(output);
    QVERIFY2(!left.contains("location"), qPrintable(left));
    const QVariantMap exif = MediaFixtures::metadataTags(output);
    for (auto it = exif.cbegin(); it != exif.cend(); ++it)
        QVERIFY2(!it.key().contains("GPS") && !it.key().contains("Location"), qPrintable(it.key()));
    QCOMPARE(left.contains("tower"), policy == "gps");
    QVERIFY(left.contains("fra")); // the streams keep their own tags
}

void TestVideoCompressor::keepsTheSourceWhenTheResultGrows_data()
{
    QTest::addColumn<QString>("outputName");
    QTest::addColumn<bool>("sourceKept");
    QTest::newRow("same container: the source's bytes") << "out.mp4" << true;
    QTest::newRow("another container: the conversion") << "out.mkv" << false;
}

void TestVideoCompressor::keepsTheSourceWhenTheResultGrows()
{
    QFETCH(QString, outputName);
    QFETCH(bool, sourceKept);
    const QString output = path(outputName);
    const auto task = makeTask(fixture("tight.mp4"), output, {{"quality", "0"}});
    const TaskResult result = runTask(*task, 120000);
    QCOMPARE(result.code, 0);
    QCOMPARE(result.text, QString("successful"));
    QCOMPARE(task->property("sourceKept").toBool(), sourceKept);
    const QByteArray source = readAll(fixture("tight.mp4"));
    QCOMPARE(readAll(output) == source, sourceKept);
    QVERIFY(QFileInfo(output).size() >= source.size());
}

void TestVideoCompressor::abortInTheMiddle()
{
    const QString output = path("aborted.mp4");
    // A slow preset keeps ffmpeg busy long enough to be caught in the middle.
    const auto task = makeTask(fixture("long.mp4"), output, {{"preset", "veryslow"}});
    int progress = 0;
    QObject receiver; // see encode
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
    const QString checked = FinishCode::resultNotAsExpectedText();
    QTest::newRow("exit 0, nothing written") << "nooutput:0" << FinishCode::ResultNotAsExpected << checked;
    QTest::newRow("exit 0, empty file") << "empty" << FinishCode::ResultNotAsExpected << checked;
    QTest::newRow("exit 0, no video in it") << "exit:0" << FinishCode::ResultNotAsExpected << checked;
}

void TestVideoCompressor::exitCodes()
{
    QFETCH(QString, behaviour);
    QFETCH(int, code);
    QFETCH(QString, text);
    Nerova::getConfig()[kFFmpegPath] = fakeFfmpegFolder();
    const QString output = path("out.mp4");
    QVERIFY(writeAll(output, "the user's own file"));
    const auto task = makeTask(fixture("twoaudio.mkv"), output, {{"quality", behaviour}});
    const TaskResult result = runTask(*task);
    QCOMPARE(result.finishCount, 1);
    QCOMPARE(result.code, code);
    QCOMPARE(result.text, text);
    QCOMPARE(compressTask(task)->status(), int(CompressTask::StatusFailed));
    QCOMPARE(readAll(output), QByteArray("the user's own file"));
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
    // So do a malformed size limit or metadata policy.
    for (const QVariantMap& bad : {QVariantMap{{"maxWidth", "-640"}}, QVariantMap{{"maxHeight", "1e3"}},
                                   QVariantMap{{"maxWidth", "70000"}}, QVariantMap{{"strip", "none"}}}) {
        QCOMPARE(runTask(*makeTask(fixture("twoaudio.mkv"), output, bad)).code, FinishCode::InvalidRequest);
        QCOMPARE(readAll(output), QByteArray("the user's own file"));
    }

    // Aborting a task that never ran deletes nothing.
    makeTask(fixture("twoaudio.mkv"), output)->abortTask();
    QCOMPARE(readAll(output), QByteArray("the user's own file"));
}

QTEST_GUILESS_MAIN(TestVideoCompressor)
#include "tst_videocompressor.moc"
