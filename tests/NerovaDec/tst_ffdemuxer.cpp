// The demuxer: descriptions as ffprobe gives them, files, resources and memory, seeks, logged failures.
#include <NerovaDec/FFDemuxer.h>

#include <MediaGlue/MediaGlue.h>
#include <NerovaBase/NerovaBase.h>

#include "MediaFixtures.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <QtTest>

#include <memory>

using namespace Nerova;

namespace {

const QString kResourceClip = QStringLiteral(":/demuxer/clip.mp4");
const QString kResourceCover = QStringLiteral(":/demuxer/cover.wma");

QString clip(const QString& name)
{
    return QStringLiteral(TEST_DATA_DIR "/video/") + name;
}

QJsonObject ffprobe(const QString& path)
{
    QByteArray output;
    const QStringList arguments =
        QStringLiteral("-v error -print_format json -show_format -show_streams").split(QLatin1Char(' '))
        << path;
    if (!MediaFixtures::run(MediaFixtures::ffprobe(), arguments, &output))
        return {};
    return QJsonDocument::fromJson(output).object();
}

// ffprobe prints times as seconds with six decimals: exact microseconds.
qint64 secondsToUs(const QJsonValue& value)
{
    return qRound64(value.toString().toDouble() * 1000000.0);
}

qint64 number(const QJsonValue& value)
{
    return value.isString() ? value.toString().toLongLong() : qint64(value.toDouble());
}

AVRational rational(const QJsonValue& value)
{
    const QStringList parts = value.toString().split(QRegularExpression(QStringLiteral("[/:]")));
    return parts.size() == 2 ? AVRational{parts.at(0).toInt(), parts.at(1).toInt()} : AVRational{0, 0};
}

bool sameValue(AVRational a, AVRational b)
{
    return qint64(a.num) * b.den == qint64(b.num) * a.den && (a.den != 0) == (b.den != 0);
}

QStringList messages()
{
    QStringList result;
    for (const Record& record : NerovaBaseEntry()->logSink()->takeCaptured())
        result << record.message();
    return result;
}

int countPackets(AVFormatContext* context)
{
    QSharedPointer<AVPacket> packet(av_packet_alloc(), [](AVPacket* p) { av_packet_free(&p); });
    int count = 0;
    for (; av_read_frame(context, packet.data()) == 0; ++count)
        av_packet_unref(packet.data());
    return count;
}

qint64 packetMs(AVFormatContext* context, const AVPacket& packet)
{
    return av_rescale_q(packet.pts, context->streams[packet.stream_index]->time_base, AVRational{1, 1000});
}

} // namespace

Q_DECLARE_METATYPE(QVector<bool>)

class TestFFDemuxer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void describesLikeFfprobe_data();
    void describesLikeFfprobe();
    void resourceAndMemoryFiles_data();
    void resourceAndMemoryFiles();
    void seekingOnLateStart();
    void failuresAreLoggedAndChangeNothing();
    void damagedFilesOpenOrFail_data();
    void damagedFilesOpenOrFail();

private:
    QString fixture(const QString& name) const { return mDir.filePath(name); }

    QTemporaryDir mDir;
};

void TestFFDemuxer::initTestCase()
{
    QVERIFY(mDir.isValid());
    // Damaged files make the decoders complain at length; the test looks at results only.
    av_log_set_level(AV_LOG_QUIET);
    // late_start.ts: every frame a key frame, so a seek lands on the exact frame; the clock starts at 1.5 s.
    // raw.h264: a raw stream has no timestamps to seek by.
    for (const auto& [name, options] :
         {std::pair<const char*, const char*>{"late_start.ts", "-t 4 -g 1 -muxdelay 0 "
                                                               "-muxpreload 0 -output_ts_offset 1.5"},
          {"raw.h264", "-t 1 -f h264"}}) {
        const QString line = QStringLiteral("-v error -f lavfi -i testsrc2=size=160x120:rate=25 -c:v libx264 "
                                            "-preset ultrafast ") +
                             QLatin1String(options);
        QVERIFY(MediaFixtures::run(MediaFixtures::ffmpeg(), line.split(QLatin1Char(' ')) << fixture(name)));
    }
    // ffprobe reads the resources' bytes from a copy.
    for (const QString& resource : {kResourceClip, kResourceCover})
        QVERIFY(QFile::copy(resource, fixture(QFileInfo(resource).fileName())));
}

