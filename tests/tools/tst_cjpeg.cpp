// cJpeg: reads every input kind, refuses damaged input leaving no file behind, encodes as it was asked.

#include "ToolRun.h"

#include <QDir>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/resource.h>

namespace {

using MediaFixtures::jpegSegmentsOf;
using MediaFixtures::photo;
using MediaFixtures::readAll;
using MediaFixtures::writeAll;
using Segment = MediaFixtures::JpegSegment;

// Odd sizes exercise row padding, bit packing and partial chroma blocks; rgb24 keeps them odd.
const QString kPattern = QStringLiteral("testsrc2=size=161x121:duration=0.04,format=rgb24");

bool makeImage(const QString& path, const QStringList& options, const QString& graph = kPattern)
{
    return ffmpeg(QStringList{"-f", "lavfi", "-i", graph, "-frames:v", "1"} + options + QStringList{path});
}

// ffmpeg options for a plain file of the kind the name's suffix says.
QStringList plainOptions(const QString& path)
{
    static const QMap<QString, QStringList> options{
        {"png", {"-pix_fmt", "rgb24"}},   {"bmp", {"-pix_fmt", "bgr24"}}, {"ppm", {"-pix_fmt", "rgb24"}},
        {"gif", {"-pix_fmt", "rgb8"}},    {"tif", {"-pix_fmt", "rgb24"}}, {"webp", {"-c:v", "libwebp"}},
        {"jpg", {"-pix_fmt", "yuvj420p"}}};
    return options.value(QFileInfo(path).suffix());
}

// Mean difference after averaging 4x4-pixel blocks: ignores coding detail, not a colour cast or a
// mirrored picture.
double colourError(const QString& reference, const QString& b, const QString& referenceFilter = {})
{
    const QString shrink = QStringLiteral("format=rgb24,scale=iw/4:ih/4:flags=area");
    return meanDifference(pixels(reference, referenceFilter + shrink), pixels(b, shrink));
}

// Byte offset of the first segment with `marker` in a JPEG, or -1.
int segmentOffset(const QByteArray& jpeg, int marker)
{
    for (int pos = 2; pos + 4 <= jpeg.size() && uchar(jpeg[pos]) == 0xFF;
         pos += 2 + ((uchar(jpeg[pos + 2]) << 8) | uchar(jpeg[pos + 3])))
        if (uchar(jpeg[pos + 1]) == marker)
            return pos;
    return -1;
}

// A JPEG damaged the way real files are that viewers still show in full.
QByteArray damageJpeg(QByteArray jpeg, const QString& how)
{
    if (how == "junk before SOI")
        return QByteArray("\x00\x01junk\r\n", 8) + jpeg;
    if (how == "junk between segments")
        return jpeg.insert(segmentOffset(jpeg, 0xDB), QByteArray("\x00\x12\x34\x00\x56", 5));
    if (how == "APP1 longer than the file") // EXIF block whose length field is garbage
        return jpeg.insert(2, QByteArray("\xFF\xE1\xFF\xF0", 4) + QByteArray("Exif\0\0MM\0*", 10));
    if (how == "second image after EOI") // as in Ultra HDR photos
        return jpeg + jpeg;
    // MJPEG frames rely on the standard Huffman tables.
    for (int at = segmentOffset(jpeg, 0xC4); at >= 0; at = segmentOffset(jpeg, 0xC4))
        jpeg.remove(at, 2 + ((uchar(jpeg[at + 2]) << 8) | uchar(jpeg[at + 3])));
    return jpeg;
}

// A PPM (3 channels) or PGM (1) of gentle gradients, different per channel so chroma varies too, under
// a sharp-edged brighter square (an edge in luma only, which chroma subsampling does not blur).
QByteArray pnm(int width, int height, int channels)
{
    QByteArray data = QByteArray(channels == 3 ? "P6\n" : "P5\n") + QByteArray::number(width) + ' ' +
                      QByteArray::number(height) + "\n255\n";
    const auto triangle = [](int at) {
        return std::abs(at % 400 - 200) / 2;
    }; // 0..100
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const bool square = x > width / 4 && x < width / 2 && y > height / 4 && y < height / 2;
            const int tx = triangle(x), ty = triangle(y);
            const int values[3] = {tx + ty / 2, tx / 2 + ty, (tx + ty) * 3 / 4};
            for (int c = 0; c < channels; ++c)
                data += char(30 + values[c] + (square ? 70 : 0));
        }
    }
    return data;
}

} // namespace

