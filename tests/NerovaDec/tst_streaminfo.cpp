#include <NerovaDec/StreamInfo.h>
#include <NerovaDec/TimestampMath.h>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/display.h>
}

#include <QtTest>

#include <cstring>
#include <limits>
#include <memory>

using namespace Nerova;

Q_DECLARE_METATYPE(AVRational)

namespace {

// A format context that only holds streams made up by the test; it is freed, never closed.
struct StreamHolder
{
    std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> context{avformat_alloc_context(),
                                                                         avformat_free_context};
    AVStream* add() { return avformat_new_stream(context.get(), nullptr); }
};

// A display matrix whose av_display_rotation_get() angle is angle (setting it takes the opposite sense).
void addDisplayMatrix(AVStream* stream, double angle, size_t size = 9 * sizeof(int32_t))
{
    int32_t matrix[9];
    av_display_rotation_set(matrix, -angle);
    uint8_t* data = av_stream_new_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, size);
    QVERIFY(data);
    std::memcpy(data, matrix, std::min(size, sizeof(matrix)));
}

bool sameRational(AVRational a, AVRational b)
{
    return a.num == b.num && a.den == b.den;
}

} // namespace

// The pure description rules on streams made up in memory.
class TestStreamInfo : public QObject
{
    Q_OBJECT

private slots:
    void recordDefaults();
    void frameRate_data();
    void frameRate();
    void rotation_data();
    void rotation();
    void streamDuration_data();
    void streamDuration();
    void sampleAspectRatio_data();
    void sampleAspectRatio();
    void displaySize_data();
    void displaySize();
    void audioAndBasicRecords();
    void timestampMathSaturates();
    void streamTimeBase();
    void coverTestOnMissingFile();
};

void TestStreamInfo::recordDefaults()
{
    const CStreamInfo basic;
    QCOMPARE(basic.mediaType, -1);
    QVERIFY(sameRational(basic.timeBase, AVRational{0, 0}));
    const CVideoStreamInfo video;
    QCOMPARE(video.pixelFormat, -1);
    QVERIFY(sameRational(video.frameRate, AVRational{25, 1}));
    QVERIFY(sameRational(video.sampleAspectRatio, AVRational{1, 1}));
    QCOMPARE(video.rotation, 0);
    QCOMPARE(video.isAttachedPic, false);
    const CAudioStreamInfo audio;
    QCOMPARE(audio.sampleFormat, -1);
    QCOMPARE(audio.channelLayout, quint64(0));
    const CSubtitleStreamInfo subtitle;
    QCOMPARE(subtitle.isTextSub, false);
}

void TestStreamInfo::frameRate_data()
{
    QTest::addColumn<AVRational>("average");
    QTest::addColumn<AVRational>("real");
    QTest::addColumn<AVRational>("expected");
    QTest::newRow("average") << AVRational{30000, 1001} << AVRational{30, 1} << AVRational{30000, 1001};
    QTest::newRow("no average") << AVRational{0, 0} << AVRational{30, 1} << AVRational{30, 1};
    QTest::newRow("average too high") << AVRational{240, 1} << AVRational{24, 1} << AVRational{24, 1};
    QTest::newRow("average at limit") << AVRational{120, 1} << AVRational{24, 1} << AVRational{120, 1};
    QTest::newRow("real at its limit") << AVRational{121, 1} << AVRational{119, 1} << AVRational{119, 1};
    QTest::newRow("real above its limit") << AVRational{121, 1} << AVRational{120, 1} << AVRational{121, 1};
    QTest::newRow("neither") << AVRational{0, 0} << AVRational{0, 1} << AVRational{0, 0};
    QTest::newRow("overflowing quotient")
        << AVRational{std::numeric_limits<int>::min(), -1} << AVRational{25, 1} << AVRational{25, 1};
}

void TestStreamInfo::frameRate()
{
    QFETCH(AVRational, average);
    QFETCH(AVRational, real);
    QFETCH(AVRational, expected);
    StreamHolder holder;
    AVStream* stream = holder.add();
    stream->avg_frame_rate = average;
    stream->r_frame_rate = real;
    const AVRational rate = makeVideoStreamInfo(stream, 0)->frameRate;
    QVERIFY2(sameRational(rate, expected), qPrintable(QStringLiteral("%1/%2").arg(rate.num).arg(rate.den)));
}

