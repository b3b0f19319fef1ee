// Guards value and text helpers at their edges: int limits, UTF-8 validity against Qt, paths, GPU and images.
#include <base/Helpers.h>

#include "MediaFixtures.h"

#include <QTemporaryDir>
#include <QTextCodec>
#include <QtTest>

namespace {

constexpr int kIntMin = std::numeric_limits<int>::min();
constexpr int kIntMax = std::numeric_limits<int>::max();

} // namespace

class TestHelpers : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { Nerova::GpuModel::setGpuModelNameList({}); }
    void integerEdges()
    {
        QCOMPARE(Nerova::getNearestValue(QList<int>{}, 5), 5);
        QCOMPARE(Nerova::getNearestValue(QList<int>{4, 6}, 5), 4); // a tie goes to the first
        // Differences that do not fit the type: a wrapped difference would make the far end look nearest.
        QCOMPARE(Nerova::getNearestValue(QList<int>{kIntMin, 0}, kIntMax), 0);
        QCOMPARE(Nerova::getNearestValue(QList<int>{kIntMax, -1}, kIntMin), -1);
        const long long longMax = std::numeric_limits<long long>::max();
        QCOMPARE(Nerova::getNearestValue(QList<long long>{-longMax - 1, 0LL}, longMax), 0LL);
        QCOMPARE(Nerova::toEvenValue(1079), 1080);
        QCOMPARE(Nerova::toEvenValue(-3), -2);
        QCOMPARE(Nerova::toEvenValue(kIntMax), kIntMax - 1);
    }

    void closestNumber_data()
    {
        QTest::addColumn<int>("n");
        QTest::addColumn<int>("m");
        QTest::addColumn<int>("expected");
        QTest::newRow("tie away from zero") << 14 << 4 << 16;
        QTest::newRow("negative tie away from zero") << -5 << 2 << -6;
        QTest::newRow("negative multiple") << 13 << -4 << 12;
        QTest::newRow("multiple 0 gives n") << 123 << 0 << 123;
        // n * m beyond 32 bits: its sign must not flip.
        QTest::newRow("product beyond 32 bits") << 1000000 << 46341 << 1019502;
        // The tie would go to 2^31, past the int range: the multiple in range is returned.
        QTest::newRow("highest int, 2") << kIntMax << 2 << kIntMax - 1;
        QTest::newRow("lowest int, highest int") << kIntMin << kIntMax << -kIntMax;
    }

    void closestNumber()
    {
        QFETCH(int, n);
        QFETCH(int, m);
        QFETCH(int, expected);
        QCOMPARE(Nerova::closestNumber(n, m), expected);
    }

    void utf8Samples_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("valid");
        QTest::newRow("highest code point") << QByteArray("\xF4\x8F\xBF\xBF") << true;
        QTest::newRow("ends at the zero byte") << QByteArray("ok\0\xFF", 4) << true;
        QTest::newRow("above U+10FFFF") << QByteArray("\xF4\x90\x80\x80") << false;
        QTest::newRow("overlong four bytes") << QByteArray("\xF0\x8F\xBF\xBF") << false;
        QTest::newRow("truncated after ascii run") << QByteArray("0123456789abcdef\xF0\x9F\x98") << false;
        QTest::newRow("bad byte after a long ascii run") << QByteArray(1000, 'a') + "\xC3" << false;
    }

    void utf8Samples()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, valid);
        QCOMPARE(Nerova::isUtf8String(bytes.constData()), valid);
    }

    void utf8AgreesWithQtOnShortSequences()
    {
        QVERIFY(!Nerova::isUtf8String(nullptr));
        // Qt's decoder as the reference, over every sequence of one, two and three non-zero bytes.
        QTextCodec* const codec = QTextCodec::codecForName("UTF-8");
        char bytes[4] = {};
        for (int a = 1; a < 256; ++a) {
            for (int b = 0; b < 256; ++b) {
                for (int c = 0; c < (b ? 256 : 1); ++c) {
                    bytes[0] = char(a), bytes[1] = char(b), bytes[2] = char(c);
                    QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
                    codec->toUnicode(bytes, b == 0 ? 1 : c == 0 ? 2 : 3, &state);
                    if (Nerova::isUtf8String(bytes) != (state.invalidChars == 0 && state.remainingChars == 0))
                        QFAIL(QByteArray(bytes).toHex(' ').constData());
                }
            }
        }
    }

    void appendPath()
    {
        QCOMPARE(Nerova::appendPath(QStringLiteral("/a/b/"), QStringLiteral("../c")), QStringLiteral("/a/c"));
        QCOMPARE(Nerova::appendPath(QStringLiteral("/a//b"), QStringLiteral("./c/")),
                 QStringLiteral("/a/b/c"));
        QCOMPARE(Nerova::appendPath(QStringLiteral("/a/b"), QString()), QStringLiteral("/a/b"));
    }

    void codecGpuName()
    {
        // The name decides before the known models; NVIDIA before AMD; any case.
        QCOMPARE(Nerova::getCodecGpuName(QStringLiteral("Radeon (amd) and nvidia")),
                 QStringLiteral("NVIDIA"));
        QCOMPARE(Nerova::getCodecGpuName(QStringLiteral("h264_nvenc")), QString());
        const auto model = [](const char* name) {
            return QVariantMap{{QStringLiteral("name"), QString(name)}};
        };
        Nerova::GpuModel::setGpuModelNameList({model("AMD Radeon"), model("nvidia T400"), model("Apple M1")});
        QCOMPARE(Nerova::getCodecGpuName(QStringLiteral("amd")), QStringLiteral("AMD"));
        QCOMPARE(Nerova::getCodecGpuName(QStringLiteral("h264_nvenc")), QStringLiteral("NVIDIA"));
    }

    void isImage()
    {
        // Decided by the content, not the name; GIF does not count.
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(MediaFixtures::makeImage(dir.filePath(QStringLiteral("a.png")),
                                         QStringLiteral("testsrc2=size=64x48")));
        QVERIFY(MediaFixtures::makeImage(dir.filePath(QStringLiteral("a.gif")),
                                         QStringLiteral("testsrc2=size=64x48")));
        QVERIFY(
            QFile::rename(dir.filePath(QStringLiteral("a.png")), dir.filePath(QStringLiteral("png-data"))));
        QVERIFY(QFile::rename(dir.filePath(QStringLiteral("a.gif")), dir.filePath(QStringLiteral("b.png"))));
        QVERIFY(MediaFixtures::writeAll(dir.filePath(QStringLiteral("notes.jpg")), "just some words\n"));
        QVERIFY(Nerova::isImage(dir.filePath(QStringLiteral("png-data"))));
        for (const char* name : {"b.png", "notes.jpg", "missing.png"})
            QVERIFY2(!Nerova::isImage(dir.filePath(name)), name);
    }
};

QTEST_GUILESS_MAIN(TestHelpers)
#include "tst_helpers.moc"
