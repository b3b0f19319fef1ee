// The demuxer on real containers made with ffmpeg: its descriptions against ffprobe's, resources, seeking,
// packet reading, the log lines of failures and damaged files.

#include <NerovaDec/FFDemuxer.h>
#include <base/Config.h>

#include <MediaGlue/MediaGlue.h>
#include <NerovaBase/NerovaBase.h>

#include "MediaFixtures.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/pixdesc.h>
}

#include <QBuffer>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QtTest>

#include <memory>

using namespace Nerova;

namespace {

const QString kResourceClip = QStringLiteral(":/demuxer/clip.mp4");
const QString kResourceCover = QStringLiteral(":/demuxer/cover.wma");

QJsonObject ffprobe(const QString& path)
{
    QByteArray output;
    const QStringList arguments{QStringLiteral("-v"),
                                QStringLiteral("error"),
                                QStringLiteral("-print_format"),
                                QStringLiteral("json"),
                                QStringLiteral("-show_format"),
                                QStringLiteral("-show_streams"),
                                path};
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
    if (parts.size() != 2)
        return AVRational{0, 0};
    return AVRational{parts.at(0).toInt(), parts.at(1).toInt()};
}

bool sameValue(AVRational a, AVRational b)
{
    return qint64(a.num) * b.den == qint64(b.num) * a.den && (a.den != 0) == (b.den != 0);
}

QString text(AVRational value)
{
    return QStringLiteral("%1/%2").arg(value.num).arg(value.den);
}

int mediaType(const QString& name)
{
    static const QMap<QString, int> types{{QStringLiteral("video"), AVMEDIA_TYPE_VIDEO},
                                          {QStringLiteral("audio"), AVMEDIA_TYPE_AUDIO},
                                          {QStringLiteral("data"), AVMEDIA_TYPE_DATA},
                                          {QStringLiteral("subtitle"), AVMEDIA_TYPE_SUBTITLE},
                                          {QStringLiteral("attachment"), AVMEDIA_TYPE_ATTACHMENT}};
    return types.value(name, AVMEDIA_TYPE_UNKNOWN);
}

int codecId(const QJsonObject& stream)
{
    const QString name = stream.value(QStringLiteral("codec_name")).toString();
    const AVCodecDescriptor* descriptor = avcodec_descriptor_get_by_name(name.toUtf8().constData());
    return descriptor ? descriptor->id : AV_CODEC_ID_NONE;
}

// The frame rate the description chooses, from the two rates ffprobe shows.
AVRational chosenFrameRate(AVRational average, AVRational real)
{
    if (average.num != 0 && average.den != 0 && average.num / average.den <= 120)
        return average;
    if (real.num != 0 && real.den != 0 && real.num / real.den <= 119)
        return real;
    return average;
}

// Program arguments written as one line; for fixed options only (paths may hold blanks).
QStringList words(const char* line)
{
    return QString::fromLatin1(line).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

QList<Record> captured()
{
    return NerovaBaseEntry()->logSink()->takeCaptured();
}

QStringList messages(const QList<Record>& records)
{
    QStringList result;
    for (const Record& record : records)
        result << record.message();
    return result;
}

int countPackets(AVFormatContext* context)
{
    int count = 0;
    AVPacket* packet = av_packet_alloc();
    while (av_read_frame(context, packet) == 0) {
        ++count;
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    return count;
}

// ffmpeg has no encoder that makes bitmap subtitles from nothing: this writes an MPEG program stream with
// two small DVD subtitle units by hand (pack header, private stream 1 packet, sub-stream 0x20).
QByteArray dvdSubtitleProgramStream()
{
    auto bytes = [](std::initializer_list<int> values) {
        QByteArray result;
        for (const int value : values)
            result.append(char(value));
        return result;
    };
    auto word = [&bytes](int value) {
        return bytes({(value >> 8) & 0xff, value & 0xff});
    };
    const QByteArray pixels = bytes({0x44, 0x44, 0x44, 0x44});
    const int firstControl = 4 + pixels.size();
    // Start display with palette, contrast, area and line offsets; a second block stops the display.
    const QByteArray commands = bytes({0x01, 0x03, 0x01, 0x23, 0x04, 0xff, 0xf0, 0x05, 0x00, 0x00,
                                       0x01, 0x00, 0x00, 0x01, 0x06, 0x00, 0x04, 0x00, 0x06, 0xff});
    const int secondControl = firstControl + 4 + commands.size();
    const QByteArray body = pixels + word(0) + word(secondControl) + commands + word(100) +
                            word(secondControl) + bytes({0x02, 0xff});
    const QByteArray unit = word(4 + body.size()) + word(firstControl) + body;

    const QByteArray pack =
        bytes({0x00, 0x00, 0x01, 0xba, 0x44, 0x00, 0x04, 0x00, 0x04, 0x01, 0x01, 0x89, 0xc3, 0xf8});
    QByteArray stream;
    for (const qint64 pts : {90000LL, 180000LL}) {
        const QByteArray header =
            bytes({0x81, 0x80, 0x05, int(0x21 | ((pts >> 29) & 0x0e)), int((pts >> 22) & 0xff),
                   int(((pts >> 14) & 0xfe) | 1), int((pts >> 7) & 0xff), int(((pts << 1) & 0xfe) | 1)});
        const QByteArray payload = bytes({0x20}) + unit;
        stream +=
            pack + bytes({0x00, 0x00, 0x01, 0xbd}) + word(header.size() + payload.size()) + header + payload;
    }
    return stream + bytes({0x00, 0x00, 0x01, 0xb9});
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
    void cleanup();

    void describesLikeFfprobe_data();
    void describesLikeFfprobe();
    void containerWithoutStreams();
    void coverTestReadsOnlyAsfFamily();
    void streamInfoLookups();

    void resourceCallbacks();
    void resourceOutlivesDemuxerAndReopen();
    void memoryFileReadsLikeTheFile_data();
    void memoryFileReadsLikeTheFile();

    void seekingOnLateStart();
    void failedSeeksAreLogged();
    void readPacketOfStreamWithoutPackets();
    void closedDemuxer();

    void logsMissingFile();
    void logsMissingResource();
    void emptyPathChangesNothing();
    void factoryGivesUnopenedDemuxer_data();
    void factoryGivesUnopenedDemuxer();

    void damagedFilesOpenOrFail_data();
    void damagedFilesOpenOrFail();

private:
    QString fixture(const QString& name) const { return mDir.filePath(name); }
    bool makeFixture(const QString& name, QStringList arguments);

    QTemporaryDir mDir;
};

bool TestFFDemuxer::makeFixture(const QString& name, QStringList arguments)
{
    arguments.prepend(QStringLiteral("-y"));
    arguments.prepend(QStringLiteral("error"));
    arguments.prepend(QStringLiteral("-v"));
    arguments << fixture(name);
    QByteArray output;
    const bool ok = MediaFixtures::run(MediaFixtures::ffmpeg(), arguments, &output);
    if (!ok)
        qWarning() << name << output;
    return ok;
}

void TestFFDemuxer::initTestCase()
{
    QVERIFY(mDir.isValid());
    // Damaged files make the decoders complain at length; the test looks at results only.
    av_log_set_level(AV_LOG_QUIET);
    if (MediaFixtures::ffmpeg().isEmpty() || MediaFixtures::ffprobe().isEmpty())
        QSKIP("ffmpeg and ffprobe are needed");

    const QStringList video = words("-f lavfi -i testsrc2=size=320x240:rate=25");
    const QStringList x264 = words("-c:v libx264 -preset ultrafast");

    QVERIFY(makeFixture(QStringLiteral("plain.mp4"),
                        video + words("-f lavfi -i sine=frequency=440 -t 2 -c:a aac") + x264));
    // The muxer writes the "rotate" tag as a clockwise display matrix: 270 gives a matrix of -90 degrees.
    const QList<QPair<QString, const char*>> rotations{{QStringLiteral("rotate_m90.mp4"), "rotate=270"},
                                                       {QStringLiteral("rotate_p90.mp4"), "rotate=90"},
                                                       {QStringLiteral("rotate_180.mp4"), "rotate=180"}};
    for (const auto& rotation : rotations) {
        QVERIFY(makeFixture(rotation.first,
                            QStringList{QStringLiteral("-i"), fixture(QStringLiteral("plain.mp4"))} +
                                words("-c copy -metadata:s:v:0") + words(rotation.second)));
    }
    QVERIFY(
        makeFixture(QStringLiteral("anamorphic.mp4"),
                    words("-f lavfi -i testsrc2=size=1440x1080:rate=25 -frames:v 5 -vf setsar=4/3") + x264));

    // Two audio tracks, a text and a bitmap subtitle track and an attachment, which has no packets.
    QVERIFY(MediaFixtures::writeAll(fixture(QStringLiteral("text.srt")),
                                    "1\n00:00:00,500 --> 00:00:01,500\nHello\n\n"));
    QVERIFY(MediaFixtures::writeAll(fixture(QStringLiteral("bitmap.mpg")), dvdSubtitleProgramStream()));
    QVERIFY(MediaFixtures::writeAll(fixture(QStringLiteral("notes.txt")), "attached notes\n"));
    QVERIFY(
        makeFixture(QStringLiteral("tracks.mkv"),
                    video + words("-f lavfi -i sine=frequency=440 -f lavfi -i sine=frequency=880 -i") +
                        QStringList{fixture(QStringLiteral("text.srt"))} + words("-f mpeg -i") +
                        QStringList{fixture(QStringLiteral("bitmap.mpg"))} + words("-attach") +
                        QStringList{fixture(QStringLiteral("notes.txt"))} +
                        words("-metadata:s:t mimetype=text/plain -t 3 -map 0:v -map 1:a -map 2:a -map 3:s "
                              "-map 4:s -c:a aac -c:s:0 srt -c:s:1 copy") +
                        x264));

    const QString coverPicture = fixture(QStringLiteral("cover.jpg"));
    QVERIFY(MediaFixtures::makeImage(coverPicture, QStringLiteral("testsrc2=size=160x120")));
    const QStringList withCover = words("-f lavfi -i sine=frequency=440:duration=2 -i") +
                                  QStringList{coverPicture} + words("-map 0 -map 1");
    QVERIFY(makeFixture(QStringLiteral("cover.mp3"),
                        withCover + words("-c:a libmp3lame -c:v copy -disposition:v attached_pic")));
    // ASF does not flag cover art: the picture is a video stream with one packet.
    QVERIFY(makeFixture(QStringLiteral("cover.wma"), withCover + words("-c:a wmav2 -c:v mjpeg")));
    QVERIFY(makeFixture(QStringLiteral("raw.h264"), video + words("-t 2 -f h264") + x264));
    // Every frame a key frame, so a seek lands on the exact frame; the clock starts at 1.5 s.
    QVERIFY(makeFixture(QStringLiteral("late_start.ts"),
                        video + words("-t 4 -g 1 -muxdelay 0 -muxpreload 0 -output_ts_offset 1.5") + x264));

    // ffprobe reads the resources' bytes from a copy.
    for (const QString& resource : {kResourceClip, kResourceCover}) {
        const QString copy = fixture(QStringLiteral("resource_") + QFileInfo(resource).fileName());
        QVERIFY2(QFile::copy(resource, copy), qPrintable(resource));
    }
}

void TestFFDemuxer::init()
{
    NerovaBaseEntry()->logSink()->setCaptureEnabled(true);
}

void TestFFDemuxer::cleanup()
{
    NerovaBaseEntry()->logSink()->setCaptureEnabled(false);
}

void TestFFDemuxer::describesLikeFfprobe_data()
{
    QTest::addColumn<QString>("file");     // what ffprobe reads
    QTest::addColumn<QString>("openPath"); // what the demuxer opens; the file when empty
    QTest::addColumn<int>("rotation");
    QTest::addColumn<QSize>("displaySize");
    QTest::addColumn<bool>("cover");
    QTest::addColumn<QVector<bool>>("textSubtitles");

    QTest::newRow("no display matrix") << "plain.mp4"
                                       << "" << 0 << QSize(320, 240) << false << QVector<bool>();
    QTest::newRow("matrix -90") << "rotate_m90.mp4"
                                << "" << 90 << QSize(240, 320) << false << QVector<bool>();
    QTest::newRow("matrix +90") << "rotate_p90.mp4"
                                << "" << 270 << QSize(240, 320) << false << QVector<bool>();
    QTest::newRow("matrix 180") << "rotate_180.mp4"
                                << "" << 180 << QSize(320, 240) << false << QVector<bool>();
    QTest::newRow("anamorphic") << "anamorphic.mp4"
                                << "" << 0 << QSize(1920, 1080) << false << QVector<bool>();
    QTest::newRow("tracks") << "tracks.mkv"
                            << "" << 0 << QSize(320, 240) << false << QVector<bool>{true, false};
    QTest::newRow("flagged cover") << "cover.mp3"
                                   << "" << 0 << QSize(160, 120) << true << QVector<bool>();
    QTest::newRow("asf cover") << "cover.wma"
                               << "" << 0 << QSize(160, 120) << true << QVector<bool>();
    QTest::newRow("raw stream") << "raw.h264"
                                << "" << 0 << QSize(320, 240) << false << QVector<bool>();
    QTest::newRow("late start") << "late_start.ts"
                                << "" << 0 << QSize(320, 240) << false << QVector<bool>();
    QTest::newRow("resource") << "resource_clip.mp4" << kResourceClip << 0 << QSize(320, 240) << false
                              << QVector<bool>();
    QTest::newRow("asf cover resource")
        << "resource_cover.wma" << kResourceCover << 0 << QSize(160, 120) << true << QVector<bool>();
}

void TestFFDemuxer::describesLikeFfprobe()
{
    QFETCH(QString, file);
    QFETCH(QString, openPath);
    QFETCH(int, rotation);
    QFETCH(QSize, displaySize);
    QFETCH(bool, cover);
    QFETCH(QVector<bool>, textSubtitles);

    const QJsonObject probe = ffprobe(fixture(file));
    QVERIFY(!probe.isEmpty());
    const QJsonObject format = probe.value(QStringLiteral("format")).toObject();
    const QJsonArray streams = probe.value(QStringLiteral("streams")).toArray();

    FFDemuxer demuxer;
    QVERIFY(demuxer.open(openPath.isEmpty() ? fixture(file) : openPath));
    const QSharedPointer<ContainerInfo> info = demuxer.containerInfo();
    QVERIFY(info);

    // Container: the description adds 5 ms to the duration on purpose, durationMs() truncates.
    if (format.contains(QStringLiteral("duration"))) {
        const qint64 us = secondsToUs(format.value(QStringLiteral("duration")));
        QCOMPARE(info->durationMs, (us + 5000) / 1000);
        QCOMPARE(demuxer.durationMs(), us / 1000);
    } else {
        QVERIFY(info->durationMs <= 0);
        QCOMPARE(demuxer.durationMs(), qint64(0));
    }
    if (format.contains(QStringLiteral("start_time"))) {
        const qint64 us = secondsToUs(format.value(QStringLiteral("start_time")));
        QCOMPARE(info->startTimeSec, qint64(float(us) / 1000000.0f));
    }
    QCOMPARE(info->bitRate, number(format.value(QStringLiteral("bit_rate"))));
    QCOMPARE(info->formatName, format.value(QStringLiteral("format_long_name")).toString());
    QCOMPARE(info->streams.size(), int(number(format.value(QStringLiteral("nb_streams")))));
    QCOMPARE(info->streams.size(), streams.size());

    int videoCount = 0, audioCount = 0, subtitleCount = 0;
    for (const QJsonValue& value : streams) {
        const QJsonObject stream = value.toObject();
        const int index = stream.value(QStringLiteral("index")).toInt();
        const QString type = stream.value(QStringLiteral("codec_type")).toString();
        const AVRational timeBase = rational(stream.value(QStringLiteral("time_base")));
        const QSharedPointer<CStreamInfo> basic = info->streams.at(index);
        QCOMPARE(basic->index, index);
        QCOMPARE(basic->mediaType, mediaType(type));
        QCOMPARE(basic->codecId, codecId(stream));
        QVERIFY(sameValue(basic->timeBase, timeBase));
        QVERIFY(sameValue(info->getStreamTimeBase(index), timeBase));

        const bool hasDuration = stream.contains(QStringLiteral("duration_ts"));
        const qint64 durationMs = hasDuration
                                      ? qint64(double(number(stream.value(QStringLiteral("duration_ts")))) *
                                               (double(timeBase.num) / double(timeBase.den) * 1000.0))
                                      : 0;
        const QString tag = stream.value(QStringLiteral("codec_tag")).toString();
        const quint32 codecTag = tag.mid(2).toUInt(nullptr, 16);

        if (type == QLatin1String("video")) {
            const QSharedPointer<CVideoStreamInfo> video = info->videoStreams.at(videoCount++);
            QCOMPARE(video->index, index);
            QCOMPARE(video->mediaType, -1);
            QCOMPARE(video->codecId, basic->codecId);
            QCOMPARE(video->codecTag, codecTag);
            QCOMPARE(video->width, stream.value(QStringLiteral("width")).toInt());
            QCOMPARE(video->height, stream.value(QStringLiteral("height")).toInt());
            QCOMPARE(
                video->pixelFormat,
                int(av_get_pix_fmt(stream.value(QStringLiteral("pix_fmt")).toString().toUtf8().constData())));
            QCOMPARE(video->bitRate, number(stream.value(QStringLiteral("bit_rate"))));
            const AVRational rate = chosenFrameRate(rational(stream.value(QStringLiteral("avg_frame_rate"))),
                                                    rational(stream.value(QStringLiteral("r_frame_rate"))));
            QVERIFY2(video->frameRate.num == rate.num && video->frameRate.den == rate.den,
                     qPrintable(text(video->frameRate) + QStringLiteral(" vs ") + text(rate)));
            // ffprobe shows a guessed aspect ratio that prefers a square stream value to the codec's; the
            // description takes the codec's then.
            const AVRational aspect = rational(stream.value(QStringLiteral("sample_aspect_ratio")));
            if (video->sampleAspectRatio.num == 0)
                QVERIFY(aspect.num == 0 || aspect.num == aspect.den);
            else
                QVERIFY2(sameValue(video->sampleAspectRatio, aspect),
                         qPrintable(text(video->sampleAspectRatio)));
            if (hasDuration) {
                QCOMPARE(video->durationMs, durationMs);
                QVERIFY(qAbs(video->durationMs -
                             secondsToUs(stream.value(QStringLiteral("duration"))) / 1000) <= 1);
            } else {
                QVERIFY(video->durationMs <= 0);
            }
            // The matrix's angle is counter-clockwise, the description's clockwise.
            int probeRotation = 0;
            for (const QJsonValue& sideData : stream.value(QStringLiteral("side_data_list")).toArray())
                probeRotation += sideData.toObject().value(QStringLiteral("rotation")).toInt();
            QCOMPARE((video->rotation + probeRotation + 720) % 360, 0);
            const bool flagged = stream.value(QStringLiteral("disposition"))
                                     .toObject()
                                     .value(QStringLiteral("attached_pic"))
                                     .toInt() != 0;
            if (videoCount == 1) {
                QCOMPARE(video->rotation, rotation);
                QCOMPARE(video->displaySize(), displaySize);
                QCOMPARE(video->isAttachedPic, cover);
                if (!info->formatName.contains(QLatin1String("ASF")))
                    QCOMPARE(video->isAttachedPic, flagged);
            } else {
                QCOMPARE(video->isAttachedPic, flagged);
            }
        } else if (type == QLatin1String("audio")) {
            const QSharedPointer<CAudioStreamInfo> audio = info->audioStreams.at(audioCount++);
            QCOMPARE(audio->index, index);
            QCOMPARE(audio->mediaType, -1);
            QCOMPARE(audio->codecId, basic->codecId);
            QCOMPARE(audio->codecTag, codecTag);
            QCOMPARE(audio->sampleRate, int(number(stream.value(QStringLiteral("sample_rate")))));
            QCOMPARE(audio->channels, stream.value(QStringLiteral("channels")).toInt());
            QCOMPARE(audio->sampleFormat,
                     int(av_get_sample_fmt(
                         stream.value(QStringLiteral("sample_fmt")).toString().toUtf8().constData())));
            QCOMPARE(audio->bitRate, number(stream.value(QStringLiteral("bit_rate"))));
            if (stream.contains(QStringLiteral("channel_layout"))) {
                AVChannelLayout layout{};
                QCOMPARE(av_channel_layout_from_string(
                             &layout,
                             stream.value(QStringLiteral("channel_layout")).toString().toUtf8().constData()),
                         0);
                QCOMPARE(audio->channelLayout, quint64(layout.u.mask));
                av_channel_layout_uninit(&layout);
            }
            if (hasDuration)
                QCOMPARE(audio->durationMs, durationMs);
            else
                QVERIFY(audio->durationMs <= 0);
        } else if (type == QLatin1String("subtitle")) {
            const QSharedPointer<CSubtitleStreamInfo> subtitle = info->subtitleStreams.at(subtitleCount);
            QCOMPARE(subtitle->index, index);
            QCOMPARE(subtitle->isTextSub, textSubtitles.value(subtitleCount));
            ++subtitleCount;
        }
    }
    QCOMPARE(info->videoStreams.size(), videoCount);
    QCOMPARE(info->audioStreams.size(), audioCount);
    QCOMPARE(info->subtitleStreams.size(), subtitleCount);
    QCOMPARE(subtitleCount, textSubtitles.size());
    QVERIFY(messages(captured()).isEmpty());
}

void TestFFDemuxer::containerWithoutStreams()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("empty.ffmeta"));
    QVERIFY(MediaFixtures::writeAll(path, ";FFMETADATA1\ntitle=nothing\n"));
    FFDemuxer demuxer;
    QVERIFY(demuxer.open(path));
    const QSharedPointer<ContainerInfo> info = demuxer.containerInfo();
    QVERIFY(info);
    QVERIFY(info->videoStreams.isEmpty());
    QVERIFY(info->audioStreams.isEmpty());
    QVERIFY(info->subtitleStreams.isEmpty());
    QVERIFY(info->streams.isEmpty());
    QVERIFY(!demuxer.readPacket());
}

void TestFFDemuxer::coverTestReadsOnlyAsfFamily()
{
    // The attachment of the Matroska file shows up among all streams only.
    FFDemuxer demuxer;
    QVERIFY(demuxer.open(fixture(QStringLiteral("tracks.mkv"))));
    const QSharedPointer<ContainerInfo> info = demuxer.containerInfo();
    QCOMPARE(info->streams.size(), 6);
    QCOMPARE(info->streams.at(5)->mediaType, int(AVMEDIA_TYPE_ATTACHMENT));

    QCOMPARE(isCoverStream(fixture(QStringLiteral("plain.mp4")), 0), false);
    QCOMPARE(isCoverStream(fixture(QStringLiteral("cover.wma")), 1), true);
    // The audio stream has far more than three packets.
    QCOMPARE(isCoverStream(fixture(QStringLiteral("cover.wma")), 0), false);
    QCOMPARE(isCoverStream(kResourceCover, 1), true);
}

void TestFFDemuxer::streamInfoLookups()
{
    FFDemuxer demuxer;
    QVERIFY(demuxer.open(fixture(QStringLiteral("tracks.mkv"))));
    QCOMPARE(demuxer.videoStreamInfo(0)->index, 0);
    QVERIFY(!demuxer.videoStreamInfo(1));
    QCOMPARE(demuxer.audioStreamInfo(2)->index, 2);
    QVERIFY(!demuxer.audioStreamInfo(0));
    QVERIFY(!demuxer.audioStreamInfo(99));
    // Each request builds a new description.
    QVERIFY(demuxer.containerInfo() != demuxer.containerInfo());
    QVERIFY(demuxer.videoStreamInfo(0) != demuxer.videoStreamInfo(0));
}

void TestFFDemuxer::resourceCallbacks()
{
    QByteArray data("0123456789");
    QBuffer device(&data);
    QVERIFY(device.open(QIODevice::ReadOnly));
    void* opaque = static_cast<QIODevice*>(&device);

    QCOMPARE(qrc_seek(nullptr, 0, SEEK_SET), int64_t(-1));
    QCOMPARE(qrc_seek(opaque, 0, AVSEEK_SIZE), int64_t(-1));
    QCOMPARE(qrc_seek(opaque, 0, SEEK_SET | AVSEEK_FORCE), int64_t(-1));
    QCOMPARE(qrc_seek(opaque, 3, SEEK_SET), int64_t(3));
    QCOMPARE(qrc_seek(opaque, 2, SEEK_CUR), int64_t(5));
    QCOMPARE(qrc_seek(opaque, -4, SEEK_END), int64_t(6));
    QTest::ignoreMessage(QtWarningMsg, "QBuffer::seek: Invalid pos: -14");
    QCOMPARE(qrc_seek(opaque, -20, SEEK_CUR), int64_t(-1));

    uint8_t buffer[8] = {};
    QCOMPARE(qrc_read_packet(nullptr, buffer, 8), -1);
    QCOMPARE(qrc_read_packet(opaque, buffer, 8), 4);
    QCOMPARE(QByteArray(reinterpret_cast<char*>(buffer), 4), QByteArray("6789"));
    // The end of the data is end of file to libavformat, not a read error.
    QCOMPARE(qrc_read_packet(opaque, buffer, 8), AVERROR_EOF);
    device.close();
    QTest::ignoreMessage(QtWarningMsg, "QIODevice::read (QBuffer): device not open");
    QCOMPARE(qrc_read_packet(opaque, buffer, 8), -1);
}

void TestFFDemuxer::resourceOutlivesDemuxerAndReopen()
{
    FFDemuxer fromFile;
    QVERIFY(fromFile.open(fixture(QStringLiteral("resource_clip.mp4"))));
    const int expected = countPackets(fromFile.formatCtx().data());
    QVERIFY(expected > 0);

    // A failed resource open leaves the open container readable: it still has its own resource file.
    auto demuxer = std::make_unique<FFDemuxer>();
    QVERIFY(demuxer->open(kResourceClip));
    QVERIFY(demuxer->readPacket());
    QVERIFY(!demuxer->open(QStringLiteral(":/demuxer/missing.mp4")));
    QVERIFY(demuxer->formatCtx());
    int count = 1;
    while (demuxer->readPacket())
        ++count;
    QCOMPARE(count, expected);

    // A held context stays readable after the demuxer that opened it is gone.
    QVERIFY(demuxer->open(kResourceClip));
    QSharedPointer<AVFormatContext> held = demuxer->formatCtx();
    demuxer.reset();
    QCOMPARE(countPackets(held.data()), expected);

    // Reopening replaces the container; the earlier one reads on through its own file.
    FFDemuxer reopened;
    QVERIFY(reopened.open(kResourceClip));
    QSharedPointer<AVFormatContext> first = reopened.formatCtx();
    QVERIFY(reopened.open(kResourceCover));
    QVERIFY(reopened.formatCtx() != first);
    QCOMPARE(countPackets(first.data()), expected);
    QVERIFY(messages(captured()).contains(QStringLiteral("mQrcFile->open failed.")));
}

void TestFFDemuxer::memoryFileReadsLikeTheFile_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("cover");
    QTest::newRow("mp4") << QStringLiteral("plain.mp4") << false;
    QTest::newRow("mkv with subtitles and attachment") << QStringLiteral("tracks.mkv") << false;
    // The cover check opens the path a second time: that open must find the bytes too.
    QTest::newRow("wma with cover") << QStringLiteral("cover.wma") << true;
}