void TestStreamInfo::rotation_data()
{
    QTest::addColumn<bool>("hasMatrix");
    QTest::addColumn<double>("angle"); // counter-clockwise, as the matrix holds it
    QTest::addColumn<int>("expected"); // clockwise
    QTest::newRow("none") << false << 0.0 << 0;
    QTest::newRow("-90") << true << -90.0 << 90;
    QTest::newRow("+90") << true << 90.0 << 270;
    QTest::newRow("180") << true << 180.0 << 180;
    QTest::newRow("0") << true << 0.0 << 0;
    QTest::newRow("-45") << true << -45.0 << 45;
    QTest::newRow("just short of a turn") << true << 0.5 << 0;
    QTest::newRow("just past a turn") << true << -359.5 << 0;
    QTest::newRow("two degrees short") << true << 2.0 << 358;
    // A matrix too short to hold nine values is not read.
    QTest::newRow("short matrix") << true << -90.0 << 0;
}

void TestStreamInfo::rotation()
{
    QFETCH(bool, hasMatrix);
    QFETCH(double, angle);
    QFETCH(int, expected);
    StreamHolder holder;
    AVStream* stream = holder.add();
    if (hasMatrix)
        addDisplayMatrix(stream, angle, QByteArray(QTest::currentDataTag()) == "short matrix" ? 8 : 36);
    QCOMPARE(makeVideoStreamInfo(stream, 0)->rotation, expected);
}

void TestStreamInfo::streamDuration_data()
{
    QTest::addColumn<AVRational>("timeBase");
    QTest::addColumn<qint64>("duration");
    QTest::addColumn<qint64>("expected");
    QTest::newRow("90 kHz") << AVRational{1, 90000} << qint64(900000) << qint64(10000);
    QTest::newRow("truncated") << AVRational{1, 1000000} << qint64(10000999) << qint64(10000);
    QTest::newRow("no denominator") << AVRational{1, 0} << qint64(5000) << qint64(0);
    QTest::newRow("no duration") << AVRational{1, 1000} << qint64(AV_NOPTS_VALUE)
                                 << std::numeric_limits<qint64>::min();
    // A coarse time base would take a missing duration beyond the 64-bit range: it saturates.
    QTest::newRow("no duration, seconds")
        << AVRational{1, 1} << qint64(AV_NOPTS_VALUE) << std::numeric_limits<qint64>::min();
}

void TestStreamInfo::streamDuration()
{
    QFETCH(AVRational, timeBase);
    QFETCH(qint64, duration);
    QFETCH(qint64, expected);
    StreamHolder holder;
    AVStream* stream = holder.add();
    stream->time_base = timeBase;
    stream->duration = duration;
    stream->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
    QCOMPARE(makeVideoStreamInfo(stream, 0)->durationMs, expected);
    QCOMPARE(makeAudioStreamInfo(stream, 0)->durationMs, expected);
}

void TestStreamInfo::sampleAspectRatio_data()
{
    QTest::addColumn<AVRational>("streamAspect");
    QTest::addColumn<AVRational>("codecAspect");
    QTest::addColumn<AVRational>("expected");
    QTest::newRow("stream's own") << AVRational{16, 15} << AVRational{4, 3} << AVRational{16, 15};
    QTest::newRow("square stream") << AVRational{1, 1} << AVRational{4, 3} << AVRational{4, 3};
    QTest::newRow("none") << AVRational{0, 1} << AVRational{0, 1} << AVRational{0, 1};
}

void TestStreamInfo::sampleAspectRatio()
{
    QFETCH(AVRational, streamAspect);
    QFETCH(AVRational, codecAspect);
    QFETCH(AVRational, expected);
    StreamHolder holder;
    AVStream* stream = holder.add();
    stream->sample_aspect_ratio = streamAspect;
    stream->codecpar->sample_aspect_ratio = codecAspect;
    QVERIFY(sameRational(makeVideoStreamInfo(stream, 0)->sampleAspectRatio, expected));
}

void TestStreamInfo::displaySize_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("rotation");
    QTest::addColumn<AVRational>("aspect");
    QTest::addColumn<QSize>("expected");
    QTest::newRow("anamorphic") << 1440 << 1080 << 0 << AVRational{4, 3} << QSize(1920, 1080);
    QTest::newRow("turned") << 1920 << 1080 << 90 << AVRational{1, 1} << QSize(1080, 1920);
    QTest::newRow("odd, no aspect") << 1919 << 1079 << 0 << AVRational{0, 1} << QSize(1920, 1080);
    QTest::newRow("upside down") << 720 << 576 << 180 << AVRational{16, 15} << QSize(768, 576);
    QTest::newRow("270") << 720 << 576 << 270 << AVRational{16, 15} << QSize(576, 768);
    QTest::newRow("half away from zero") << 3 << 2 << 0 << AVRational{1, 2} << QSize(2, 2);
    // A damaged file's aspect ratio must not overflow the product; the width saturates.
    QTest::newRow("huge aspect") << 40000 << 2 << 0 << AVRational{std::numeric_limits<int>::max(), 1}
                                 << QSize(std::numeric_limits<int>::max() - 1, 2);
}

