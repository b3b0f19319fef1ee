// Black-box tests of cImage: prepares real and generated sources for pngquant and ffmpeg, runs the
// real tools on what it hands over, and checks what a user would see in the results.

#include "MediaFixtures.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

namespace {

using MediaFixtures::readAll;
using MediaFixtures::writeAll;

// Outcome of one program run.
struct Run
{
    int exitCode = -1;
    QString stdErr;
    QMap<QString, QString> keys; // key=value lines on stdout
};

Run run(const QString& program, const QStringList& args)
{
    QProcess process;
    process.start(program, args);
    Run result;
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.stdErr = QString::fromLocal8Bit(process.readAllStandardError());
    for (const QString& line : QString::fromUtf8(process.readAllStandardOutput()).split('\n')) {
        const int eq = line.indexOf('=');
        if (eq > 0)
            result.keys.insert(line.left(eq), line.mid(eq + 1));
    }
    return result;
}

Run cimage(const QStringList& args)
{
    return run(QStringLiteral(CIMAGE_PATH), args);
}

bool ffmpeg(const QStringList& args)
{
    return MediaFixtures::run(MediaFixtures::ffmpeg(), QStringList{"-v", "error", "-y"} + args);
}

QString realImage(const QString& fileName)
{
    return QStringLiteral(TEST_DATA_DIR "/images/") + fileName;
}

// Pixels as 8-bit RGB (or RGBA), decoded by ffmpeg after an optional filter.
QByteArray pixels(const QString& path, const QString& filter = QString(), const char* format = "rgb24")
{
    QStringList args{"-v", "error", "-i", path, "-frames:v", "1"};
    if (!filter.isEmpty())
        args << "-vf" << filter;
    args << "-f"
         << "rawvideo"
         << "-pix_fmt" << format << "-";
    QProcess process;
    process.start(MediaFixtures::ffmpeg(), args);
    process.waitForFinished(60000);
    return process.readAllStandardOutput();
}

double meanDifference(const QByteArray& a, const QByteArray& b)
{
    if (a.isEmpty() || a.size() != b.size())
        return 1e9;
    double sum = 0;
    for (int i = 0; i < a.size(); ++i)
        sum += std::abs(uchar(a[i]) - uchar(b[i]));
    return sum / a.size();
}

// Chunks of a PNG (type -> payloads) or of a WebP's RIFF container (fourcc -> payloads).
QMultiMap<QByteArray, QByteArray> chunks(const QByteArray& file)
{
    QMultiMap<QByteArray, QByteArray> found;
    const bool png = file.startsWith("\x89PNG");
    int pos = png ? 8 : 12;
    while (pos + 8 <= file.size()) {
        const quint32 length = png ? qFromBigEndian<quint32>(file.constData() + pos)
                                   : qFromLittleEndian<quint32>(file.constData() + pos + 4);
        const QByteArray type = file.mid(png ? pos + 4 : pos, 4);
        if (length > quint32(file.size() - pos - 8))
            break;
        found.insert(type, file.mid(pos + 8, int(length)));
        pos += 8 + int(length) + (png ? 4 : int(length & 1));
    }
    return found;
}

// An APP1 EXIF block holding only an orientation tag, big-endian.
QByteArray exifWithOrientation(int orientation)
{
    QByteArray exif("\xFF\xE1\x00\x22"
                    "Exif\0\0"
                    "MM\0\x2A\0\0\0\x08"
                    "\0\x01"
                    "\x01\x12\0\x03\0\0\0\x01",
                    28);
    exif += char(0);
    exif += char(orientation);
    exif += QByteArray(6, '\0'); // rest of the value field, then no next IFD
    return exif;
}

// An uncompressed little-endian TIFF of one strip; `tags` are (tag, SHORT values) besides the basic ones.
QByteArray tiff(int width, int height, int photometric, int bits, int samples, const QByteArray& pixels,
                const QVector<QPair<int, QVector<int>>>& tags = {})
{
    QVector<QPair<int, QVector<int>>> entries{
        {256, {width}},   {257, {height}},      {258, QVector<int>(samples, bits)},
        {259, {1}},       {262, {photometric}}, {273, {8}},
        {277, {samples}}, {278, {height}},      {279, {int(pixels.size())}}};
    entries += tags;
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    QByteArray out("II*\0\0\0\0\0", 8);
    out += pixels;
    QByteArray ifd, values;
    const int ifdAt = out.size(), valuesAt = ifdAt + 2 + 12 * entries.size() + 4;
    auto le = [](quint32 v, int size) {
        QByteArray b(4, '\0');
        qToLittleEndian(v, b.data());
        return b.left(size);
    };
    for (const auto& [tag, list] : entries) {
        const bool isLong = tag == 273 || tag == 279; // offsets and byte counts
        QByteArray data;
        for (int v : list)
            data += le(quint32(v), isLong ? 4 : 2);
        ifd += le(quint32(tag), 2) + le(isLong ? 4 : 3, 2) + le(quint32(list.size()), 4);
        if (data.size() <= 4) {
            ifd += data.leftJustified(4, '\0');
        } else {
            ifd += le(quint32(valuesAt + values.size()), 4);
            values += data;
        }
    }
    out.replace(4, 4, le(quint32(ifdAt), 4));
    return out + le(quint32(entries.size()), 2) + ifd + le(0, 4) + values;
}

} // namespace