void TestFFDemuxer::memoryFileReadsLikeTheFile()
{
    QFETCH(QString, file);
    QFETCH(bool, cover);
    QFile source(fixture(file));
    QVERIFY(source.open(QIODevice::ReadOnly));
    const QByteArray bytes = source.readAll();
    FFDemuxer fromFile;
    QVERIFY(fromFile.open(fixture(file)));
    const int expected = countPackets(fromFile.formatCtx().data());
    QVERIFY(expected > 0);

    // A path no file has: only the registered bytes can answer it.
    const QString path = mDir.filePath(QStringLiteral("memory/") + file);
    FFDemuxer::addMemoryFile(path, bytes);
    FFDemuxer demuxer;
    QVERIFY(demuxer.open(path));
    const QSharedPointer<ContainerInfo> info = demuxer.containerInfo();
    QCOMPARE(info->streams.size(), fromFile.containerInfo()->streams.size());
    QCOMPARE(info->durationMs, fromFile.containerInfo()->durationMs);
    QCOMPARE(!info->videoStreams.isEmpty() && info->videoStreams.first()->isAttachedPic, cover);
    const QSharedPointer<AVFormatContext> held = demuxer.formatCtx();

    // Removed, the path is gone for new opens; an open container reads on from its own share of the bytes.
    FFDemuxer::removeMemoryFile(path);
    QVERIFY(!FFDemuxer().open(path));
    QCOMPARE(countPackets(held.data()), expected);
}