class TestCJpeg : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(QFileInfo(CJPEG_PATH).isExecutable() && !MediaFixtures::ffmpeg().isEmpty(), "needs ffmpeg");
    }

    // First, so that the peak memory of waited-for children is the refused bomb's (or a small ffmpeg's).
    void refusesDamagedInput_data()
    {
        QTest::addColumn<QStringList>("how"); // file, damage, part of the one-line message
        QTest::newRow("png 30000x30000") << QStringList{"in.png", "huge", "too large (30000x30000)"};
        QTest::newRow("progressive jpeg 30000x30000")
            << QStringList{"in.jpg", "huge", "too large (30000x30000)"};
        QTest::newRow("zero width") << QStringList{"in.ppm", "zero width", "invalid PNM dimensions"};
        QTest::newRow("scan cut short") << QStringList{"truncated_jpeg.jpg", "real", "Premature end"};
        QTest::newRow("truncated photo") << QStringList{"landscape_6.jpg", "truncate", ""};
        for (const char* file : {"in.jpg", "in.png", "in.bmp", "in.ppm", "in.gif", "in.tif", "in.webp"})
            QTest::newRow(file) << QStringList{file, "truncate", ""};
        QTest::newRow("png bad checksum") << QStringList{"in.png", "flip", ""};
        QTest::newRow("random bytes") << QStringList{"noise.png", "random", ""};
        QTest::newRow("empty file") << QStringList{"empty.jpg", "", ""};
        QTest::newRow("missing file") << QStringList{"missing.png", "missing", ""};
        QTest::newRow("12-bit jpeg") << QStringList{"in.jpg", "sof 4=12", "12-bit JPEG is not supported"};
        QTest::newRow("lossless jpeg") << QStringList{"in.jpg", "sof 1=195", "lossless JPEG"};
        QTest::newRow("unwritable output") << QStringList{"in.png", "no folder", "out.jpg"};
    }

    void refusesDamagedInput()
    {
        QFETCH(QStringList, how);
        const QString file = how[0], damage = how[1], reason = how[2];
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString source = dir.filePath(file);
        QByteArray data;
        if (damage == "real" || file == "landscape_6.jpg") {
            data = readAll(damage == "real" ? realImage(file) : photo(file));
        } else if (damage == "zero width") {
            data = "P6\n0 4\n255\n";
        } else if (damage == "huge" && file == "in.jpg") { // progressive: libjpeg would buffer it whole
            QCOMPARE(cJpeg({"-outfile", source, photo("landscape_6.jpg")}).exitCode, 0);
            data = MediaFixtures::withJpegFrameSize(readAll(source), 30000, 30000);
        } else if (damage == "huge") {
            data = MediaFixtures::hugePng(30000, 30000);
        } else if (file.startsWith("in.")) {
            QVERIFY(makeImage(source, plainOptions(source)));
            data = readAll(source);
        }
        if (damage == "truncate") {
            data.truncate(data.size() / 2);
        } else if (damage == "flip") {
            data[data.size() / 2] = char(data[data.size() / 2] ^ 0x55);
        } else if (damage == "random") {
            QRandomGenerator random(42);
            data.resize(4096);
            for (char& byte : data)
                byte = char(random.bounded(256));
        } else if (damage.startsWith("sof ")) { // patch a byte of the frame header
            const int sof = segmentOffset(data, 0xC0);
            QVERIFY(sof > 0);
            data[sof + damage.mid(4).section('=', 0, 0).toInt()] = char(damage.section('=', 1).toInt());
        }
        QVERIFY(damage == "missing" || writeAll(source, data));

        const QString output = dir.filePath(damage == "no folder" ? "no/such/out.jpg" : "out.jpg");
        const Run r = cJpeg({"-outfile", output, "-quality", "90", "-baseline", source});
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(!r.stdErr.trimmed().isEmpty() && r.stdErr.contains(reason), qPrintable(r.stdErr));
        QCOMPARE(r.stdErr.trimmed().count('\n'), 0);
        // Neither the output nor a temporary file may be left behind.
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files),
                 damage == "missing" ? QStringList() : QStringList{file});
        rusage usage{}; // refused before the pixels (gigabytes of them) were allocated
        getrusage(RUSAGE_CHILDREN, &usage);
        QVERIFY2(damage != "huge" || usage.ru_maxrss < 256 * 1024,
                 qPrintable(QString::number(usage.ru_maxrss)));
    }

    // One row per reader and each layout it has separate code for. The left half of the picture is
    // transparent where the format allows it, and must come out as on white.
    void readsEveryKind_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QStringList>("options");
        const QStringList palette{"-vf", "split[a][b];[a]palettegen[p];[b][p]paletteuse"};
        QTest::newRow("png 16-bit, alpha") << "in.png" << QStringList{"-pix_fmt", "rgba64be"};
        QTest::newRow("png gray+alpha") << "in.png" << QStringList{"-pix_fmt", "ya8"};
        QTest::newRow("png palette, tRNS") << "in.png" << palette;
        QTest::newRow("png 1-bit") << "in.png" << QStringList{"-pix_fmt", "monob"};
        QTest::newRow("bmp 32-bit, alpha") << "in.bmp" << QStringList{"-pix_fmt", "bgra"};
        QTest::newRow("bmp bit masks") << "in.bmp" << QStringList{"-pix_fmt", "rgb565"};
        QTest::newRow("bmp palette") << "in.bmp" << QStringList{"-pix_fmt", "pal8"};
        QTest::newRow("bmp rle8") << "hopper_rle8.bmp" << QStringList{};
        QTest::newRow("ppm 16-bit") << "in.ppm" << QStringList{"-pix_fmt", "rgb48be"};
        QTest::newRow("pgm") << "in.pgm" << QStringList{"-pix_fmt", "gray"};
        QTest::newRow("gif, transparent") << "in.gif" << palette;
        QTest::newRow("tiff lzw, alpha")
            << "in.tif" << QStringList{"-pix_fmt", "rgba", "-compression_algo", "lzw"};
        QTest::newRow("webp lossy") << "in.webp" << QStringList{"-c:v", "libwebp", "-quality", "95"};
        QTest::newRow("webp lossless, alpha")
            << "in.webp" << QStringList{"-c:v", "libwebp", "-lossless", "1"};
        QTest::newRow("jpeg 4:4:4") << "in.jpg" << QStringList{"-pix_fmt", "yuvj444p", "-q:v", "2"};
        QTest::newRow("png named .jpg") << "misnamed.jpg" << QStringList{"-c:v", "png", "-pix_fmt", "rgb24"};
    }

    void readsEveryKind()
    {
        QFETCH(QString, file);
        QFETCH(QStringList, options);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QString input = dir.filePath(file), reference = input;
        const QString output = dir.filePath("out.jpg");
        if (file.startsWith("hopper"))
            input = reference = realImage(file);
        else
            QVERIFY(makeImage(input, options,
                              kPattern + ",format=rgba,geq=r='r(X,Y)':g='g(X,Y)':b='b(X,Y)':"
                                         "a='if(lt(X,W/2),0,255)'"));
        const Run r = cJpeg({"-outfile", output, "-quality", "90", "-baseline", input});
        QVERIFY2(r.exitCode == 0, qPrintable(r.stdErr));
        const double error = colourError(reference, output,
                                         "format=rgba,geq=r='255-(255-r(X,Y))*alpha(X,Y)/255':"
                                         "g='255-(255-g(X,Y))*alpha(X,Y)/255':"
                                         "b='255-(255-b(X,Y))*alpha(X,Y)/255',");
        QVERIFY2(error < 8.0, qPrintable(QString("colour error %1").arg(error)));
    }

    void acceptsViewableJpegs_data()
    {
        QTest::addColumn<QString>("damage");
        for (const char* how : {"junk before SOI", "junk between segments", "APP1 longer than the file",
                                "second image after EOI", "no Huffman tables", "arithmetic coding",
                                "extraneous-data.jpg", "pil_sample_cmyk.jpg"})
            QTest::newRow(how) << how;
    }

    void acceptsViewableJpegs()
    {
        QFETCH(QString, damage);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        // ffmpeg's standard Huffman tables are the ones MJPEG streams leave out.
        QString clean = dir.filePath("clean.jpg"), damaged = dir.filePath("damaged.jpg");
        if (damage.endsWith(".jpg")) { // a real odd file, as ffmpeg shows it
            clean = damaged = realImage(damage);
        } else {
            QVERIFY(makeImage(clean, {"-pix_fmt", "yuvj420p", "-huffman", "default"}));
            if (damage == "arithmetic coding")
                QVERIFY2(MediaFixtures::run("jpegtran", {"-arithmetic", "-outfile", damaged, clean}),
                         "needs jpegtran");
            else
                QVERIFY(writeAll(damaged, damageJpeg(readAll(clean), damage)));
        }
        const QString output = dir.filePath("out.jpg");
        const Run r = cJpeg({"-outfile", output, damaged});
        QVERIFY2(r.exitCode == 0, qPrintable(r.stdErr));
        const double error = colourError(clean, output);
        QVERIFY2(error < 8.0, qPrintable(QString("colour error %1").arg(error)));
    }

    void rejectsBadCommandLines_data()
    {
        QTest::addColumn<QStringList>("args");
        const QString in = photo("landscape_6.jpg");
        QTest::newRow("nothing") << QStringList{};
        QTest::newRow("no input") << QStringList{"-outfile", "out.jpg", "-baseline"};
        QTest::newRow("no -outfile") << QStringList{"-quality", "80", in};
        QTest::newRow("-outfile without name") << QStringList{"-outfile"};
        QTest::newRow("unknown option") << QStringList{"-outfile", "out.jpg", "-fast", in};
        QTest::newRow("quality not a number") << QStringList{"-outfile", "out.jpg", "-quality", "high", in};
        QTest::newRow("two inputs") << QStringList{"-outfile", "out.jpg", in, in};
        QTest::newRow("box without x") << QStringList{"-outfile", "out.jpg", "-maxsize", "300", in};
        QTest::newRow("box side not a number") << QStringList{"-outfile", "out.jpg", "-maxsize", "x-5", in};
        QTest::newRow("unknown strip policy") << QStringList{"-outfile", "out.jpg", "-strip", "none", in};
    }

    void rejectsBadCommandLines()
    {
        QFETCH(QStringList, args);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const Run r = run(QStringLiteral(CJPEG_PATH), args, dir.path());
        QCOMPARE(r.exitCode, 2);
        QCOMPARE(r.stdErr.trimmed().count('\n'), 0);
        QVERIFY(QDir(dir.path()).entryList(QDir::Files).isEmpty());
    }

    void handlesQualityValues()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString source = dir.filePath("in.png"), output = dir.filePath("out.jpg");
        QVERIFY(makeImage(source, {"-pix_fmt", "rgb24"}));
        auto encode = [&](const QStringList& qualityArgs) {
            QFile::remove(output);
            const Run r = cJpeg(QStringList{"-outfile", output} + qualityArgs + QStringList{source});
            return r.exitCode == 0 ? readAll(output) : QByteArray();
        };
        const QByteArray q75 = encode({"-quality", "75", "-baseline"});
        QVERIFY(!q75.isEmpty());
        // An empty quality reaches us as nothing: the next option must not be swallowed.
        QCOMPARE(encode({"-quality", "-baseline"}), q75);
        QCOMPARE(encode({"-baseline", "-quality"}), q75);
        QCOMPARE(encode({"-quality", "", "-baseline"}), q75);
        QVERIFY(encode({"-quality", "20"}).size() < q75.size());
        QCOMPARE(encode({"-quality", "0"}), encode({"-quality", "1"}));
        QCOMPARE(encode({"-quality", "250"}), encode({"-quality", "100"}));
    }

    // A standard decoder reads what cJpeg writes, in the mode asked for: progressive unless -sequential,
    // chroma halved below quality 97 (-baseline only promises 8-bit tables), optimised Huffman tables.
    void encodesAsAsked_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("channels");
        QTest::addColumn<QString>("options");
        const QSize odd(161, 121), wide(65500, 3);
        QTest::newRow("default") << odd << 3 << "";
        QTest::newRow("-baseline, quality 5") << odd << 3 << "-baseline -quality 5";
        QTest::newRow("-sequential, quality 5") << odd << 3 << "-baseline -sequential -quality 5";
        QTest::newRow("sequential") << odd << 3 << "-quality 90 -sequential";
        QTest::newRow("progressive 4:4:4") << odd << 3 << "-quality 97";
        QTest::newRow("gray progressive") << odd << 1 << "-quality 90";
        QTest::newRow("gray sequential") << odd << 1 << "-quality 90 -sequential";
        QTest::newRow("one partial block") << QSize(17, 9) << 3 << "-quality 90";
        QTest::newRow("rgb 1x1") << QSize(1, 1) << 3 << "-quality 90";
        QTest::newRow("rgb 65500 wide") << wide << 3 << "-quality 90";
        QTest::newRow("gray 65500 wide") << wide << 1 << "-sequential";
    }

    void encodesAsAsked()
    {
        QFETCH(QSize, size);
        QFETCH(int, channels);
        QFETCH(QString, options);
        const int quality =
            options.contains("-quality") ? options.section("-quality ", 1).section(' ', 0, 0).toInt() : 75;
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString source = dir.filePath("in.pnm"), output = dir.filePath("out.jpg");
        const QByteArray image = pnm(size.width(), size.height(), channels);
        QVERIFY(writeAll(source, image));
        const Run r = cJpeg(QStringList{"-outfile", output} + options.split(' ', Qt::SkipEmptyParts) +
                            QStringList{source});
        QVERIFY2(r.exitCode == 0, qPrintable(r.stdErr));
        const QByteArray jpeg = readAll(output);
        const auto segments = jpegSegmentsOf(jpeg);
        const auto sof = std::find_if(segments.begin(), segments.end(),
                                      [](const Segment& s) { return s.marker == 0xC0 || s.marker == 0xC2; });
        QVERIFY(sof != segments.end());
        QCOMPARE(sof->marker, options.contains("-sequential") ? 0xC0 : 0xC2);
        QCOMPARE(int(sof->payload[5]), channels);
        QCOMPARE(sof->payload[7] == 0x22, channels == 3 && quality < 97); // luma sampled 2x2: chroma halved
        const QByteArray decoded = pixels(output, {}, channels == 3 ? "rgb24" : "gray");
        QCOMPARE(decoded.size(), size.width() * size.height() * channels);
        const double error = meanDifference(image.right(decoded.size()), decoded);
        QVERIFY2(error < (quality < 50 ? 8 : 3), qPrintable(QString("mean error %1").arg(error)));

        // Code-length counts of the stock luminance DC table that an unoptimised encoder writes.
        const QByteArray stockDcBits("\x00\x00\x01\x05\x01\x01\x01\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00",
                                     17);
        for (const Segment& s : segments) {
            if (s.marker == 0xDB) // quantisation tables stay 8-bit, as baseline decoders need
                for (int at = 0; at < s.payload.size(); at += 65)
                    QCOMPARE(uchar(s.payload[at]) >> 4, 0);
            QVERIFY(s.marker != 0xC4 || !s.payload.startsWith(stockDcBits));
        }
    }

    // kodim03.png at quality 75 (libjpeg-turbo: 44,518 bytes, distance 3.16): fewer bytes or a worse
    // butteraugli distance than this band is a change to look at, whichever way it goes.
    void keepsSizeAndQualityOfAReferencePhoto()
    {
        const QString butteraugli = QStandardPaths::findExecutable("butteraugli");
        if (butteraugli.isEmpty())
            QSKIP("butteraugli is not installed (scripts/install-deps.sh installs it)");
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString source = photo("kodim03.png"), output = dir.filePath("out.jpg");
        const Run r = cJpeg({"-outfile", output, "-quality", "75", "-baseline", source});
        QVERIFY2(r.exitCode == 0, qPrintable(r.stdErr));
        const qint64 bytes = QFileInfo(output).size();
        QVERIFY2(bytes > 38893 * 0.95 && bytes < 38893 * 1.05, qPrintable(QString::number(bytes)));
        QByteArray text;
        QVERIFY(MediaFixtures::run(butteraugli, {source, output}, &text));
        const double distance = text.trimmed().split('\n').last().toDouble();
        QVERIFY2(distance > 3.02 * 0.85 && distance < 3.02 * 1.1, qPrintable(QString::number(distance)));
    }
};

QTEST_GUILESS_MAIN(TestCJpeg)
#include "tst_cjpeg.moc"
