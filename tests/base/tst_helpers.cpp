// Guards the small value and text helpers: nearest values at the ends of the range, even values and
// multiples, UTF-8 validation against Qt's decoder, paths, GPU vendor names and image detection.

#include <base/Helpers.h>

#include "MediaFixtures.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QtTest>

#include <limits>

namespace {

constexpr int kIntMin = std::numeric_limits<int>::min();
constexpr int kIntMax = std::numeric_limits<int>::max();
constexpr long long kLongMin = std::numeric_limits<long long>::min();
constexpr long long kLongMax = std::numeric_limits<long long>::max();

// Qt's own UTF-8 decoder as the reference: it rejects what a strict validator must, keeps noncharacters.
bool qtAcceptsUtf8(const char* data, int size)
{
    static QTextCodec* const codec = QTextCodec::codecForName("UTF-8");
    QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
    codec->toUnicode(data, size, &state);
    return state.invalidChars == 0 && state.remainingChars == 0;
}

QList<QVariant> modelList(const QStringList& names)
{
    QList<QVariant> models;
    for (const QString& name : names)
        models.append(QVariantMap{{QStringLiteral("name"), name}});
    return models;
}

} // namespace

class TestHelpers : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { Nerova::GpuModel::setGpuModelNameList({}); }
    void nearestValue();
    void toEvenValue_data();
    void toEvenValue();
    void closestNumber_data();
    void closestNumber();
    void md5FromQUuid();
    void utf8Samples_data();
    void utf8Samples();
    void utf8AgreesWithQtOnShortSequences();
    void namesAndPaths();
    void codecGpuName_data();
    void codecGpuName();
    void isImage_data();
    void isImage();
};

void TestHelpers::nearestValue()
{
    QCOMPARE(Nerova::getNearestValue(QList<int>{}, 5), 5);
    QCOMPARE(Nerova::getNearestValue(QList<int>{4, 6}, 5), 4); // a tie goes to the first
    QCOMPARE(Nerova::getNearestValue(QList<int>{-10, -3, 4}, -5), -3);
    // Differences that do not fit the type: a wrapped difference would make the far end look nearest.
    QCOMPARE(Nerova::getNearestValue(QList<int>{kIntMin, 0}, kIntMax), 0);
    QCOMPARE(Nerova::getNearestValue(QList<int>{kIntMax, -1}, kIntMin), -1);
    QCOMPARE(Nerova::getNearestValue(QList<long long>{kLongMin, 0LL}, kLongMax), 0LL);
    QCOMPARE(Nerova::getNearestValue(QList<long long>{5000000000LL, 6000000000LL}, 5400000000LL),
             5000000000LL);
    QCOMPARE(Nerova::getNearestValue(QList<double>{23.976, 24.0, 25.0, 29.97, 30.0}, 29.9), 29.97);
}

void TestHelpers::toEvenValue_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("expected");

    QTest::newRow("0") << 0 << 0;
    QTest::newRow("1079") << 1079 << 1080;
    QTest::newRow("-3") << -3 << -2;
    QTest::newRow("highest int") << kIntMax << kIntMax - 1;
    QTest::newRow("lowest odd int") << kIntMin + 1 << kIntMin + 2;
}

void TestHelpers::toEvenValue()
{
    QFETCH(int, value);
    QFETCH(int, expected);
    QCOMPARE(Nerova::toEvenValue(value), expected);
}

void TestHelpers::closestNumber_data()
{
    QTest::addColumn<int>("n");
    QTest::addColumn<int>("m");
    QTest::addColumn<int>("expected");

    QTest::newRow("tie away from zero") << 14 << 4 << 16;
    QTest::newRow("negative tie away from zero") << -5 << 2 << -6;
    QTest::newRow("down") << 13 << 4 << 12;
    QTest::newRow("negative multiple") << 13 << -4 << 12;
    QTest::newRow("multiple 0 gives n") << 123 << 0 << 123;
    // n * m beyond 32 bits: its sign must not flip.
    QTest::newRow("product beyond 32 bits") << 1000000 << 46341 << 1019502;
    // The tie would go to 2^31, past the int range: the multiple in range is returned.
    QTest::newRow("highest int, 2") << kIntMax << 2 << kIntMax - 1;
    QTest::newRow("lowest int, 3") << kIntMin << 3 << kIntMin + 2;
    QTest::newRow("lowest int, highest int") << kIntMin << kIntMax << -kIntMax;
}

void TestHelpers::closestNumber()
{
    QFETCH(int, n);
    QFETCH(int, m);
    QFETCH(int, expected);
    QCOMPARE(Nerova::closestNumber(n, m), expected);
}

void TestHelpers::md5FromQUuid()
{
    const QString first = Nerova::md5FromQUuid();
    QVERIFY2(QRegularExpression(QStringLiteral("^[0-9a-f]{32}$")).match(first).hasMatch(), qPrintable(first));
    QVERIFY(Nerova::md5FromQUuid() != first);
}

void TestHelpers::utf8Samples_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("valid");

    QTest::newRow("empty") << QByteArray("") << true;
    QTest::newRow("four bytes") << QByteArray("\xF0\x9F\x98\x80") << true;
    QTest::newRow("highest code point") << QByteArray("\xF4\x8F\xBF\xBF") << true;
    QTest::newRow("ends at the zero byte") << QByteArray("ok\0\xFF", 4) << true;
    QTest::newRow("surrogate") << QByteArray("\xED\xA0\x80") << false;
    QTest::newRow("above U+10FFFF") << QByteArray("\xF4\x90\x80\x80") << false;
    QTest::newRow("overlong four bytes") << QByteArray("\xF0\x8F\xBF\xBF") << false;
    QTest::newRow("truncated after ascii run") << QByteArray("0123456789abcdef\xF0\x9F\x98") << false;
    QTest::newRow("bad byte after a long ascii run") << QByteArray(1000, 'a') + "\xC3" << false;
}

