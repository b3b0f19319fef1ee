// Video tasks deliver a checked result in every container, or fail and leave the user's files as they were.

#include "MediaFixtures.h"
#include "TaskRun.h"

#include <base/Config.h>
#include <base/Helpers.h>
#include <compressor/FinishCode.h>
#include <compressor/ICompressor.h>
#include <compressor/VideoCompressor.h>

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <cmath>
#include <iterator>
#include <thread>

using namespace MediaFixtures;

namespace {

// What a file holds as ffprobe sees it: codec names by kind ("video", "cover", "audio", "subtitle",
// "attachment"), its length and the tags of the file and its streams.
struct Content
{
    QMap<QString, QStringList> streams;
    double seconds = 0.0;
    QString tags;
};

Content probeContent(const QString& path)
{
    QByteArray output;
    run(ffprobe(), {"-v", "error", "-print_format", "json", "-show_streams", "-show_format", path}, &output);
    const QJsonObject probed = QJsonDocument::fromJson(output).object(), format = probed["format"].toObject();
    Content content{
        {}, format["duration"].toString().toDouble(), QJsonDocument(format["tags"].toObject()).toJson()};
    for (const QJsonValue& value : probed["streams"].toArray()) {
        const QJsonObject stream = value.toObject();
        const bool cover = stream["disposition"].toObject()["attached_pic"].toInt();
        content.streams[cover ? "cover" : stream["codec_type"].toString()] << stream["codec_name"].toString();
        content.tags += QJsonDocument(stream["tags"].toObject()).toJson();
    }
    return content;
}

// What each container keeps of a source, as the container's own rules have it.
struct ContainerRule
{
    const char *suffix, *video, *audio;
    bool severalAudio;
    const char* textSubtitles; // "copy", a codec name, or empty for none
    bool attachments, cover;
};

const ContainerRule kContainers[] = {
    {"mp4", "h264", "aac", 1, "mov_text", 0, 1}, {"mov", "h264", "aac", 1, "mov_text", 0, 0},
    {"mkv", "h264", "aac", 1, "copy", 1, 1},     {"m4v", "h264", "aac", 1, "mov_text", 0, 1},
    {"avi", "h264", "mp3", 1, "", 0, 0},         {"flv", "h264", "mp3", 0, "", 0, 0},
    {"f4v", "h264", "aac", 1, "", 0, 0},         {"m2ts", "h264", "ac3", 1, "", 0, 0},
    {"webm", "vp9", "opus", 1, "webvtt", 0, 0},
};

// What a real run here cannot show: the size a frame is fitted to, the encoder for a graphics card, the
// threads (a third of the processors unless asked). wide.mp4 is 1918x1080; rotated.mp4 is shown 240x320.
struct Arguments
{
    const char *name, *source, *scale;
    int maxWidth, maxHeight;
    bool preview;
    const char *size, *resized; // resized: empty when only the divisor changed the size
    const char *gpu, *output, *threads, *encoder;
};

const Arguments kArguments[] = {
    {"odd width", "wide.mp4", "", 641, 0, false, "640:360", "640x360", "", "out.mp4", "3", "libx264"},
    {"box", "wide.mp4", "", 1280, 600, false, "1066:600", "1066x600", "", "out.mp4", "", "libx264"},
    {"after the divisor", "wide.mp4", "2", 480, 0, false, "480:270", "480x270", "", "out.mp4", "", "libx264"},
    {"divisor 4, to fours", "wide.mp4", "4", 0, 0, false, "480:272", "", "", "out.mp4", "", "libx264"},
    {"never enlarged", "wide.mp4", "", 4000, 4000, false, "1918:1080", "", "", "out.mp4", "", "libx264"},
    {"rotated", "rotated.mp4", "", 0, 160, false, "120:160", "120x160", "", "out.mp4", "", "libx264"},
    {"preview", "wide.mp4", "", 640, 0, true, "640:360", "640x360", "", "out.mp4", "", "libx264"},
    {"nvidia", "wide.mp4", "2", 0, 0, false, "960:540", "", "NVIDIA RTX", "out.mkv", "", "h264_nvenc"},
    {"hybrid", "wide.mp4", "", 0, 0, false, "1918:1080", "", "intel nvidia", "out.mp4", "", "h264_qsv"},
    {"amd", "wide.mp4", "", 0, 0, false, "1918:1080", "", "AMD Radeon", "out.mp4", "", "h264"},
    {"webm", "wide.mp4", "", 0, 0, false, "1918:1080", "", "NVIDIA", "out.webm", "", "libvpx-vp9"},
};

enum Kind { Generated, Real, Preview }; // what eachContainer checks of a row

// Moves an MP4's user data, which holds its cover and which ffmpeg writes last, ahead of the tracks: the
// cover picture then comes first among the video streams, as in files from some other writers.
bool coverFirst(const QString& file)
{
    QByteArray data = readAll(file);
    const int moov = data.lastIndexOf("moov") - 4, udta = data.lastIndexOf("udta") - 4;
    if (moov < 0 || udta < moov ||
        qFromBigEndian<quint32>(data.constData() + udta) != quint32(data.size() - udta))
        return false;
    return writeAll(file, data.left(udta).insert(moov + 8, data.mid(udta)));
}

} // namespace