void TestFFDemuxer::init()
{
    NerovaBaseEntry()->logSink()->setCaptureEnabled(true);
    NerovaBaseEntry()->logSink()->takeCaptured();
}

void TestFFDemuxer::describesLikeFfprobe_data()
{
    QTest::addColumn<QString>("file");     // what ffprobe reads
    QTest::addColumn<QString>("openPath"); // what the demuxer opens
    QTest::addColumn<int>("rotation");     // of the first video stream, clockwise
    QTest::addColumn<QSize>("displaySize");
    QTest::addColumn<bool>("cover");
    QTest::addColumn<QVector<bool>>("textSubtitles");

    const auto row = [](const char* name, const QString& file, int rotation, QSize size, bool cover,
                        QVector<bool> text = {}, const QString& openPath = {}) {
        QTest::newRow(name) << file << (openPath.isEmpty() ? file : openPath) << rotation << size << cover
                            << text;
    };
    // The display matrix holds -90 degrees, counter-clockwise.
    row("rotated", clip(QStringLiteral("iphone_rotated.mov")), 90, QSize(320, 568), false);
    row("flagged cover", clip(QStringLiteral("cover_mp3.mp3")), 0, QSize(1400, 1400), true);
    row("attachment", clip(QStringLiteral("mkv_attachment.mkv")), 0, QSize(640, 360), false);
    row("text subtitle", clip(QStringLiteral("mkv_srt.mkv")), 0, QSize(1080, 720), false, {true});
    row("bitmap subtitle", clip(QStringLiteral("mkv_vobsub.mkv")), 0, QSize(1080, 720), false, {false});
    // ASF flags no cover art: a video stream of more than three packets is real video.
    row("asf video", clip(QStringLiteral("msmpeg4v3_8khz.asf")), 0, QSize(160, 120), false);
    row("raw stream", fixture(QStringLiteral("raw.h264")), 0, QSize(160, 120), false);
    row("resource", fixture(QStringLiteral("clip.mp4")), 0, QSize(320, 240), false, {}, kResourceClip);
    row("asf cover resource", fixture(QStringLiteral("cover.wma")), 0, QSize(160, 120), true, {},
        kResourceCover);
}

