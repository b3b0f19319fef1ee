// Stream description rules (rotation, duration, display size) and saturating timestamp maths.
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

constexpr qint64 kHi = std::numeric_limits<qint64>::max();
constexpr qint64 kLo = std::numeric_limits<qint64>::min();

// A format context that only holds streams made up by the test; it is freed, never closed.
struct StreamHolder
{
    std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> context{avformat_alloc_context(),
                                                                         avformat_free_context};
    AVStream* add() { return avformat_new_stream(context.get(), nullptr); }
};

} // namespace

class TestStreamInfo : public QObject
{
    Q_OBJECT

private slots:
    void rotation_data();
    void rotation();
    void streamDuration_data();
    void streamDuration();
    void displaySize_data();
    void displaySize();
    void timestampMath_data();
    void timestampMath();
};

void TestStreamInfo::rotation_data()
{
    QTest::addColumn<int>("matrixSize"); // bytes of side data; 0 for none
    QTest::addColumn<double>("angle");   // counter-clockwise, as the matrix holds it
    QTest::addColumn<int>("expected");   // clockwise
    QTest::newRow("-90") << 36 << -90.0 << 90;
    QTest::newRow("+90") << 36 << 90.0 << 270;
    QTest::newRow("just past a turn") << 36 << -359.5 << 0;
    QTest::newRow("two degrees short") << 36 << 2.0 << 358;
    // A matrix too short to hold nine values is not read.
    QTest::newRow("short matrix") << 8 << -90.0 << 0;
}

void TestStreamInfo::rotation()
{
    QFETCH(int, matrixSize);
    QFETCH(double, angle);
    QFETCH(int, expected);
    StreamHolder holder;
    AVStream* stream = holder.add();
    if (matrixSize > 0) {
        int32_t matrix[9];
        av_display_rotation_set(matrix, -angle);
        uint8_t* data = av_stream_new_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, size_t(matrixSize));
        QVERIFY(data);
        std::memcpy(data, matrix, std::min(size_t(matrixSize), sizeof(matrix)));
    }
    QCOMPARE(makeVideoStreamInfo(stream, 0)->rotation, expected);
}

void TestStreamInfo::streamDuration_data()
{
    QTest::addColumn<AVRational>("timeBase");
    QTest::addColumn<qint64>("duration");
    QTest::addColumn<qint64>("expected");
    QTest::newRow("no denominator") << AVRational{1, 0} << qint64(5000) << qint64(0);
    // A coarse time base would take a missing duration beyond the 64-bit range: it saturates.
    QTest::newRow("no duration, seconds") << AVRational{1, 1} << qint64(AV_NOPTS_VALUE) << kLo;
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
    QCOMPARE(makeVideoStreamInfo(stream, 0)->durationMs, expected);
    QCOMPARE(makeAudioStreamInfo(stream, 0)->durationMs, expected);
}

void TestStreamInfo::displaySize_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("rotation");
    QTest::addColumn<AVRational>("aspect");
    QTest::addColumn<QSize>("expected");
    QTest::newRow("anamorphic") << 1440 << 1080 << 0 << AVRational{4, 3} << QSize(1920, 1080);
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
}

void TestStreamInfo::timestampMath_data()
{
    // Damaged files carry arbitrary 64-bit timestamps: results saturate towards the side they overflow
    // to, while a running total kept as a 32-bit register wraps as one does.
    QTest::addColumn<char>("op");
    QTest::addColumn<qint64>("a");
    QTest::addColumn<qint64>("b");
    QTest::addColumn<qint64>("expected");
    QTest::newRow("add") << '+' << qint64(-5) << qint64(3) << qint64(-2);
    QTest::newRow("add above") << '+' << kHi << qint64(1) << kHi;
    QTest::newRow("add below") << '+' << kLo << qint64(-1) << kLo;
    QTest::newRow("sub") << '-' << qint64(3) << qint64(5) << qint64(-2);
    QTest::newRow("sub below") << '-' << kLo << qint64(1) << kLo;
    QTest::newRow("sub above") << '-' << kHi << qint64(-1) << kHi;
    QTest::newRow("mul") << '*' << qint64(-4) << qint64(5) << qint64(-20);
    QTest::newRow("mul above") << '*' << kHi << qint64(2) << kHi;
    QTest::newRow("mul below") << '*' << kHi << qint64(-2) << kLo;
    QTest::newRow("mul of negatives") << '*' << kLo << qint64(-1) << kHi;
    QTest::newRow("wrap32 past the top") << 'w' << qint64(std::numeric_limits<qint32>::max()) + 1 << qint64(0)
                                         << qint64(std::numeric_limits<qint32>::min());
    QTest::newRow("wrap32 negative") << 'w' << qint64(-1) << qint64(0) << qint64(-1);
}

void TestStreamInfo::timestampMath()
{
    QFETCH(char, op);
    QFETCH(qint64, a);
    QFETCH(qint64, b);
    QFETCH(qint64, expected);
    using namespace Nerova::TimestampMath;
    const qint64 result = op == '+' ? add(a, b) : op == '-' ? sub(a, b) : op == '*' ? mul(a, b) : wrap32(a);
    QCOMPARE(result, expected);
}

QTEST_GUILESS_MAIN(TestStreamInfo)
#include "tst_streaminfo.moc"