class TestVideoCompressor : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void eachContainer_data();
    void eachContainer();
    void arguments_data();
    void arguments();
    void stripsTheLocation_data();
    void stripsTheLocation();
    void sourceLength_data();
    void sourceLength();
    void keepsTheSourceWhenTheResultGrows_data();
    void keepsTheSourceWhenTheResultGrows();
    void abortInTheMiddle();
    void failsKeepingTheUsersFile_data();
    void failsKeepingTheUsersFile();

private:
    QString fixture(const QString& name) const { return mFixtures.filePath(name); }
    QString path(const QString& name) const { return mWork->filePath(name); }
    bool generate(const QString& output, const QString& arguments) const;
    QSharedPointer<ICompressTask> makeTask(const QString& in, const QString& out,
                                           const QVariantMap& extra = {});
    // Runs an encode or a preview and checks the progress it reported on the way.
    TaskResult encode(const QString& in, const QString& out, const QVariantMap& extra, bool preview);

    QTemporaryDir mFixtures;
    std::unique_ptr<QTemporaryDir> mWork;
};

// Runs ffmpeg on the words of arguments, where @name stands for a fixture, to write the fixture output.
bool TestVideoCompressor::generate(const QString& output, const QString& arguments) const
{
    QStringList list{"-v", "error", "-y"};
    for (const QString& word : arguments.split(' ', Qt::SkipEmptyParts))
        list << (word.startsWith('@') ? fixture(word.mid(1)) : word);
    return run(ffmpeg(), list << fixture(output));
}