void TestFFDemuxer::describesLikeFfprobe()
{
    QFETCH(QString, file);
    QFETCH(QString, openPath);
    QFETCH(int, rotation);
    QFETCH(QSize, displaySize);
    QFETCH(bool, cover);
    QFETCH(QVector<bool>, textSubtitles);
    const QJsonObject probe = ffprobe(file);
    QVERIFY(!probe.isEmpty());
    const QJsonObject format = probe.value(QStringLiteral("format")).toObject();
    const QJsonArray streams = probe.value(QStringLiteral("streams")).toArray();
    FFDemuxer demuxer;
    QVERIFY(demuxer.open(openPath));
    const QSharedPointer<ContainerInfo> info = demuxer.containerInfo();

    // Container: the description adds 5 ms to the duration on purpose, durationMs() truncates.
    const qint64 us = secondsToUs(format.value(QStringLiteral("duration")));
    QCOMPARE(info->durationMs,
             format.contains(QStringLiteral("duration")) ? (us + 5000) / 1000 : info->durationMs);
    QCOMPARE(demuxer.durationMs(), us / 1000);
    if (format.contains(QStringLiteral("start_time")))
        QCOMPARE(info->startTimeSec,
                 qint64(float(secondsToUs(format.value(QStringLiteral("start_time")))) / 1000000.0f));
    QCOMPARE(info->bitRate, number(format.value(QStringLiteral("bit_rate"))));
    QCOMPARE(info->formatName, format.value(QStringLiteral("format_long_name")).toString());
    QCOMPARE(info->streams.size(), streams.size());

    int videoCount = 0, audioCount = 0, subtitleCount = 0;
    for (const QJsonValue& value : streams) {
        const QJsonObject stream = value.toObject();
        const int index = stream.value(QStringLiteral("index")).toInt();
        const QString type = stream.value(QStringLiteral("codec_type")).toString();
        const AVRational timeBase = rational(stream.value(QStringLiteral("time_base")));
        const QSharedPointer<CStreamInfo> basic = info->streams.at(index);
        const AVCodecDescriptor* codec =
            avcodec_descriptor_get_by_name(stream.value(QStringLiteral("codec_name")).toString().toUtf8());
        QCOMPARE(basic->index, index);
        QCOMPARE(basic->codecId, codec ? int(codec->id) : int(AV_CODEC_ID_NONE));
        QVERIFY(sameValue(info->getStreamTimeBase(index), timeBase));
        const qint64 durationMs =
            qint64(double(number(stream.value(QStringLiteral("duration_ts")))) * av_q2d(timeBase) * 1000.0);

        if (type == QLatin1String("video")) {
            QCOMPARE(basic->mediaType, int(AVMEDIA_TYPE_VIDEO));
            const QSharedPointer<CVideoStreamInfo> video = info->videoStreams.at(videoCount++);
            QCOMPARE(video->index, index);
            QCOMPARE(video->width, stream.value(QStringLiteral("width")).toInt());
            QCOMPARE(video->height, stream.value(QStringLiteral("height")).toInt());
            if (stream.contains(QStringLiteral("duration_ts")))
                QCOMPARE(video->durationMs, durationMs);
            // The frame rate: the average one unless above 120, then the real one unless above 119.
            const AVRational average = rational(stream.value(QStringLiteral("avg_frame_rate")));
            const AVRational real = rational(stream.value(QStringLiteral("r_frame_rate")));
            const bool averageFits = average.den != 0 && average.num != 0 && average.num / average.den <= 120;
            const bool realFits = real.den != 0 && real.num != 0 && real.num / real.den <= 119;
            const AVRational rate = averageFits || !realFits ? average : real;
            QVERIFY(video->frameRate.num == rate.num && video->frameRate.den == rate.den);
            if (videoCount == 1) {
                QCOMPARE(video->rotation, rotation);
                QCOMPARE(video->displaySize(), displaySize);
                QCOMPARE(video->isAttachedPic, cover);
            }
        } else if (type == QLatin1String("audio")) {
            QCOMPARE(basic->mediaType, int(AVMEDIA_TYPE_AUDIO));
            const QSharedPointer<CAudioStreamInfo> audio = info->audioStreams.at(audioCount++);
            QCOMPARE(audio->index, index);
            QCOMPARE(audio->sampleRate, int(number(stream.value(QStringLiteral("sample_rate")))));
            QCOMPARE(audio->channels, stream.value(QStringLiteral("channels")).toInt());
            if (stream.contains(QStringLiteral("duration_ts")))
                QCOMPARE(audio->durationMs, durationMs);
        } else if (type == QLatin1String("subtitle")) {
            QCOMPARE(info->subtitleStreams.at(subtitleCount)->index, index);
            QCOMPARE(info->subtitleStreams.at(subtitleCount)->isTextSub, textSubtitles.value(subtitleCount));
            ++subtitleCount;
        }
    }
    QVERIFY(info->videoStreams.size() == videoCount && info->audioStreams.size() == audioCount);
    QCOMPARE(subtitleCount, textSubtitles.size());

    // Opened again, the demuxer describes the new file, not the cover verdict it found for the old one.
    QVERIFY(demuxer.open(cover ? clip(QStringLiteral("msmpeg4v3_8khz.asf"))
                               : fixture(QStringLiteral("cover.wma"))));
    QCOMPARE(demuxer.containerInfo()->videoStreams.value(0)->isAttachedPic, !cover);
    QVERIFY(messages().isEmpty());
}

void TestFFDemuxer::resourceAndMemoryFiles_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("resource"); // the same bytes as a resource
    QTest::newRow("mp4 resource") << fixture(QStringLiteral("clip.mp4")) << kResourceClip;
    // The cover check opens the path a second time: that open must find the bytes too.
    QTest::newRow("asf cover resource") << fixture(QStringLiteral("cover.wma")) << kResourceCover;
}