void TestHelpers::utf8Samples()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, valid);
    QCOMPARE(Nerova::isUtf8String(bytes.constData()), valid);
}

void TestHelpers::utf8AgreesWithQtOnShortSequences()
{
    QVERIFY(!Nerova::isUtf8String(nullptr));
    // Every sequence of one, two and three non-zero bytes (a zero byte would only end the string early).
    char bytes[4] = {};
    for (int a = 1; a < 256; ++a) {
        for (int b = 0; b < 256; ++b) {
            for (int c = 0; c < (b ? 256 : 1); ++c) {
                bytes[0] = char(a), bytes[1] = char(b), bytes[2] = char(c);
                const int size = b == 0 ? 1 : c == 0 ? 2 : 3;
                if (Nerova::isUtf8String(bytes) != qtAcceptsUtf8(bytes, size))
                    QFAIL(QByteArray(bytes, size).toHex(' ').constData());
            }
        }
    }
}

void TestHelpers::namesAndPaths()
{
    QVERIFY(Nerova::isSocialType(QStringLiteral("YouTube")));
    QVERIFY(Nerova::isSocialType(QStringLiteral("Likee")));
    QVERIFY(!Nerova::isSocialType(QStringLiteral("youtube")));
    QVERIFY(!Nerova::isSocialType(QStringLiteral("Tube")));

    QCOMPARE(Nerova::appendPath(QStringLiteral("/a/b/"), QStringLiteral("../c")), QStringLiteral("/a/c"));
    QCOMPARE(Nerova::appendPath(QStringLiteral("/a//b"), QStringLiteral("./c/")), QStringLiteral("/a/b/c"));
    QCOMPARE(Nerova::appendPath(QStringLiteral("/a/b"), QString()), QStringLiteral("/a/b"));

    const QList<QVariant> models =
        modelList({QStringLiteral("NVIDIA GeForce RTX 3060"), QStringLiteral("Intel UHD 630"),
                   QStringLiteral("nvidia T400")});
    Nerova::GpuModel::setGpuModelNameList(models);
    QCOMPARE(Nerova::GpuModel::gpuModelNameList(), models);
    QCOMPARE(Nerova::GpuModel::getSpecifiedGpuModelList(QStringLiteral("Nvidia")),
             (QList<QVariant>{models.at(0), models.at(2)}));
    QVERIFY(Nerova::GpuModel::getSpecifiedGpuModelList(QStringLiteral("AMD")).isEmpty());
}

void TestHelpers::codecGpuName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("models");
    QTest::addColumn<QString>("expected");

    const QString nvidia = QStringLiteral("NVIDIA");
    const QString amd = QStringLiteral("AMD");
    QTest::newRow("encoder name without the word") << "h264_nvenc" << QStringList() << QString();
    QTest::newRow("any case") << "Radeon (amd)" << QStringList() << amd;
    QTest::newRow("both, nvidia first") << "AMD and NVIDIA" << QStringList() << nvidia;
    QTest::newRow("name decides over models")
        << "amd" << QStringList{QStringLiteral("NVIDIA GeForce")} << amd;
    QTest::newRow("nvidia model wins over an earlier amd one")
        << "" << QStringList{QStringLiteral("AMD Radeon"), QStringLiteral("NVIDIA Quadro")} << nvidia;
    QTest::newRow("no vendor among the models")
        << "h264_videotoolbox" << QStringList{QStringLiteral("Apple M1")} << QString();
}

void TestHelpers::codecGpuName()
{
    QFETCH(QString, name);
    QFETCH(QStringList, models);
    QFETCH(QString, expected);

    Nerova::GpuModel::setGpuModelNameList(modelList(models));
    QCOMPARE(Nerova::getCodecGpuName(name), expected);
}

void TestHelpers::isImage_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("madeAs"); // suffix ffmpeg writes, "text", or empty for no file
    QTest::addColumn<bool>("image");

    QTest::newRow("jpeg") << "a.jpg"
                          << "jpg" << true;
    QTest::newRow("png without suffix") << "png-data"
                                        << "png" << true;
    QTest::newRow("gif named png") << "b.png"
                                   << "gif" << false;
    QTest::newRow("text named jpg") << "notes.jpg"
                                    << "text" << false;
    QTest::newRow("missing") << "missing.png"
                             << "" << false;
}

void TestHelpers::isImage()
{
    QFETCH(QString, fileName);
    QFETCH(QString, madeAs);
    QFETCH(bool, image);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(fileName);
    if (madeAs == QLatin1String("text")) {
        QVERIFY(MediaFixtures::writeAll(path, "just some words\n"));
    } else if (!madeAs.isEmpty()) {
        const QString made = dir.filePath(QStringLiteral("made.") + madeAs);
        QVERIFY(MediaFixtures::makeImage(made, QStringLiteral("testsrc2=size=64x48")));
        QVERIFY(QFile::rename(made, path));
    }
    QCOMPARE(Nerova::isImage(path), image);
}

QTEST_GUILESS_MAIN(TestHelpers)
#include "tst_helpers.moc"