void TestVideoCompressor::initTestCase()
{
    QVERIFY(mFixtures.isValid());
    QVERIFY(writeAll(fixture("subs.srt"), "1\n00:00:00,000 --> 00:00:01,500\nHello\n"));
    QVERIFY(writeAll(fixture("font.ttf"), QByteArray(512, 'f')));
    QVERIFY(makeImage(fixture("cover.jpg"), "color=c=red:size=64x64"));
    QVERIFY(makeImage(fixture("cover.png"), "color=c=blue:size=64x64"));
    const QString h264 = " -c:v libx264 -preset ultrafast -c:a aac ";
    const QString clip = " -f lavfi -i testsrc2=size=%1:rate=25:duration=%2 ", small = clip.arg("160x120");
    const QString tone = " -f lavfi -i sine=duration=%1 ";
    const std::pair<const char*, QString> media[] = {
        {"twoaudio.mkv", small.arg(2) + tone.arg(2) + tone.arg(2) + "-map 0 -map 1 -map 2" + h264},
        {"textsubs.mkv",
         "-i @twoaudio.mkv -i @subs.srt -i @subs.srt -map 0 -map 1 -map 2 -c copy -c:s:0 srt -c:s:1 ass"},
        {"audioonly.mkv", "-i @twoaudio.mkv -map 0:a -c copy"},
        {"song.m4a", tone.arg(2) + "-i @cover.jpg -c:a aac -c:v copy -disposition:v attached_pic"},
        // ASS subtitles with the font they name, as an attachment.
        {"fonts.mkv",
         "-i @twoaudio.mkv -i @subs.srt -attach @font.ttf -metadata:s:t mimetype=font/ttf -map 0:v "
         "-map 0:a:0 -map 1 -c copy -c:s ass"},
        // Variable frame rate: VP8 with frames missing in the middle, which still lasts two seconds.
        {"gaps.webm", small.arg(2) + "-vf select='not(between(n,10,35))' -fps_mode vfr -c:v libvpx"},
        {"wide.mp4", clip.arg("1918x1080").arg(0.2) + h264},
        {"rotated.mp4", clip.arg("320x240").arg(1) + h264},
        // One second of video, three of sound, and a cover the demuxer gives first: as long as the sound.
        {"coverfirst.mp4", small.arg(1) + tone.arg(3) + "-i @cover.png -map 0 -map 1 -map 2" + h264 +
                               "-c:v:1 png -disposition:v:1 attached_pic"},
        {"raw.h264", small.arg(4) + h264 + "-f h264"}, // no container duration
        {"part3.vob", small.arg(3) + tone.arg(3) + "-c:v mpeg2video -c:a ac3 -f vob"},
        {"part2.vob", small.arg(2) + tone.arg(2) + "-c:v mpeg2video -c:a ac3 -f vob"},
        {"long.mp4", clip.arg("320x240").arg(20) + tone.arg(20) + h264}, // more than a preview
        // A clip squeezed hard: a re-encode at a high quality comes out larger.
        {"tight.mp4", small.arg(1) + "-c:v libx264 -preset veryslow -crf 45"},
        // Half a second of the two-track clip: what an encode cut short would leave.
        {"short.mp4", "-i @twoaudio.mkv -map 0 -t 0.5" + h264},
        // A place of recording, a title and a French audio track.
        {"located.mp4", clip.arg("320x240").arg(1) + tone.arg(1) + h264 +
                            "-metadata title=Tower -metadata "
                            "location=+48.8577+002.2950/ -metadata location-eng=+48.8577+002.2950/ "
                            "-metadata:s:a:0 language=fra"},
    };
    for (const auto& [name, arguments] : media)
        QVERIFY2(generate(name, arguments), name);
    QVERIFY(setMp4Rotation(fixture("rotated.mp4"), 90));
    QVERIFY(coverFirst(fixture("coverfirst.mp4")));
    // Stand-ins for ffmpeg. The fake tool does what its quality says; the script, whatever it is asked,
    // copies the short clip to its output: the word before "-progress FILE".
    QVERIFY(QDir().mkpath(fixture("fake")) &&
            QFile::link(QStringLiteral(FAKE_TOOL_PATH), fixture("fake/ffmpeg")));
    const QString script = "#!/bin/sh\neval \"out=\\${$(($# - 2))}\"\ncp '%1' \"$out\"\n";
    QVERIFY(QDir().mkpath(fixture("cut")) &&
            writeAll(fixture("cut/ffmpeg"), script.arg(fixture("short.mp4")).toUtf8()));
    QVERIFY(QFile::setPermissions(fixture("cut/ffmpeg"), QFile::ReadOwner | QFile::ExeOwner));
    // Two program streams joined byte for byte: a VOB whose clocks restart in the middle.
    QVERIFY(writeAll(fixture("joined.vob"), readAll(fixture("part3.vob")) + readAll(fixture("part2.vob"))));
}

void TestVideoCompressor::init()
{
    mWork = std::make_unique<QTemporaryDir>();
    QVERIFY(mWork->isValid());
}

void TestVideoCompressor::cleanup()
{
    Nerova::getConfig()[kFFmpegPath] = QString();
    Nerova::GpuModel::setGpuModelNameList({});
    QCOMPARE(entriesStartingWith(mWork->path(), "."), QStringList()); // nothing left set aside
    QCOMPARE(QDir(VideoCompressor::progressDirectory()).entryList(QDir::Files), QStringList());
}

QSharedPointer<ICompressTask> TestVideoCompressor::makeTask(const QString& in, const QString& out,
                                                            const QVariantMap& extra)
{
    QVariantMap request{{"inputPath", in}, {"outputPath", out}, {"quality", 30}, {"preset", "ultrafast"}};
    request.insert(extra);
    return CompressorEntry()->createCompressTask(request);
}