void TestFFDemuxer::resourceAndMemoryFiles()
{
    QFETCH(QString, file);
    QFETCH(QString, resource);
    FFDemuxer fromFile;
    QVERIFY(fromFile.open(file));
    const int expected = countPackets(fromFile.formatCtx().data());
    const QSharedPointer<ContainerInfo> stored = fromFile.containerInfo();

    // A path no file has: only the registered bytes (or the resource) can answer it.
    const QString memory = mDir.filePath(QStringLiteral("memory/") + QFileInfo(file).fileName());
    FFDemuxer::addMemoryFile(memory, MediaFixtures::readAll(file));
    for (const QString& path : {memory, resource}) {
        auto demuxer = std::make_unique<FFDemuxer>();
        QVERIFY(demuxer->open(path));
        const QSharedPointer<ContainerInfo> info = demuxer->containerInfo();
        QCOMPARE(info->streams.size(), stored->streams.size());
        QCOMPARE(info->durationMs, stored->durationMs);
        QCOMPARE(info->videoStreams.first()->isAttachedPic, stored->videoStreams.first()->isAttachedPic);
        // A failed resource open leaves the open container as it was.
        QVERIFY(demuxer->readPacket());
        QVERIFY(!demuxer->open(QStringLiteral(":/demuxer/missing.mp4")));
        QCOMPARE(messages(), QStringList{QStringLiteral("mQrcFile->open failed.")});
        // A held container stays readable after the demuxer and the memory file are gone.
        const QSharedPointer<AVFormatContext> held = demuxer->formatCtx();
        demuxer.reset();
        FFDemuxer::removeMemoryFile(memory);
        QCOMPARE(countPackets(held.data()) + 1, expected);
    }
    QVERIFY(!FFDemuxer().open(memory));
}

void TestFFDemuxer::seekingOnLateStart()
{
    FFDemuxer demuxer;
    QVERIFY(demuxer.open(fixture(QStringLiteral("late_start.ts"))));
    AVFormatContext* context = demuxer.formatCtx().data();
    QCOMPARE(context->start_time, qint64(1500000));
    QVector<QSharedPointer<AVPacket>> packets;
    while (QSharedPointer<AVPacket> packet = demuxer.readPacket())
        packets << packet;
    QCOMPARE(packets.size(), 100);
    QCOMPARE(packetMs(context, *packets.first()), qint64(1500));

    // Times count from the start of the presentation: 1000 ms is 2.5 s on the container's clock.
    demuxer.seek(1000);
    QCOMPARE(packetMs(context, *demuxer.readPacket()), qint64(2500));
    // A time of 0 or less is used as it is, which lies before the first packet.
    demuxer.seek(0);
    QCOMPARE(packetMs(context, *demuxer.readPacket()), qint64(1500));
    demuxer.seekByStream(1000, 0);
    QCOMPARE(packetMs(context, *demuxer.readPacket()), qint64(2500));
    // Stream indices out of range change nothing.
    demuxer.seekByStream(0, -1);
    demuxer.seekByStream(0, int(context->nb_streams));
    QCOMPARE(packetMs(context, *demuxer.readPacket()), qint64(2540));
    demuxer.seekByFilePos(packets.at(60)->pos);
    QCOMPARE(demuxer.readPacket()->pts, packets.at(60)->pts);
    QVERIFY(messages().isEmpty());
}

