// The small value and string helpers: nearest values, rounding, identifiers, UTF-8, paths, GPU names, images.

#include <base/Helpers.h>

#include "MediaFixtures.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QtTest>

#include <limits>
#include <thread>

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

QString hex(const char* data, int size)
{
    return QString::fromLatin1(QByteArray(data, size).toHex(' '));
}

// The nearest multiple of m found by walking the multiples, a tie going to the one farther from zero.
int nearestMultipleByWalking(int n, int m)
{
    long long best = 0;
    long long bestDistance = std::numeric_limits<long long>::max();
    for (long long k = -1000; k <= 1000; ++k) {
        const long long candidate = k * m;
        const long long d = std::llabs(candidate - n);
        if (d < bestDistance || (d == bestDistance && std::llabs(candidate) > std::llabs(best))) {
            best = candidate;
            bestDistance = d;
        }
    }
    return int(best);
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
    void cleanup();

    void nearestInt_data();
    void nearestInt();
    void nearestDouble_data();
    void nearestDouble();
    void nearestLongLong_data();
    void nearestLongLong();
    void toEvenValue_data();
    void toEvenValue();
    void closestNumber_data();
    void closestNumber();
    void closestNumberMatchesWalkingTheMultiples();
    void md5FromQUuid();
    void utf8Samples_data();
    void utf8Samples();
    void utf8AgreesWithQtOnShortSequences();
    void utf8AgreesWithQtOnRandomFourByteSequences();
    void utf8LongText();
    void isSocialType_data();
    void isSocialType();
    void appendPath_data();
    void appendPath();
    void gpuModelListStartsEmpty();
    void gpuModelList();
    void gpuModelListAcrossThreads();
    void codecGpuName_data();
    void codecGpuName();
    void isImage_data();
    void isImage();
};

void TestHelpers::cleanup()
{
    Nerova::GpuModel::setGpuModelNameList({});
}

void TestHelpers::nearestInt_data()
{
    QTest::addColumn<QList<int>>("list");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("expected");

    QTest::newRow("empty list gives the value") << QList<int>{} << 5 << 5;
    QTest::newRow("one element") << QList<int>{9} << -3 << 9;
    QTest::newRow("tie, first wins") << QList<int>{4, 6} << 5 << 4;
    QTest::newRow("tie, first wins, reversed") << QList<int>{6, 4} << 5 << 6;
    QTest::newRow("exact") << QList<int>{1, 7, 7, 9} << 7 << 7;
    QTest::newRow("below all") << QList<int>{10, 20, 5} << -100 << 5;
    QTest::newRow("negative") << QList<int>{-10, -3, 4} << -5 << -3;
    // Differences that do not fit an int: a wrapped difference would make the far end look nearest.
    QTest::newRow("highest value, ends of range") << QList<int>{kIntMin, 0} << kIntMax << 0;
    QTest::newRow("lowest value, ends of range") << QList<int>{kIntMax, -1} << kIntMin << -1;
    QTest::newRow("only the far end") << QList<int>{kIntMin} << kIntMax << kIntMin;
    QTest::newRow("both ends, tie") << QList<int>{kIntMax, kIntMin} << 0 << kIntMax;
}

void TestHelpers::nearestInt()
{
    QFETCH(QList<int>, list);
    QFETCH(int, value);
    QFETCH(int, expected);
    QCOMPARE(Nerova::getNearestValue(list, value), expected);
}

void TestHelpers::nearestDouble_data()
{
    QTest::addColumn<QList<double>>("list");
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("expected");

    QTest::newRow("empty list gives the value") << QList<double>{} << 2.5 << 2.5;
    QTest::newRow("tie, first wins") << QList<double>{1.0, 2.0} << 1.5 << 1.0;
    QTest::newRow("fractions") << QList<double>{-1.5, 2.5} << 0.4 << -1.5;
    QTest::newRow("frame rates") << QList<double>{23.976, 24.0, 25.0, 29.97, 30.0} << 29.9 << 29.97;
}

void TestHelpers::nearestDouble()
{
    QFETCH(QList<double>, list);
    QFETCH(double, value);
    QFETCH(double, expected);
    QCOMPARE(Nerova::getNearestValue(list, value), expected);
}