void TestStreamInfo::displaySize()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, rotation);
    QFETCH(AVRational, aspect);
    QFETCH(QSize, expected);
    QCOMPARE(calcDisplaySize(width, height, rotation, aspect), expected);

    CVideoStreamInfo record;
    record.width = width;
    record.height = height;
    record.rotation = rotation;
    record.sampleAspectRatio = aspect;
    QCOMPARE(record.displaySize(), expected);
}

void TestStreamInfo::audioAndBasicRecords()
{
    StreamHolder holder;
    holder.add();
    AVStream* stream = holder.add();
    stream->time_base = AVRational{1, 48000};
    stream->duration = 96000;
    AVCodecParameters* codecpar = stream->codecpar;
    codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
    codecpar->codec_id = AV_CODEC_ID_AAC;
    codecpar->codec_tag = 0x1234;
    codecpar->format = AV_SAMPLE_FMT_FLTP;
    codecpar->sample_rate = 48000;
    codecpar->bit_rate = 128000;
    av_channel_layout_default(&codecpar->ch_layout, 2);

    const QSharedPointer<CAudioStreamInfo> audio = makeAudioStreamInfo(stream, 1);
    QCOMPARE(audio->index, 1);
    QCOMPARE(audio->mediaType, -1);
    QCOMPARE(audio->codecId, int(AV_CODEC_ID_AAC));
    QCOMPARE(audio->codecTag, quint32(0x1234));
    QCOMPARE(audio->sampleFormat, int(AV_SAMPLE_FMT_FLTP));
    QCOMPARE(audio->channels, 2);
    QCOMPARE(audio->channelLayout, quint64(AV_CH_LAYOUT_STEREO));
    QCOMPARE(audio->sampleRate, 48000);
    QCOMPARE(audio->bitRate, qint64(128000));
    QCOMPARE(audio->durationMs, qint64(2000));
    QVERIFY(sameRational(audio->timeBase, AVRational{1, 48000}));

    const QSharedPointer<CStreamInfo> basic = makeStreamInfo(stream, 1);
    QCOMPARE(basic->mediaType, int(AVMEDIA_TYPE_AUDIO));
    QCOMPARE(basic->codecId, int(AV_CODEC_ID_AAC));
    QVERIFY(sameRational(basic->timeBase, AVRational{1, 48000}));

    // The video record does not take the stream's type either.
    stream->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
    QCOMPARE(makeVideoStreamInfo(stream, 1)->mediaType, -1);
}

void TestStreamInfo::streamTimeBase()
{
    ContainerInfo info;
    auto stream = QSharedPointer<CStreamInfo>::create();
    stream->index = 3;
    stream->timeBase = AVRational{1, 90000};
    info.streams.append(stream);
    QVERIFY(sameRational(info.getStreamTimeBase(3), AVRational{1, 90000}));
    QVERIFY(sameRational(info.getStreamTimeBase(0), AVRational{1, 1000000}));
    QVERIFY(sameRational(ContainerInfo().getStreamTimeBase(0), AVRational{1, 1000000}));
}

void TestStreamInfo::coverTestOnMissingFile()
{
    QTemporaryDir dir;
    QVERIFY(isCoverStream(dir.filePath(QStringLiteral("missing.wma")), 0) == false);
    QVERIFY(isCoverStream(QString(), 0) == false);
}

void TestStreamInfo::timestampMathSaturates()
{
    // Damaged files carry arbitrary 64-bit timestamps: sums saturate towards the side they overflow to.
    using namespace Nerova::TimestampMath;
    constexpr qint64 hi = std::numeric_limits<qint64>::max();
    constexpr qint64 lo = std::numeric_limits<qint64>::min();
    QCOMPARE(add(hi, 1), hi);
    QCOMPARE(add(lo, -1), lo);
    QCOMPARE(add(-5, 3), qint64(-2));
    QCOMPARE(sub(lo, 1), lo);
    QCOMPARE(sub(hi, -1), hi);
    QCOMPARE(sub(3, 5), qint64(-2));
    QCOMPARE(mul(hi, 2), hi);
    QCOMPARE(mul(hi, -2), lo);
    QCOMPARE(mul(lo, -1), hi);
    QCOMPARE(mul(-4, 5), qint64(-20));
    // A running total kept as a 32-bit register keeps it: it wraps rather than sticks.
    QCOMPARE(wrap32(qint64(std::numeric_limits<qint32>::max()) + 1), std::numeric_limits<qint32>::min());
    QCOMPARE(wrap32(-1), qint32(-1));
}

QTEST_GUILESS_MAIN(TestStreamInfo)
#include "tst_streaminfo.moc"