TaskResult TestVideoCompressor::encode(const QString& in, const QString& out, const QVariantMap& extra,
                                       bool preview)
{
    const auto task = makeTask(in, out, extra);
    // Progress of a full encode comes from its thread: a receiver here, gone before the locals, collects it.
    QList<float> progress;
    QObject receiver;
    connect(task.data(), &ICompressTask::compressProcess, &receiver, [&](float value) { progress << value; });
    QSignalSpy finished(task.data(), &ICompressTask::compressFinished);
    if (!finished.isValid() || !(preview ? task->previewTask() : task->startTask()) ||
        (finished.isEmpty() && !finished.wait(300000)))
        return {};
    QCoreApplication::processEvents(); // a second finish would show here
    const TaskResult result{true, int(finished.count()), finished[0][0].toInt(), finished[0][1].toString()};
    const bool ok =
        compressTask(task)->status() == int(CompressTask::StatusSucceeded) && progress.contains(1.0f);
    if ((result.code == 0 && !ok) ||
        std::any_of(progress.cbegin(), progress.cend(), [](float v) { return v < 0 || v > 1; }))
        return {};
    return result;
}

void TestVideoCompressor::eachContainer_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<int>("container");
    QTest::addColumn<int>("kind");
    const int count = int(std::size(kContainers));
    for (const char* name : {"textsubs.mkv", "song.m4a", "fonts.mkv", "audioonly.mkv", "gaps.webm"}) {
        for (int c = 0; c < count; ++c)
            QTest::addRow("%s to %s", name, kContainers[c].suffix) << fixture(name) << c << int(Generated);
    }
    // A preview holds the first 15 s, in what the container takes.
    QTest::newRow("preview to mp4") << fixture("long.mp4") << 0 << int(Preview);
    QTest::newRow("preview to webm") << fixture("long.mp4") << count - 1 << int(Preview);
    // Each real file kept with the tests goes to three containers, a third of them apart, so that every
    // container meets several real files while the suite stays short.
    QStringList real = QDir(TEST_DATA_DIR "/video").entryList(QDir::Files);
    real.removeAll("SOURCES.md");
    for (int i = 0; i < real.size(); ++i) {
        for (int step = 0; step < 3; ++step) {
            const int container = (i + step * count / 3) % count;
            QTest::addRow("%s to %s", qPrintable(real.at(i)), kContainers[container].suffix)
                << QStringLiteral(TEST_DATA_DIR "/video/") + real.at(i) << container << int(Real);
        }
    }
}

void TestVideoCompressor::eachContainer()
{
    QFETCH(QString, source);
    QFETCH(int, container);
    QFETCH(int, kind);
    const ContainerRule& rule = kContainers[container];
    const QString output = path(QString("out.") + rule.suffix);
    const TaskResult result = encode(source, output, {{"scale", kind == Real ? "4" : "2"}}, kind == Preview);
    QCOMPARE(result.finishCount, 1);
    if (source.endsWith("tiny_1x1.wmv")) { // one pixel cannot be decoded: it may not pass for a success
        QVERIFY(result.code != 0 && !QFileInfo::exists(output));
        return;
    }
    QCOMPARE(result.code, 0);
    QCOMPARE(result.text, QString("successful"));

    Content before = probeContent(source), after = probeContent(output);
    QMap<QString, QStringList>&b = before.streams, &a = after.streams;
    const int tracks = rule.severalAudio ? b["audio"].size() : std::min(b["audio"].size(), 1);
    QCOMPARE(a["video"], b["video"].isEmpty() ? QStringList() : QStringList{rule.video});
    QCOMPARE(a["audio"].size(), tracks);
    const double expected = kind == Preview ? 15.0 : before.seconds;
    QVERIFY2(std::abs(after.seconds - expected) <= std::max(0.5, expected * 0.02),
             qPrintable(QString("%1 s instead of %2 s").arg(after.seconds).arg(expected)));
    if (kind == Real)
        return;
    QCOMPARE(a["audio"], QStringList(QVector<QString>(tracks, rule.audio).toList()));
    QStringList subtitles;
    for (const QString& codec : b["subtitle"]) {
        if (*rule.textSubtitles)
            subtitles << (QLatin1String(rule.textSubtitles) == "copy" ? codec : rule.textSubtitles);
    }
    QCOMPARE(a["subtitle"], subtitles);
    QCOMPARE(a["attachment"].size(), rule.attachments ? b["attachment"].size() : 0);
    QCOMPARE(a["cover"].size(), rule.cover ? b["cover"].size() : 0);
}

void TestVideoCompressor::arguments_data()
{
    QTest::addColumn<int>("row");
    for (int row = 0; row < int(std::size(kArguments)); ++row)
        QTest::newRow(kArguments[row].name) << row;
}