void TestHelpers::nearestLongLong_data()
{
    QTest::addColumn<QList<long long>>("list");
    QTest::addColumn<long long>("value");
    QTest::addColumn<long long>("expected");

    QTest::newRow("empty list gives the value") << QList<long long>{} << 7LL << 7LL;
    QTest::newRow("beyond 32 bits") << QList<long long>{5000000000LL, 6000000000LL} << 5400000000LL
                                    << 5000000000LL;
    QTest::newRow("tie, first wins") << QList<long long>{-2LL, 2LL} << 0LL << -2LL;
    QTest::newRow("highest value, ends of range") << QList<long long>{kLongMin, 0LL} << kLongMax << 0LL;
    QTest::newRow("lowest value, ends of range") << QList<long long>{kLongMax, 1LL} << kLongMin << 1LL;
}

void TestHelpers::nearestLongLong()
{
    QFETCH(QList<long long>, list);
    QFETCH(long long, value);
    QFETCH(long long, expected);
    QCOMPARE(Nerova::getNearestValue(list, value), expected);
}

void TestHelpers::toEvenValue_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("expected");

    QTest::newRow("0") << 0 << 0;
    QTest::newRow("1") << 1 << 2;
    QTest::newRow("-1") << -1 << 0;
    QTest::newRow("3") << 3 << 4;
    QTest::newRow("4") << 4 << 4;
    QTest::newRow("-3") << -3 << -2;
    QTest::newRow("-4") << -4 << -4;
    QTest::newRow("1079") << 1079 << 1080;
    QTest::newRow("highest int") << kIntMax << kIntMax - 1;
    QTest::newRow("highest even int") << kIntMax - 1 << kIntMax - 1;
    QTest::newRow("lowest int") << kIntMin << kIntMin;
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

    QTest::newRow("5, 2 tie away from zero") << 5 << 2 << 6;
    QTest::newRow("-5, 2 tie away from zero") << -5 << 2 << -6;
    QTest::newRow("7, 4") << 7 << 4 << 8;
    QTest::newRow("6, 4 tie") << 6 << 4 << 8;
    QTest::newRow("0, 4") << 0 << 4 << 0;
    QTest::newRow("0, -7") << 0 << -7 << 0;
    QTest::newRow("12, 4") << 12 << 4 << 12;
    QTest::newRow("13, 4") << 13 << 4 << 12;
    QTest::newRow("14, 4 tie") << 14 << 4 << 16;
    QTest::newRow("15, 4") << 15 << 4 << 16;
    QTest::newRow("16, 4") << 16 << 4 << 16;
    QTest::newRow("270, 4") << 270 << 4 << 272;
    QTest::newRow("-14, 4") << -14 << 4 << -16;
    QTest::newRow("-13, 4") << -13 << 4 << -12;
    QTest::newRow("13, -4") << 13 << -4 << 12;
    QTest::newRow("1918, 4") << 1918 << 4 << 1920;
    QTest::newRow("540, 4") << 540 << 4 << 540;
    QTest::newRow("multiple 0 gives n") << 123 << 0 << 123;
    QTest::newRow("multiple 0, lowest int") << kIntMin << 0 << kIntMin;
    // n * m beyond 32 bits: its sign must not flip.
    QTest::newRow("product beyond 32 bits") << 1000000 << 46341 << 1019502;
    QTest::newRow("lowest int, -1") << kIntMin << -1 << kIntMin;
    QTest::newRow("lowest int, 1") << kIntMin << 1 << kIntMin;
    QTest::newRow("highest int, -1") << kIntMax << -1 << kIntMax;
    // The tie would go to 2^31, past the int range: the multiple in range is returned.
    QTest::newRow("highest int, 2") << kIntMax << 2 << kIntMax - 1;
    QTest::newRow("lowest int, 3") << kIntMin << 3 << kIntMin + 2;
    QTest::newRow("highest int, lowest int") << kIntMax << kIntMin << 0;
    QTest::newRow("lowest int, highest int") << kIntMin << kIntMax << -kIntMax;
}