void TestFFDemuxer::seekingOnLateStart()
{
    FFDemuxer demuxer;
    QVERIFY(demuxer.open(fixture(QStringLiteral("late_start.ts"))));
    AVFormatContext* context = demuxer.formatCtx().data();
    QCOMPARE(context->start_time, qint64(1500000));
    QCOMPARE(demuxer.containerInfo()->startTimeSec, qint64(1));

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
    const qint64 next = packetMs(context, *demuxer.readPacket());
    // Stream indices out of range change nothing.
    demuxer.seekByStream(0, -1);
    demuxer.seekByStream(0, int(context->nb_streams));
    QCOMPARE(packetMs(context, *demuxer.readPacket()), next + 40);

    const QSharedPointer<AVPacket> target = packets.at(60);
    demuxer.seekByFilePos(target->pos);
    const QSharedPointer<AVPacket> atTarget = demuxer.readPacket();
    QCOMPARE(atTarget->pos, target->pos);
    QCOMPARE(atTarget->pts, target->pts);
    QVERIFY(messages(captured()).isEmpty());
}

void TestFFDemuxer::failedSeeksAreLogged()
{
    // A raw stream has no timestamps to seek by.
    FFDemuxer raw;
    QVERIFY(raw.open(fixture(QStringLiteral("raw.h264"))));
    raw.seek(1000);
    raw.seekByStream(1000, 0);
    QList<Record> records = captured();
    QCOMPARE(records.size(), 2);
    QCOMPARE(records.at(0).message(),
             QStringLiteral("---player--- av_seek_frame: -1: ") + ffmpegErrorText(-1));
    QVERIFY(records.at(0).function().contains(QLatin1String("Nerova::FFDemuxer::seek(qint64)")));
    QCOMPARE(records.at(1).message(),
             QStringLiteral("---player--- seekByStream streamIndex: 0,res : -1: ") + ffmpegErrorText(-1));
    // The demuxer stays open; libavformat left the position at the end, so go back by byte.
    QVERIFY(raw.formatCtx());
    raw.seekByFilePos(0);
    QVERIFY(raw.readPacket());
    QVERIFY(captured().isEmpty());

    // MP4 cannot seek by byte position.
    FFDemuxer mp4;
    QVERIFY(mp4.open(fixture(QStringLiteral("plain.mp4"))));
    mp4.seekByFilePos(1000);
    records = captured();
    QCOMPARE(records.size(), 1);
    QCOMPARE(records.at(0).message(),
             QStringLiteral("---player--- seekByFilePos av_seek_frame: -1: ") + ffmpegErrorText(-1));
    QCOMPARE(records.at(0).file(), QStringLiteral("NerovaDec/FFDemuxer"));
}