void TestFFDemuxer::failuresAreLoggedAndChangeNothing()
{
    FFDemuxer demuxer;
    QVERIFY(!demuxer.readPacket() && !demuxer.containerInfo() && demuxer.durationMs() == 0);
    demuxer.seek(1000);

    // A missing file, then one that is no container: each logged with its size, the demuxer left closed.
    QVERIFY(demuxer.open(clip(QStringLiteral("mkv_attachment.mkv"))));
    const QSharedPointer<AVFormatContext> before = demuxer.formatCtx();
    QVERIFY(!demuxer.open(QString()));
    QCOMPARE(demuxer.formatCtx(), before);
    QVERIFY(!demuxer.open(fixture(QStringLiteral("missing.mp4"))));
    QVERIFY(!demuxer.formatCtx());
    const QList<Record> records = NerovaBaseEntry()->logSink()->takeCaptured();
    QCOMPARE(records.size(), 2);
    QCOMPARE(records.at(0).message(), QStringLiteral("---demux--- avformat_open_input: %1: %2")
                                          .arg(AVERROR(ENOENT))
                                          .arg(ffmpegErrorText(AVERROR(ENOENT))));
    QCOMPARE(records.at(1).message(), QStringLiteral("---demux--- Could not open the file . fileSize :0"));
    const QString junk = fixture(QStringLiteral("junk.mp4"));
    QVERIFY(MediaFixtures::writeAll(junk, QByteArray(1234, '\0')));
    QVERIFY(!demuxer.open(junk));
    QCOMPARE(messages().value(1), QStringLiteral("---demux--- Could not open the file . fileSize :1234"));

    // Seeks that libavformat refuses are logged and leave the demuxer open.
    FFDemuxer raw;
    QVERIFY(raw.open(fixture(QStringLiteral("raw.h264"))));
    raw.seek(1000);
    raw.seekByStream(1000, 0);
    QCOMPARE(messages(),
             (QStringList{QStringLiteral("---player--- av_seek_frame: -1: ") + ffmpegErrorText(-1),
                          QStringLiteral("---player--- seekByStream streamIndex: 0,res : -1: ") +
                              ffmpegErrorText(-1)}));
    raw.seekByFilePos(0);
    QVERIFY(raw.readPacket());
    FFDemuxer mp4;
    QVERIFY(mp4.open(fixture(QStringLiteral("clip.mp4"))));
    mp4.seekByFilePos(1000);
    QCOMPARE(messages(), QStringList{QStringLiteral("---player--- seekByFilePos av_seek_frame: -1: ") +
                                     ffmpegErrorText(-1)});
}

void TestFFDemuxer::damagedFilesOpenOrFail_data()
{
    QTest::addColumn<QString>("file");
    for (const char* name : {"iphone_rotated.mov", "mkv_srt.mkv", "msmpeg4v3_8khz.asf", "cover_mp3.mp3"})
        QTest::newRow(name) << clip(QString::fromLatin1(name));
    for (const char* name : {"late_start.ts", "raw.h264"})
        QTest::newRow(name) << fixture(QString::fromLatin1(name));
}

void TestFFDemuxer::damagedFilesOpenOrFail()
{
    // Cut short or with bits flipped: opening fails or reading, seeking and describing end.
    QFETCH(QString, file);
    const QByteArray original = MediaFixtures::readAll(file);
    QVERIFY(!original.isEmpty());
    QTemporaryDir dir;
    QRandomGenerator random(quint32(qHash(file)));
    for (const int damage : {1, 300, 990, -8, -64, -512}) {
        QByteArray copy =
            original.left(damage > 0 ? int(original.size() * (damage / 1000.0)) : original.size());
        for (int i = 0; i < -damage; ++i) {
            const int at = int(random.bounded(quint32(copy.size())));
            copy[at] = char(copy.at(at) ^ (1 << random.bounded(8)));
        }
        const QString path =
            dir.filePath(QStringLiteral("damaged_%1.%2").arg(damage).arg(QFileInfo(file).suffix()));
        QVERIFY(MediaFixtures::writeAll(path, copy));
        FFDemuxer demuxer;
        if (!demuxer.open(path))
            continue;
        QVERIFY(demuxer.containerInfo());
        int packets = 0;
        while (demuxer.readPacket() && packets < 1000000)
            ++packets;
        QVERIFY(packets < 1000000);
        demuxer.seek(500);
        demuxer.readPacket();
        demuxer.seekByFilePos(copy.size() / 2);
        demuxer.readPacket();
    }
}

QTEST_GUILESS_MAIN(TestFFDemuxer)
#include "tst_ffdemuxer.moc"