void TestHelpers::closestNumber()
{
    QFETCH(int, n);
    QFETCH(int, m);
    QFETCH(int, expected);
    QCOMPARE(Nerova::closestNumber(n, m), expected);
}

void TestHelpers::closestNumberMatchesWalkingTheMultiples()
{
    for (int m = -13; m <= 13; ++m) {
        if (m == 0)
            continue;
        for (int n = -300; n <= 300; ++n) {
            const int expected = nearestMultipleByWalking(n, m);
            if (Nerova::closestNumber(n, m) != expected)
                QFAIL(qPrintable(QStringLiteral("closestNumber(%1, %2) is %3, expected %4")
                                     .arg(n)
                                     .arg(m)
                                     .arg(Nerova::closestNumber(n, m))
                                     .arg(expected)));
        }
    }
}

void TestHelpers::md5FromQUuid()
{
    const QRegularExpression shape(QStringLiteral("^[0-9a-f]{32}$"));
    QSet<QString> seen;
    for (int i = 0; i < 200; ++i) {
        const QString id = Nerova::md5FromQUuid();
        QVERIFY2(shape.match(id).hasMatch(), qPrintable(id));
        seen.insert(id);
    }
    QCOMPARE(seen.size(), 200);
}

void TestHelpers::utf8Samples_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("valid");

    QTest::newRow("empty") << QByteArray("") << true;
    QTest::newRow("ascii") << QByteArray("plain text, 123") << true;
    QTest::newRow("two bytes") << QByteArray("caf\xC3\xA9") << true;
    QTest::newRow("three bytes") << QByteArray("\xE2\x82\xAC 5") << true;
    QTest::newRow("four bytes") << QByteArray("\xF0\x9F\x98\x80") << true;
    QTest::newRow("highest code point") << QByteArray("\xF4\x8F\xBF\xBF") << true;
    QTest::newRow("noncharacter U+FFFE") << QByteArray("\xEF\xBF\xBE") << true;
    QTest::newRow("byte order mark") << QByteArray("\xEF\xBB\xBFx") << true;
    QTest::newRow("ends at the zero byte") << QByteArray("ok\0\xFF", 4) << true;
    QTest::newRow("lone continuation") << QByteArray("\x80") << false;
    QTest::newRow("overlong two bytes") << QByteArray("\xC0\xAF") << false;
    QTest::newRow("C1 lead") << QByteArray("\xC1\xBF") << false;
    QTest::newRow("surrogate") << QByteArray("\xED\xA0\x80") << false;
    QTest::newRow("above U+10FFFF") << QByteArray("\xF4\x90\x80\x80") << false;
    QTest::newRow("overlong three bytes") << QByteArray("\xE0\x80\x80") << false;
    QTest::newRow("overlong four bytes") << QByteArray("\xF0\x8F\xBF\xBF") << false;
    QTest::newRow("three-byte lead, one byte after") << QByteArray("\xE2\x82") << false;
    QTest::newRow("truncated after ascii run") << QByteArray("0123456789abcdef\xF0\x9F\x98") << false;
    QTest::newRow("F5 lead") << QByteArray("\xF5\x80\x80\x80") << false;
    QTest::newRow("FF") << QByteArray("abc\xFF") << false;
    QTest::newRow("ascii where a continuation belongs") << QByteArray("\xC3\x41") << false;
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
    int checked = 0;
    for (int a = 1; a < 256; ++a) {
        bytes[0] = char(a);
        bytes[1] = 0;
        QVERIFY2(Nerova::isUtf8String(bytes) == qtAcceptsUtf8(bytes, 1), qPrintable(hex(bytes, 1)));
        for (int b = 1; b < 256; ++b) {
            bytes[1] = char(b);
            bytes[2] = 0;
            QVERIFY2(Nerova::isUtf8String(bytes) == qtAcceptsUtf8(bytes, 2), qPrintable(hex(bytes, 2)));
            for (int c = 1; c < 256; ++c) {
                bytes[2] = char(c);
                bytes[3] = 0;
                if (Nerova::isUtf8String(bytes) != qtAcceptsUtf8(bytes, 3))
                    QFAIL(qPrintable(hex(bytes, 3)));
                ++checked;
            }
        }
    }
    QCOMPARE(checked, 255 * 255 * 255);
}