void TestFFDemuxer::readPacketOfStreamWithoutPackets()
{
    FFDemuxer demuxer;
    QVERIFY(demuxer.open(fixture(QStringLiteral("tracks.mkv"))));
    const QSharedPointer<AVPacket> subtitle = demuxer.readPacket(4);
    QVERIFY(subtitle);
    QCOMPARE(subtitle->stream_index, 4);
    // The attachment has no packets: reading it runs to the end of the file.
    QVERIFY(!demuxer.readPacket(5));
    QVERIFY(!demuxer.readPacket());
    QVERIFY(!demuxer.readPacket(0));
}

void TestFFDemuxer::closedDemuxer()
{
    FFDemuxer demuxer;
    QVERIFY(!demuxer.readPacket());
    QVERIFY(!demuxer.readPacket(0));
    QVERIFY(!demuxer.containerInfo());
    QVERIFY(!demuxer.videoStreamInfo(0));
    QVERIFY(!demuxer.audioStreamInfo(0));
    QVERIFY(!demuxer.formatCtx());
    QCOMPARE(demuxer.durationMs(), qint64(0));
    demuxer.seek(1000);
    demuxer.seekByStream(1000, 0);
    demuxer.seekByFilePos(0);

    QVERIFY(demuxer.open(fixture(QStringLiteral("plain.mp4"))));
    const QSharedPointer<AVFormatContext> held = demuxer.formatCtx();
    demuxer.close();
    QVERIFY(!demuxer.formatCtx());
    QVERIFY(!demuxer.readPacket());
    QVERIFY(countPackets(held.data()) > 0);
    QVERIFY(messages(captured()).isEmpty());
}