void TestVideoCompressor::arguments()
{
    QFETCH(int, row);
    const Arguments& a = kArguments[row];
    QVariantMap request{{"inputPath", fixture(a.source)}, {"outputPath", path(a.output)}, {"scale", a.scale}};
    request.insert(QVariantMap{{"maxWidth", a.maxWidth}, {"maxHeight", QString::number(a.maxHeight)}});
    if (*a.threads)
        request.insert("threads", a.threads);
    VideoCompressor task(request);
    Nerova::GpuModel::setGpuModelNameList({QVariantMap{{"name", a.gpu}}});
    const QStringList list = a.preview ? task.makeVideoPreviewParam({})
                             : *a.gpu  ? task.makeVideoHardwareParam({})
                                       : task.makeVideoCompressParam({});
    QVERIFY2(list.contains(QString("-c:v ") + a.encoder), qPrintable(list.join(' ')));
    QCOMPARE(list.value(list.indexOf("-vf") + 1), QString("scale=") + a.size);
    QCOMPARE(task.property("resized").toString(), QString(a.resized));
    const QString third = QString::number(int(std::ceil(float(std::thread::hardware_concurrency()) / 3.0f)));
    QCOMPARE(list.value(list.indexOf("-threads") + 1), *a.threads ? QString(a.threads) : third);
}

void TestVideoCompressor::stripsTheLocation_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QString>("policy");
    QTest::newRow("mp4, gps") << QString("located.mp4") << QString("mp4") << QString("gps");
    QTest::newRow("mp4, all") << QString("located.mp4") << QString("mp4") << QString("all");
    QTest::newRow("mp4 to mkv, gps") << QString("located.mp4") << QString("mkv") << QString("gps");
}

void TestVideoCompressor::stripsTheLocation()
{
    QFETCH(QString, source);
    QFETCH(QString, suffix);
    QFETCH(QString, policy);
    const QString output = path("out." + suffix);
    QVERIFY(probeContent(fixture(source)).tags.contains("location"));

    const auto task = makeTask(fixture(source), output, {{"strip", policy}, {"maxWidth", "160"}});
    QCOMPARE(runTask(*task, 120000).code, 0);
    QCOMPARE(frameSize(output), QString("160x120"));
    const QString left = probeContent(output).tags.toLower();
    QVERIFY2(!left.contains("location"), qPrintable(left));
    const QVariantMap exif = metadataTags(output);
    for (auto it = exif.cbegin(); it != exif.cend(); ++it)
        QVERIFY2(!it.key().contains("GPS") && !it.key().contains("Location"), qPrintable(it.key()));
    QCOMPARE(left.contains("tower"), policy == "gps");
    QVERIFY(left.contains("fra")); // the streams keep their own tags
}

// The length a full encode measures its progress against.
void TestVideoCompressor::sourceLength_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<int>("expectedMs");
    QTest::newRow("cover picture first: the video's, not the cover's") << QString("coverfirst.mp4") << 1000;
    QTest::newRow("raw stream: estimated by reading it") << QString("raw.h264") << 4000;
    QTest::newRow("VOB whose clocks restart: every chapter") << QString("joined.vob") << 5000;
}

void TestVideoCompressor::sourceLength()
{
    QFETCH(QString, source);
    QFETCH(int, expectedMs);
    VideoCompressor task({{"inputPath", fixture(source)}, {"outputPath", path("out.mp4")}});
    QVERIFY(!task.makeVideoCompressParam({}).isEmpty());
    QCOMPARE(qRound(task.sourceDurationMs() / 500.0), expectedMs / 500); // to the nearest half second
}

void TestVideoCompressor::keepsTheSourceWhenTheResultGrows_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<bool>("sourceKept");
    QTest::newRow("same container: the source's bytes") << QString("mp4") << true;
    QTest::newRow("another container: the conversion") << QString("mkv") << false;
}

void TestVideoCompressor::keepsTheSourceWhenTheResultGrows()
{
    QFETCH(QString, suffix);
    QFETCH(bool, sourceKept);
    const QString output = path("out." + suffix);
    const auto task = makeTask(fixture("tight.mp4"), output, {{"quality", "0"}});
    QCOMPARE(runTask(*task, 120000).code, 0);
    QCOMPARE(task->property("sourceKept").toBool(), sourceKept);
    const QByteArray source = readAll(fixture("tight.mp4"));
    QCOMPARE(readAll(output) == source, sourceKept);
    QVERIFY(QFileInfo(output).size() >= source.size());
}