void TestHelpers::utf8AgreesWithQtOnRandomFourByteSequences()
{
    QRandomGenerator random(20240611);
    // Uniform bytes are nearly always invalid at the first byte, so most sequences are drawn near the
    // four-byte forms: leads around F0..F4, followers around the continuation range.
    auto nonZero = [&](int low, int high) {
        return char(random.bounded(qMax(low, 1), high + 1));
    };
    int valid = 0;
    char bytes[5] = {};
    for (int i = 0; i < 400000; ++i) {
        if (i % 4 == 0) {
            for (int k = 0; k < 4; ++k)
                bytes[k] = nonZero(1, 255);
        } else {
            bytes[0] = nonZero(0xE8, 0xF8);
            for (int k = 1; k < 4; ++k)
                bytes[k] = nonZero(0x70, 0xC8);
        }
        const bool ours = Nerova::isUtf8String(bytes);
        if (ours != qtAcceptsUtf8(bytes, 4))
            QFAIL(qPrintable(hex(bytes, 4)));
        valid += ours;
    }
    // The draw must have reached both answers in quantity to mean anything.
    QVERIFY2(valid > 20000 && valid < 380000, qPrintable(QString::number(valid)));
}

void TestHelpers::utf8LongText()
{
    QString text;
    for (int i = 0; i < 2000; ++i)
        text += QStringLiteral("Zeile %1: Größe ≥ 5 € — 日本語 😀\n").arg(i);
    const QByteArray bytes = text.toUtf8();
    QVERIFY(Nerova::isUtf8String(bytes.constData()));
    for (int cut : {1, 2, 3}) {
        // Cutting the final four-byte character (plus its newline) leaves an incomplete sequence.
        const QByteArray truncated = bytes.left(bytes.size() - 1 - cut);
        QVERIFY(!Nerova::isUtf8String(truncated.constData()));
    }
}

void TestHelpers::isSocialType_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("social");

    for (const char* name : {"YouTube", "Instagram", "TikTok", "Facebook", "Likee", "Vimeo"})
        QTest::newRow(name) << QString::fromLatin1(name) << true;
    QTest::newRow("lower case") << "youtube" << false;
    QTest::newRow("trailing space") << "YouTube " << false;
    QTest::newRow("part of a name") << "Tube" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("other") << "Twitter" << false;
}

void TestHelpers::isSocialType()
{
    QFETCH(QString, name);
    QFETCH(bool, social);
    QCOMPARE(Nerova::isSocialType(name), social);
}

void TestHelpers::appendPath_data()
{
    QTest::addColumn<QString>("base");
    QTest::addColumn<QString>("child");
    QTest::addColumn<QString>("expected");

    QTest::newRow("parent step") << "/a/b/"
                                 << "../c"
                                 << "/a/c";
    QTest::newRow("plain") << "/a"
                           << "b"
                           << "/a/b";
    QTest::newRow("doubled separators and dot") << "/a//b"
                                                << "./c/"
                                                << "/a/b/c";
    QTest::newRow("relative base") << "a"
                                   << "b/../c"
                                   << "a/c";
    QTest::newRow("empty child") << "/a/b"
                                 << ""
                                 << "/a/b";
    QTest::newRow("non-ASCII") << "/Bilder/Urlaub"
                               << "Größe.jpg"
                               << "/Bilder/Urlaub/Größe.jpg";
}

void TestHelpers::appendPath()
{
    QFETCH(QString, base);
    QFETCH(QString, child);
    QFETCH(QString, expected);
    QCOMPARE(Nerova::appendPath(base, child), expected);
}

void TestHelpers::gpuModelListStartsEmpty()
{
    // Nothing has set a list in this process yet (cleanup only runs after the first test).
    QVERIFY(Nerova::GpuModel::gpuModelNameList().isEmpty());
    QVERIFY(Nerova::GpuModel::getSpecifiedGpuModelList(QStringLiteral("NVIDIA")).isEmpty());
    QCOMPARE(Nerova::getCodecGpuName(QString()), QString());
}