void TestFFDemuxer::logsMissingFile()
{
    QTemporaryDir dir;
    FFDemuxer demuxer;
    QVERIFY(demuxer.open(fixture(QStringLiteral("plain.mp4"))));
    QVERIFY(!demuxer.open(dir.filePath(QStringLiteral("missing.mp4"))));
    QVERIFY(!demuxer.formatCtx());

    const QList<Record> records = captured();
    QCOMPARE(records.size(), 2);
    const int code = AVERROR(ENOENT);
    QCOMPARE(records.at(0).message(),
             QStringLiteral("---demux--- avformat_open_input: %1: %2").arg(code).arg(ffmpegErrorText(code)));
    QCOMPARE(records.at(1).message(), QStringLiteral("---demux--- Could not open the file . fileSize :0"));
    for (const Record& record : records) {
        QVERIFY(record.function().contains(QLatin1String("Nerova::FFDemuxer::open(const QString&)")));
        QCOMPARE(record.file(), QStringLiteral("NerovaDec/FFDemuxer"));
        QVERIFY(record.line() > 0);
        QCOMPARE(record.context(), nullptr);
        QCOMPARE(record.level(), 0);
    }

    // A file that is there but is no container: the size is logged.
    const QString junk = dir.filePath(QStringLiteral("junk.mp4"));
    QVERIFY(MediaFixtures::writeAll(junk, QByteArray(1234, '\0')));
    QVERIFY(!demuxer.open(junk));
    QCOMPARE(messages(captured()).value(1),
             QStringLiteral("---demux--- Could not open the file . fileSize :1234"));
}