// Checks cImage's prepare and finish steps end to end, with the tools the library runs after them.
class TestCImage : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(QFileInfo(QStringLiteral(CIMAGE_PATH)).isExecutable(), CIMAGE_PATH);
        for (const char* tool : {"ffmpeg", "pngquant"})
            QVERIFY2(!QStandardPaths::findExecutable(tool).isEmpty(), tool);
    }

    void recognisesFormatByContent_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("format");
        QTest::addColumn<bool>("ffmpegReadsIt"); // webp target takes the file as it is
        QTest::newRow("jpeg") << QStringList{"-f", "mjpeg", "-pix_fmt", "yuvj420p"} << "jpeg" << true;
        QTest::newRow("png") << QStringList{"-f", "image2", "-c:v", "png"} << "png" << true;
        QTest::newRow("gif") << QStringList{"-f", "gif"} << "gif" << true;
        QTest::newRow("bmp") << QStringList{"-f", "image2", "-c:v", "bmp"} << "bmp" << true;
        QTest::newRow("tiff") << QStringList{"-f", "image2", "-c:v", "tiff"} << "tiff" << false;
        QTest::newRow("webp") << QStringList{"-f", "webp", "-c:v", "libwebp"} << "webp" << true;
        QTest::newRow("pnm") << QStringList{"-f", "image2", "-c:v", "ppm"} << "pnm" << true;
    }

    void recognisesFormatByContent()
    {
        QFETCH(QStringList, options);
        QFETCH(QString, format);
        QFETCH(bool, ffmpegReadsIt);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString source = dir.filePath(QStringLiteral("picture.dat"));
        QVERIFY(
            MediaFixtures::makeImage(source, QStringLiteral("testsrc2=size=97x61,format=rgb24"), options));
        for (const QString& target : {QStringLiteral("png"), QStringLiteral("webp")}) {
            const Run r = cimage({"-prepare", target, "-outdir", dir.path(), source});
            QVERIFY2(r.exitCode == 0, qPrintable(r.stdErr));
            QCOMPARE(r.keys.value("format"), format);
            QCOMPARE(r.keys.value("frames"), QStringLiteral("1"));
            QCOMPARE(r.keys.value("loop"), QStringLiteral("1"));
            QCOMPARE(r.keys.value("turned"), QStringLiteral("0"));
            const QString input = r.keys.value("input");
            const bool asIs = target == QLatin1String("png") ? format == QLatin1String("png") : ffmpegReadsIt;
            QCOMPARE(input == source, asIs);
            if (target == QLatin1String("png"))
                QVERIFY(readAll(input).startsWith("\x89PNG\r\n\x1A\n"));
            QCOMPARE(MediaFixtures::frameSize(input), QStringLiteral("97x61"));
        }
    }

    void turnsByExifOrientation_data()
    {
        QTest::addColumn<int>("orientation");
        QTest::addColumn<QString>("filter"); // how ffmpeg shows the stored pixels upright
        const char* filters[] = {"null",        "hflip",       "hflip,vflip", "vflip",
                                 "transpose=0", "transpose=1", "transpose=3", "transpose=2"};
        for (int o = 1; o <= 8; ++o)
            QTest::newRow(qPrintable(QStringLiteral("orientation %1").arg(o))) << o << filters[o - 1];
    }

    void turnsByExifOrientation()
    {
        QFETCH(int, orientation);
        QFETCH(QString, filter);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString plain = dir.filePath(QStringLiteral("plain.jpg")), source = dir.filePath("turned.jpg");
        QVERIFY(MediaFixtures::makeImage(plain, QStringLiteral("testsrc2=size=96x48"),
                                         {"-pix_fmt", "yuvj444p", "-q:v", "1"}));
        QVERIFY(writeAll(source, readAll(plain).insert(2, exifWithOrientation(orientation))));
        const QByteArray expected = pixels(plain, filter);
        const bool sideways = orientation >= 5;
        for (const QString& target : {QStringLiteral("png"), QStringLiteral("webp")}) {
            const Run r = cimage({"-prepare", target, "-outdir", dir.path(), source});
            QVERIFY2(r.exitCode == 0, qPrintable(r.stdErr));
            QCOMPARE(r.keys.value("turned"), orientation == 1 ? QStringLiteral("0") : QStringLiteral("1"));
            QCOMPARE(MediaFixtures::frameSize(r.keys.value("input")), sideways ? "48x96" : "96x48");
            QVERIFY(meanDifference(pixels(r.keys.value("input")), expected) < 3);
        }
    }

    void restoresMetadata_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("photo");
        for (const char* target : {"png", "webp"})
            for (const char* photo : {"landscape_6.jpg", "DSCN0010.jpg"})
                QTest::newRow(qPrintable(QStringLiteral("%1 from %2").arg(target, photo))) << target << photo;
    }

    void restoresMetadata()
    {
        QFETCH(QString, target);
        QFETCH(QString, photo);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString source = MediaFixtures::photo(photo), output = dir.filePath("out." + target);
        const Run prepared = cimage({"-prepare", target, "-outdir", dir.path(), source});
        QVERIFY2(prepared.exitCode == 0, qPrintable(prepared.stdErr));
        const QString input = prepared.keys.value("input");
        if (target == QLatin1String("png"))
            QVERIFY(MediaFixtures::run("pngquant", {"--force", "--output", output, input}));
        else
            QVERIFY(ffmpeg({"-i", input, "-c:v", "libwebp", "-quality", "75", output}));
        const Run finished = cimage({"-finish", target, "-from", source, output});
        QVERIFY2(finished.exitCode == 0, qPrintable(finished.stdErr));

        const auto in = MediaFixtures::jpegSegmentsOf(readAll(source));
        const auto out = chunks(readAll(output));
        const bool png = target == QLatin1String("png");
        const QByteArray exifHeader("Exif\0\0", 6), xmpHeader("http://ns.adobe.com/xap/1.0/\0", 29);
        const QByteArray exif = out.value(png ? "eXIf" : "EXIF");
        QCOMPARE(exif.size(), MediaFixtures::jpegApp1(in, exifHeader).size() - 6);
        QCOMPARE(MediaFixtures::exifPayloadOrientation(exifHeader + exif), 1);
        QVERIFY(MediaFixtures::exifPayloadOrientation(MediaFixtures::jpegApp1(in, exifHeader)) >= 1);

        const QByteArray icc = MediaFixtures::jpegIccProfile(in);
        QByteArray storedIcc = out.value(png ? "iCCP" : "ICCP");
        if (png && !storedIcc.isEmpty()) { // name, NUL, method, zlib data
            const QByteArray packed = storedIcc.mid(storedIcc.indexOf('\0') + 2);
            QByteArray sized(4, '\0'); // qUncompress wants the expected size up front

            qToBigEndian<quint32>(quint32(icc.size()), sized.data());
            storedIcc = qUncompress(sized + packed);
        }
        QCOMPARE(storedIcc, icc);

        const QByteArray xmp = MediaFixtures::jpegApp1(in, xmpHeader).mid(xmpHeader.size());
        QByteArray storedXmp = out.value("XMP ");
        for (const QByteArray& text : out.values("iTXt"))
            if (text.startsWith(QByteArray("XML:com.adobe.xmp\0", 18)))
                storedXmp = text.mid(22);
        QCOMPARE(storedXmp, xmp);
    }

    // located.jpg: landscape_6.jpg (orientation 6, ICC) with a place of recording, a title and a
    // comment; tagged.png: kodim03.png with a location in XMP and a comment, which pngquant copies on
    // its own when it reads the PNG itself.
    void resizesAndStrips_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("policy");
        QTest::addColumn<QString>("size");
        for (const char* target : {"png", "webp"})
            for (const char* policy : {"gps", "all"})
                QTest::newRow(qPrintable(QStringLiteral("%1, %2, width").arg(target, policy)))
                    << target << "located.jpg"
                    << "300x" << policy << "300x225";
        QTest::newRow("png, all, height") << "png"
                                          << "located.jpg"
                                          << "x200"
                                          << "all"
                                          << "267x200";
        QTest::newRow("png from png, all, fits") << "png"
                                                 << "tagged.png"
                                                 << ""
                                                 << "all"
                                                 << "768x512";
        QTest::newRow("png from png, gps, fits") << "png"
                                                 << "tagged.png"
                                                 << "2000x"
                                                 << "gps"
                                                 << "768x512";
    }

    void resizesAndStrips()
    {
        QFETCH(QString, target);
        QFETCH(QString, source);
        QFETCH(QString, box);
        QFETCH(QString, policy);
        QFETCH(QString, size);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString input = dir.filePath(source), output = dir.filePath("out." + target);
        if (source == "located.jpg") {
            QVERIFY(MediaFixtures::photoWithLocation(input));
        } else {
            QVERIFY(QFile::copy(MediaFixtures::photo("kodim03.png"), input));
            QVERIFY(
                MediaFixtures::run("exiftool", {"-q", "-overwrite_original", "-XMP-exif:GPSLatitude=48.8577N",
                                                "-XMP-dc:Title=Tower", "-PNG:Comment=taken here", input}));
        }
        const QStringList limit = box.isEmpty() ? QStringList() : QStringList{"-maxsize", box};
        const Run prepared =
            cimage(QStringList{"-prepare", target, "-outdir", dir.path()} + limit + QStringList{input});
        QVERIFY2(prepared.exitCode == 0, qPrintable(prepared.stdErr));
        const bool resized = size != "768x512";
        QCOMPARE(prepared.keys.value("resized"), resized ? size : QString());
        const QString encoderInput = prepared.keys.value("input");
        if (target == QLatin1String("png"))
            QVERIFY(MediaFixtures::run("pngquant", {"--force", "--output", output, encoderInput}));
        else
            QVERIFY(ffmpeg({"-i", encoderInput, "-c:v", "libwebp", "-quality", "90", output}));
        const Run finished = cimage({"-finish", target, "-from", input, "-strip", policy, output});
        QVERIFY2(finished.exitCode == 0, qPrintable(finished.stdErr));
        QCOMPARE(MediaFixtures::frameSize(output), size);

        const QVariantMap tags = MediaFixtures::metadataTags(output);
        QVERIFY(!tags.isEmpty());
        for (auto it = tags.cbegin(); it != tags.cend(); ++it)
            QVERIFY2(!it.key().contains("GPS") && !it.key().contains("City"), qPrintable(it.key()));
        const bool photo = source == "located.jpg";
        QCOMPARE(tags.contains("ICC_Profile:ProfileDescription"), photo);
        if (policy == "gps") {
            QCOMPARE(tags.value("XMP-dc:Title").toString(), QString("Tower"));
            if (photo) {
                QCOMPARE(tags.value("IFD0:Orientation").toString(), QString("Horizontal (normal)"));
                QCOMPARE(tags.value("ExifIFD:ExifImageWidth").toInt(), 300);
            }
        } else {
            const QStringList groups = MediaFixtures::metadataGroups(tags);
            QVERIFY2(std::all_of(groups.cbegin(), groups.cend(),
                                 [](const QString& g) { return g.startsWith("ICC"); }),
                     qPrintable(groups.join(' ')));
            QVERIFY(!tags.contains("PNG:Comment"));
        }
        // Upright and resized like ffmpeg's Lanczos filter does it, as far as the encoder lets it show.
        const QString reference = dir.filePath("reference.png");
        const QStringList sides = size.split('x');
        QVERIFY(ffmpeg(
            {"-i", input, "-vf", QString("scale=%1:%2:flags=lanczos").arg(sides[0], sides[1]), reference}));
        const double similarity = MediaFixtures::ssim(reference, output);
        QVERIFY2(similarity >= 0.95, qPrintable(QString::number(similarity)));
    }

    void leavesOutputAloneWithoutMetadata()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString source = dir.filePath(QStringLiteral("plain.png")), output = dir.filePath("out.png");
        QVERIFY(MediaFixtures::makeImage(source, QStringLiteral("testsrc2=size=64x48")));
        QVERIFY(MediaFixtures::run("pngquant", {"--force", "--output", output, source}));
        const QByteArray before = readAll(output);
        const Run r = cimage({"-finish", "png", "-from", source, output});
        QVERIFY2(r.exitCode == 0, qPrintable(r.stdErr));
        QCOMPARE(readAll(output), before);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 2);
    }

    void keepsAnimation_data()
    {
        QTest::addColumn<QString>("container");
        QTest::addColumn<int>("loop");
        QTest::newRow("webp forever") << "webp" << 0;
        QTest::newRow("webp three plays") << "webp" << 3;
        QTest::newRow("gif three plays") << "gif" << 3;
    }

    void keepsAnimation()
    {
        QFETCH(QString, container);
        QFETCH(int, loop);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        // Five frames of 200 ms; the WebP has transparency that must not let earlier frames show through.
        const QString source = dir.filePath("anim." + container), output = dir.filePath("out.webp");
        const bool webp = container == QLatin1String("webp");
        QVERIFY(ffmpeg(
            QStringList{"-f", "lavfi", "-i",
                        "testsrc2=size=64x48:rate=5:duration=1,format=rgba,geq=r='r(X,Y)':"
                        "g='g(X,Y)':b='b(X,Y)':a='if(lt(X,32),255,0)'"} +
            (webp ? QStringList{"-c:v", "libwebp", "-lossless", "1"} : QStringList{"-pix_fmt", "rgb8"}) +
            QStringList{"-loop", QString::number(loop), source}));
        const Run prepared = cimage({"-prepare", "webp", "-outdir", dir.path(), source});
        QVERIFY2(prepared.exitCode == 0, qPrintable(prepared.stdErr));
        QCOMPARE(prepared.keys.value("format"), container);
        QCOMPARE(prepared.keys.value("input") == source, !webp); // ffmpeg reads GIF animations itself
        QCOMPARE(prepared.keys.value("frames"), QStringLiteral("5"));
        QCOMPARE(prepared.keys.value("loop"), QString::number(loop));
        QVERIFY(ffmpeg({"-i", prepared.keys.value("input"), "-c:v", "libwebp", "-quality", "75", output}));
        const Run finished = cimage({"-finish", "webp", "-from", source, output});
        QVERIFY2(finished.exitCode == 0, qPrintable(finished.stdErr));

        const auto out = chunks(readAll(output));
        const QByteArrayList frames = out.values("ANMF");
        QCOMPARE(frames.size(), 5);
        QCOMPARE(int(qFromLittleEndian<quint16>(out.value("ANIM").constData() + 4)), loop);
        int total = 0;
        for (const QByteArray& frame : frames) {
            total += uchar(frame[12]) | uchar(frame[13]) << 8 | uchar(frame[14]) << 16;
            QCOMPARE(uchar(frame[15]) & 0x02, 0x02); // replaces the canvas rather than blending
        }
        QCOMPARE(total, 1000);
    }

    void decodesRleBmp()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        // RLE4, 8x4, bottom-up: a run, an absolute run, a delta, a run and end of bitmap.
        QByteArray palette;
        for (int i = 0; i < 16; ++i)
            palette += QByteArray(1, char(255 - 16 * i)) + char(100) + char(16 * i) + char(0); // BGRA
        const QByteArray rle("\x08\x12\x00\x00"
                             "\x00\x04\x34\x56"
                             "\x00\x02\x02\x01"
                             "\x02\x77\x00\x01",
                             16);
        QByteArray bmp("BM", 2);
        auto le32 = [](quint32 v) {
            QByteArray b(4, '\0');
            qToLittleEndian(v, b.data());
            return b;
        };
        bmp += le32(14 + 40 + 64 + 16) + le32(0) + le32(14 + 40 + 64);
        bmp += le32(40) + le32(8) + le32(4) + QByteArray("\x01\x00\x04\x00", 4) + le32(2) + le32(16);
        bmp += le32(2835) + le32(2835) + le32(16) + le32(0) + palette + rle;
        const QString rle4 = dir.filePath(QStringLiteral("rle4.bmp"));
        QVERIFY(writeAll(rle4, bmp));
        const int rows[4][8] = {{0, 0, 0, 0, 0, 0, 0, 0},
                                {0, 0, 0, 0, 0, 0, 7, 7},
                                {3, 4, 5, 6, 0, 0, 0, 0},
                                {1, 2, 1, 2, 1, 2, 1, 2}};
        QByteArray expected;
        for (const auto& row : rows)
            for (int index : row)
                expected += QByteArray(1, char(16 * index)) + char(100) + char(255 - 16 * index);

        const Run r = cimage({"-prepare", "png", "-outdir", dir.path(), rle4});
        QVERIFY2(r.exitCode == 0, qPrintable(r.stdErr));
        QCOMPARE(pixels(r.keys.value("input")), expected);

        // A real RLE8 file decodes to the same pixels as ffmpeg's reader gives.
        const QString rle8 = realImage(QStringLiteral("hopper_rle8.bmp"));
        const Run real = cimage({"-prepare", "png", "-outdir", dir.path(), rle8});
        QVERIFY2(real.exitCode == 0, qPrintable(real.stdErr));
        QCOMPARE(pixels(real.keys.value("input")), pixels(rle8));
    }

    void readsTiffColourModels_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QByteArray>("rgba"); // the first pixel as a viewer shows it
        const QByteArray cyan("\xFF\0\0\0", 4);
        QTest::newRow("CMYK") << tiff(2, 2, 5, 8, 4, cyan.repeated(4)) << QByteArray("\0\xFF\xFF\xFF", 4);
        QTest::newRow("CIELab neutral gray") << tiff(2, 2, 8, 8, 3, QByteArray("\xE6\0\0", 3).repeated(4))
                                             << QByteArray("\xE3\xE3\xE3\xFF", 4);
        // ICC-coded Lab stores a and b with an offset of 128; libtiff's RGBA interface refuses it.
        QTest::newRow("ICC Lab neutral gray")
            << tiff(2, 2, 9, 8, 3, QByteArray("\xE6\x80\x80", 3).repeated(4))
            << QByteArray("\xE3\xE3\xE3\xFF", 4);
        QVector<int> colours(768, 0);
        colours[0] = 65535; // entry 0: orange
        colours[256] = 32896;
        QTest::newRow("palette") << tiff(2, 2, 3, 8, 1, QByteArray(4, '\0'), {{320, colours}})
                                 << QByteArray("\xFF\x80\0\xFF", 4);
        QTest::newRow("16-bit, unassociated alpha")
            << tiff(2, 2, 2, 16, 4, QByteArray("\0\0\0\0\xFF\xFF\0\x80", 8).repeated(4), {{338, {2}}})
            << QByteArray("\0\0\xFF\x80", 4);
        QTest::newRow("premultiplied alpha")
            << tiff(2, 2, 2, 8, 4, QByteArray("\0\x80\0\x80", 4).repeated(4), {{338, {1}}})
            << QByteArray("\0\xFF\0\x80", 4);
    }

    void readsTiffColourModels()
    {
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, rgba);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString source = dir.filePath(QStringLiteral("in.tif"));
        QVERIFY(writeAll(source, file));
        const Run r = cimage({"-prepare", "png", "-outdir", dir.path(), source});
        QVERIFY2(r.exitCode == 0, qPrintable(r.stdErr));
        QCOMPARE(pixels(r.keys.value("input"), QString(), "rgba").left(4).toHex(), rgba.toHex());
    }

    void matchesCwebpOnSemiTransparency_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("png with a file gamma") << "pil123rgba.png";
        QTest::newRow("16-bit tiff, premultiplied") << "tiff_16bit_RGBa.tiff";
    }

    void matchesCwebpOnSemiTransparency()
    {
        QFETCH(QString, file);
        if (QStandardPaths::findExecutable(QStringLiteral("cwebp")).isEmpty())
            QSKIP("needs cwebp (package webp)");
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString source = realImage(file), ours = dir.filePath("ours.webp"),
                      theirs = dir.filePath("cwebp.webp");
        const Run r = cimage({"-prepare", "webp", "-outdir", dir.path(), source});
        QVERIFY2(r.exitCode == 0, qPrintable(r.stdErr));
        QVERIFY(ffmpeg({"-i", r.keys.value("input"), "-c:v", "libwebp", "-quality", "75", ours}));
        QVERIFY(MediaFixtures::run("cwebp", {"-quiet", "-q", "75", source, "-o", theirs}));
        // Over black and over white the two must look alike, semi-transparent edges included.
        for (const char* background : {"black", "white"}) {
            const QString flatten = QStringLiteral("color=c=%1:s=%2[bg];[bg][0]overlay=format=rgb:shortest=1")
                                        .arg(background, MediaFixtures::frameSize(source));
            const QString a = dir.filePath("a.png"), b = dir.filePath("b.png");
            QVERIFY(ffmpeg({"-i", ours, "-filter_complex", flatten, "-frames:v", "1", a}));
            QVERIFY(ffmpeg({"-i", theirs, "-filter_complex", flatten, "-frames:v", "1", b}));
            QVERIFY2(MediaFixtures::ssim(b, a) > 0.98, background);
        }
    }

    void rejectsBadInput_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        const QString real = realImage(QStringLiteral("pil123rgba.png"));
        QTest::newRow("nothing") << QStringList{} << 2;
        QTest::newRow("unknown target") << QStringList{"-prepare", "gif", "-outdir", ".", real} << 2;
        QTest::newRow("prepare without -outdir") << QStringList{"-prepare", "png", real} << 2;
        QTest::newRow("finish without -from") << QStringList{"-finish", "webp", real} << 2;
        QTest::newRow("two inputs") << QStringList{"-prepare", "png", "-outdir", ".", real, real} << 2;
        QTest::newRow("truncated jpeg")
            << QStringList{"-prepare", "webp", "-outdir", ".", realImage("truncated_jpeg.jpg")} << 1;
        QTest::newRow("missing file")
            << QStringList{"-prepare", "png", "-outdir", ".", "/nonexistent.png"} << 1;
        QTest::newRow("finish into a non-image")
            << QStringList{"-finish", "png", "-from", real, real + ".none"} << 1;
    }

    void rejectsBadInput()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        const Run r = cimage(args);
        QCOMPARE(r.exitCode, exitCode);
        QCOMPARE(r.stdErr.trimmed().count('\n'), 0);
        QVERIFY(!r.stdErr.trimmed().isEmpty());
        QVERIFY(r.keys.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestCImage)
#include "tst_cimage.moc"