void TestHelpers::gpuModelList()
{
    const QList<QVariant> models =
        modelList({QStringLiteral("NVIDIA GeForce RTX 3060"), QStringLiteral("Intel UHD 630"),
                   QStringLiteral("nvidia T400")});
    Nerova::GpuModel::setGpuModelNameList(models);
    QCOMPARE(Nerova::GpuModel::gpuModelNameList(), models);

    const QList<QVariant> nvidia = Nerova::GpuModel::getSpecifiedGpuModelList(QStringLiteral("Nvidia"));
    QCOMPARE(nvidia, (QList<QVariant>{models.at(0), models.at(2)}));
    QVERIFY(Nerova::GpuModel::getSpecifiedGpuModelList(QStringLiteral("AMD")).isEmpty());
    QVERIFY(Nerova::GpuModel::getSpecifiedGpuModelList(QString()).isEmpty());

    Nerova::GpuModel::setGpuModelNameList({});
    QVERIFY(Nerova::GpuModel::gpuModelNameList().isEmpty());
}

void TestHelpers::gpuModelListAcrossThreads()
{
    // The host may set the list on its thread while encoders read it on theirs.
    const QList<QVariant> first = modelList({QStringLiteral("AMD Radeon Pro 5500M")});
    const QList<QVariant> second = modelList({QStringLiteral("NVIDIA Quadro"), QStringLiteral("Intel Iris")});
    std::thread writer([&] {
        for (int i = 0; i < 2000; ++i)
            Nerova::GpuModel::setGpuModelNameList(i % 2 ? first : second);
    });
    int unexpected = 0;
    for (int i = 0; i < 2000; ++i) {
        const QString vendor = Nerova::getCodecGpuName(QString());
        if (vendor != QLatin1String("AMD") && vendor != QLatin1String("NVIDIA") && !vendor.isEmpty())
            ++unexpected;
    }
    writer.join();
    QCOMPARE(unexpected, 0);
}

void TestHelpers::codecGpuName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("models");
    QTest::addColumn<QString>("expected");

    const QString nvidia = QStringLiteral("NVIDIA");
    const QString amd = QStringLiteral("AMD");
    QTest::newRow("encoder name without the word") << "h264_nvenc" << QStringList() << QString();
    QTest::newRow("nvidia any case") << "GeForce by nViDiA" << QStringList() << nvidia;
    QTest::newRow("amd any case") << "Radeon (amd)" << QStringList() << amd;
    QTest::newRow("both, nvidia first") << "AMD and NVIDIA" << QStringList() << nvidia;
    QTest::newRow("empty name, no models") << "" << QStringList() << QString();
    QTest::newRow("name decides over models")
        << "amd" << QStringList{QStringLiteral("NVIDIA GeForce")} << amd;
    QTest::newRow("models when the name says nothing")
        << "h264_nvenc" << QStringList{QStringLiteral("NVIDIA GeForce RTX 3060")} << nvidia;
    QTest::newRow("empty name, amd model")
        << "" << QStringList{QStringLiteral("Intel UHD"), QStringLiteral("AMD Radeon Pro")} << amd;
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

    QTest::newRow("png") << "a.png"
                         << "png" << true;
    QTest::newRow("jpeg") << "a.jpg"
                          << "jpg" << true;
    QTest::newRow("gif") << "a.gif"
                         << "gif" << false;
    QTest::newRow("png without suffix") << "png-data"
                                        << "png" << true;
    QTest::newRow("gif named png") << "b.png"
                                   << "gif" << false;
    QTest::newRow("text") << "notes.txt"
                          << "text" << false;
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
        if (MediaFixtures::ffmpeg().isEmpty())
            QSKIP("ffmpeg is needed to make the images");
        const QString made = dir.filePath(QStringLiteral("made.") + madeAs);
        QVERIFY(MediaFixtures::makeImage(made, QStringLiteral("testsrc2=size=64x48")));
        QVERIFY(QFile::rename(made, path));
    }
    QCOMPARE(Nerova::isImage(path), image);
}

QTEST_GUILESS_MAIN(TestHelpers)
#include "tst_helpers.moc"