void TestFFDemuxer::logsMissingResource()
{
    FFDemuxer demuxer;
    QVERIFY(demuxer.open(fixture(QStringLiteral("plain.mp4"))));
    QVERIFY(!demuxer.open(QStringLiteral(":/demuxer/missing.mp4")));
    const QList<Record> records = captured();
    QCOMPARE(messages(records), QStringList{QStringLiteral("mQrcFile->open failed.")});
    QCOMPARE(records.at(0).file(), QStringLiteral("NerovaDec/FFDemuxer"));
    // The container opened before stays open.
    QVERIFY(demuxer.formatCtx());
    QVERIFY(demuxer.readPacket());
}

void TestFFDemuxer::emptyPathChangesNothing()
{
    FFDemuxer demuxer;
    QVERIFY(!demuxer.open(QString()));
    QVERIFY(demuxer.open(fixture(QStringLiteral("plain.mp4"))));
    const QSharedPointer<AVFormatContext> before = demuxer.formatCtx();
    QVERIFY(!demuxer.open(QString()));
    QCOMPARE(demuxer.formatCtx(), before);
    QVERIFY(messages(captured()).isEmpty());
}

void TestFFDemuxer::factoryGivesUnopenedDemuxer_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("forceVob");
    QTest::addColumn<QVariant>("vobEnabled");
    QTest::newRow("mp4") << "a.mp4" << false << QVariant();
    QTest::newRow("VOB, no key") << "/v/A.VOB" << false << QVariant();
    QTest::newRow("VOB, disabled") << "/v/A.VOB" << false << QVariant(false);
    QTest::newRow("VOB, enabled") << "/v/A.VOB" << false << QVariant(true);
    QTest::newRow("forced") << "a.mp4" << true << QVariant();
}