void TestVideoCompressor::abortInTheMiddle()
{
    const QString output = path("aborted.mp4");
    const auto task = makeTask(fixture("long.mp4"), output, {{"preset", "veryslow"}}); // busy for long
    int progress = 0;
    QObject receiver;
    connect(task.data(), &ICompressTask::compressProcess, &receiver, [&] { ++progress; });
    QSignalSpy finished(task.data(), &ICompressTask::compressFinished);
    QVERIFY(finished.isValid() && task->startTask());
    QTRY_VERIFY_WITH_TIMEOUT(progress > 0, 60000);
    QVERIFY(finished.isEmpty());

    task->abortTask();
    QTRY_COMPARE(finished.count(), 1);
    QCOMPARE(compressTask(task)->status(), int(CompressTask::StatusFailed));
    QVERIFY(!QFileInfo::exists(output));
    QCoreApplication::processEvents();
    QCOMPARE(finished.count(), 1);
}

// Runs that cannot give a usable result fail, and the user's file stays as it was: a stand-in ffmpeg's
// exit status or result, a request that names the source as output or carries unsafe values.
void TestVideoCompressor::failsKeepingTheUsersFile_data()
{
    QTest::addColumn<QString>("behaviour"); // the fake tool's, or "short": a result cut short
    QTest::addColumn<QString>("output");
    QTest::addColumn<QVariantMap>("request");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    const QString out = "out.mp4", checked = FinishCode::resultNotAsExpectedText(),
                  invalid = FinishCode::invalidRequestText();
    const int unexpected = FinishCode::ResultNotAsExpected, same = FinishCode::OutputIsSource;
    const QVariantMap none;
    const QString copy = "copy";
    QTest::newRow("exit 1") << "nooutput:1" << out << none << 1 << QString(" Check the parameters please ");
    QTest::newRow("exit 2") << "exit:2" << out << none << 2 << QString("Unknown mistake");
    QTest::newRow("exit 0, nothing written") << "nooutput:0" << out << none << unexpected << checked;
    QTest::newRow("exit 0, empty file") << "empty" << out << none << unexpected << checked;
    QTest::newRow("exit 0, no video in it") << "exit:0" << out << none << unexpected << checked;
    QTest::newRow("exit 0, far shorter than the source") << "short" << out << none << unexpected << checked;
    QTest::newRow("onto the source") << copy << "in.mkv" << none << same << FinishCode::outputIsSourceText();
    QTest::newRow("onto a link to it")
        << copy << "link.mkv" << none << same << FinishCode::outputIsSourceText();
    for (const QVariantMap& bad : {QVariantMap{{"scale", "1 -y x.mp4"}}, QVariantMap{{"maxWidth", "-640"}},
                                   QVariantMap{{"maxHeight", "1e3"}}, QVariantMap{{"maxWidth", "70000"}},
                                   QVariantMap{{"strip", "none"}}})
        QTest::addRow("%s", qPrintable(bad.firstKey() + ' ' + bad.first().toString()))
            << copy << out << bad << int(FinishCode::InvalidRequest) << invalid;
}

void TestVideoCompressor::failsKeepingTheUsersFile()
{
    QFETCH(QString, behaviour);
    QFETCH(QString, output);
    QFETCH(QVariantMap, request);
    QFETCH(int, code);
    QFETCH(QString, text);
    Nerova::getConfig()[kFFmpegPath] = fixture(behaviour == "short" ? "cut" : "fake");
    QVERIFY(QFile::copy(fixture("twoaudio.mkv"), path("in.mkv")) &&
            QFile::link(path("in.mkv"), path("link.mkv")));
    QVERIFY(QFileInfo::exists(path(output)) || writeAll(path(output), "the user's own file"));
    const QByteArray before = readAll(path(output));
    request.insert("quality", behaviour);
    const auto task = makeTask(path("in.mkv"), path(output), request);
    const TaskResult result = runTask(*task);
    QCOMPARE(result.finishCount, 1);
    QCOMPARE(result.code, code);
    QCOMPARE(result.text, text);
    QCOMPARE(compressTask(task)->status(), int(CompressTask::StatusFailed));
    QCOMPARE(readAll(path(output)), before);
    makeTask(path("in.mkv"), path(output), request)->abortTask(); // one that never ran deletes nothing
    QCOMPARE(readAll(path(output)), before);
}

QTEST_GUILESS_MAIN(TestVideoCompressor)
#include "tst_videocompressor.moc"