void TestFFDemuxer::factoryGivesUnopenedDemuxer()
{
    QFETCH(QString, path);
    QFETCH(bool, forceVob);
    QFETCH(QVariant, vobEnabled);
    QVariantMap& config = getConfig();
    if (vobEnabled.isValid())
        config.insert(QString::fromLatin1(kVob_DeMux_Enabled), vobEnabled);
    else
        config.remove(QString::fromLatin1(kVob_DeMux_Enabled));

    const QSharedPointer<FFDemuxer> demuxer = FFDemuxer::createDemuxer(path, forceVob);
    config.remove(QString::fromLatin1(kVob_DeMux_Enabled));
    QVERIFY(demuxer);
    QVERIFY(!demuxer->parent());
    QVERIFY(!demuxer->formatCtx());
    QVERIFY(demuxer->inherits("Nerova::FFDemuxer"));
}

void TestFFDemuxer::damagedFilesOpenOrFail_data()
{
    QTest::addColumn<QString>("file");
    for (const char* file :
         {"plain.mp4", "tracks.mkv", "cover.wma", "cover.mp3", "late_start.ts", "raw.h264"})
        QTest::newRow(file) << QString::fromLatin1(file);
}

void TestFFDemuxer::damagedFilesOpenOrFail()
{
    QFETCH(QString, file);
    const QByteArray original = MediaFixtures::readAll(fixture(file));
    QVERIFY(!original.isEmpty());
    const QString suffix = QFileInfo(file).suffix();

    QVector<QByteArray> copies;
    for (const double fraction : {0.001, 0.02, 0.3, 0.7, 0.99})
        copies << original.left(int(original.size() * fraction));
    QRandomGenerator random(quint32(qHash(file)));
    for (const int flips : {8, 64, 512}) {
        for (int round = 0; round < 3; ++round) {
            QByteArray copy = original;
            for (int i = 0; i < flips; ++i) {
                const int at = int(random.bounded(quint32(copy.size())));
                copy[at] = char(copy.at(at) ^ (1 << random.bounded(8)));
            }
            copies << copy;
        }
    }

    QTemporaryDir dir;
    QElapsedTimer timer;
    timer.start();
    int opened = 0;
    for (int i = 0; i < copies.size(); ++i) {
        const QString path = dir.filePath(QStringLiteral("damaged_%1.%2").arg(i).arg(suffix));
        QVERIFY(MediaFixtures::writeAll(path, copies.at(i)));
        FFDemuxer demuxer;
        if (!demuxer.open(path))
            continue;
        ++opened;
        const QSharedPointer<ContainerInfo> info = demuxer.containerInfo();
        QVERIFY(info);
        for (const QSharedPointer<CVideoStreamInfo>& video : info->videoStreams)
            video->displaySize();
        int packets = 0;
        while (demuxer.readPacket() && packets < 1000000)
            ++packets;
        QVERIFY(packets < 1000000);
        demuxer.seek(500);
        demuxer.readPacket();
        demuxer.seekByStream(500, 0);
        demuxer.readPacket(0);
        demuxer.seekByFilePos(copies.at(i).size() / 2);
        demuxer.readPacket();
        demuxer.durationMs();
    }
    qInfo() << file << ":" << opened << "of" << copies.size() << "damaged copies opened in" << timer.elapsed()
            << "ms";
    QVERIFY(timer.elapsed() < 120000);
    captured();
}

QTEST_GUILESS_MAIN(TestFFDemuxer)
#include "tst_ffdemuxer.moc"
