// Tests of cJpeg: runs the real program on files made by ffmpeg, made here or shipped photos and
// examines the JPEG it writes; checks its quantiser against plain rounding.

#include "MediaFixtures.h"
#include "Trellis.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>
#include <sys/resource.h>

namespace {

// Odd sizes exercise row padding, bit packing and partial chroma blocks.
constexpr int kWidth = 161;
constexpr int kHeight = 121;
const QString kPattern = QStringLiteral("testsrc2=size=161x121,format=rgb24"); // rgb24 keeps odd sizes
// Red whose left half is fully transparent.
const QString kHalfTransparent = QStringLiteral(
    "color=c=red:size=64x48:duration=0.04,format=rgba,geq=r=255:g=0:b=0:a='if(lt(X,W/2),0,255)'");

// Outcome of one program run.
struct Run
{
    int exitCode = -1;
    QString stdErr;
    QByteArray stdOut;
};

Run run(const QString& program, const QStringList& args)
{
    QProcess process;
    process.start(program, args);
    Run result;
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        result.stdErr = QStringLiteral("could not run ") + program;
        return result;
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.stdErr = QString::fromLocal8Bit(process.readAllStandardError());
    result.stdOut = process.readAllStandardOutput();
    return result;
}

Run runCJpeg(const QStringList& args)
{
    return run(QStringLiteral(CJPEG_PATH), args);
}

bool ffmpeg(const QStringList& args, QByteArray* out = nullptr)
{
    const Run r =
        run(QStringLiteral("ffmpeg"), QStringList{"-hide_banner", "-loglevel", "error", "-y"} + args);
    if (r.exitCode != 0)
        qWarning() << "ffmpeg" << args << "failed:" << r.stdErr;
    if (out)
        *out = r.stdOut;
    return r.exitCode == 0;
}

// Renders one frame of a lavfi source graph into `path` with the given output options.
bool makeImage(const QString& path, const QStringList& options, const QString& graph = kPattern)
{
    return ffmpeg(QStringList{"-f", "lavfi", "-i", graph, "-frames:v", "1"} + options + QStringList{path});
}

QByteArray decodeRgb(const QString& path, const QStringList& filter = {})
{
    QByteArray rgb;
    ffmpeg(QStringList{"-i", path, "-frames:v", "1"} + filter +
               QStringList{"-f", "rawvideo", "-pix_fmt", "rgb24", "-"},
           &rgb);
    return rgb;
}

double ssim(const QString& a, const QString& b)
{
    const Run r = run(QStringLiteral("ffmpeg"),
                      {"-hide_banner", "-i", a, "-i", b, "-lavfi", "ssim", "-f", "null", "-"});
    const auto match = QRegularExpression(QStringLiteral("All:([0-9.]+)")).match(r.stdErr);
    return match.hasMatch() ? match.captured(1).toDouble() : -1.0;
}

// Mean per-sample difference of two images averaged down to 4x4-pixel blocks, which ignores
// compression detail but not a colour cast or swapped channels (those score far above 8).
double colourError(const QString& pathA, const QString& pathB)
{
    const QStringList shrink{"-vf", "format=rgb24,scale=iw/4:ih/4:flags=area"};
    const QByteArray a = decodeRgb(pathA, shrink), b = decodeRgb(pathB, shrink);
    if (a.isEmpty() || a.size() != b.size())
        return 1e9;
    double sum = 0;
    for (int i = 0; i < a.size(); ++i)
        sum += std::abs(uchar(a[i]) - uchar(b[i]));
    return sum / a.size();
}

using MediaFixtures::hugePng;
using MediaFixtures::photo;
using MediaFixtures::pngChunk;
using MediaFixtures::readAll;
using MediaFixtures::writeAll;

// JPEG marker segments as the shared fixtures read them.
using Segment = MediaFixtures::JpegSegment;
using MediaFixtures::exifPayloadOrientation;
using MediaFixtures::jpegApp1;
using MediaFixtures::jpegIccProfile;
using MediaFixtures::jpegSegmentsOf;

bool hasMarker(const QVector<Segment>& segments, int marker)
{
    return std::any_of(segments.begin(), segments.end(),
                       [&](const Segment& s) { return s.marker == marker; });
}

QSize frameSize(const QVector<Segment>& segments)
{
    for (const Segment& s : segments)
        if ((s.marker == 0xC0 || s.marker == 0xC2) && s.payload.size() >= 5)
            return QSize((uchar(s.payload[3]) << 8) | uchar(s.payload[4]),
                         (uchar(s.payload[1]) << 8) | uchar(s.payload[2]));
    return QSize();
}

// A small progressive JPEG whose frame header is rewritten to claim side x side pixels; libjpeg would
// allocate coefficient buffers for all of them when decompression starts.
QByteArray hugeProgressiveJpeg(quint16 side)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("seed.jpg"));
    if (!makeImage(path, {"-pix_fmt", "yuvj420p"}))
        return {};
    const QString progressive = dir.filePath(QStringLiteral("progressive.jpg"));
    if (runCJpeg({"-outfile", progressive, "-progressive", path}).exitCode != 0)
        return {};
    return MediaFixtures::withJpegFrameSize(readAll(progressive), side, side);
}

// kodim03.png at quality 75: bytes and butteraugli distance (libjpeg-turbo: 44,518 bytes, distance 3.16).
constexpr double kReferenceBytes = 38893;
constexpr double kReferenceDistance = 3.02;

// A PPM (3 channels) or PGM (1) of gentle gradients, different per channel so chroma varies too, under
// a sharp-edged brighter square (an edge in luma only, which chroma subsampling does not blur).
QByteArray pnm(int width, int height, int channels)
{
    QByteArray data = QByteArray(channels == 3 ? "P6\n" : "P5\n") + QByteArray::number(width) + ' ' +
                      QByteArray::number(height) + "\n255\n";
    const int header = data.size();
    data.resize(header + width * height * channels);
    auto* p = reinterpret_cast<uchar*>(data.data()) + header;
    const auto triangle = [](int at) {
        return std::abs(at % 400 - 200) / 2;
    }; // 0..100, half a level a pixel
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const bool square = x > width / 4 && x < width / 2 && y > height / 4 && y < height / 2;
            const int tx = triangle(x), ty = triangle(y);
            const int values[3] = {tx + ty / 2, tx / 2 + ty, (tx + ty) * 3 / 4};
            for (int c = 0; c < channels; ++c)
                *p++ = uchar(30 + values[c] + (square ? 70 : 0));
        }
    }
    return data;
}

// What libjpeg-turbo's decoder makes of a JPEG.
struct Decoded
{
    QSize size;
    int components = 0;
    bool progressive = false;
    bool chromaSubsampled = false;
    QByteArray samples; // rows of width * components
};

struct DecoderErrors
{
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

// Decodes with libjpeg-turbo; false on an error or a corrupt-data warning.
bool decodeWithLibjpeg(const QByteArray& jpeg, Decoded& out)
{
    jpeg_decompress_struct cinfo;
    DecoderErrors errors;
    cinfo.err = jpeg_std_error(&errors.pub);
    errors.pub.error_exit = [](j_common_ptr c) {
        std::longjmp(reinterpret_cast<DecoderErrors*>(c->err)->jump, 1);
    };
    errors.pub.emit_message = [](j_common_ptr c, int level) {
        if (level < 0)
            std::longjmp(reinterpret_cast<DecoderErrors*>(c->err)->jump, 1);
    };
    jpeg_create_decompress(&cinfo);
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(jpeg.constData()), jpeg.size());
    jpeg_read_header(&cinfo, TRUE);
    out.progressive = jpeg_has_multiple_scans(&cinfo);
    out.components = cinfo.num_components;
    out.chromaSubsampled = cinfo.num_components == 3 && cinfo.comp_info[0].h_samp_factor == 2 &&
                           cinfo.comp_info[0].v_samp_factor == 2;
    jpeg_start_decompress(&cinfo);
    out.size = QSize(int(cinfo.output_width), int(cinfo.output_height));
    const int stride = int(cinfo.output_width) * cinfo.output_components;
    out.samples.resize(stride * int(cinfo.output_height));
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = reinterpret_cast<JSAMPROW>(out.samples.data()) + cinfo.output_scanline * stride;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

double psnr(const QByteArray& a, const QByteArray& b)
{
    double sum = 0;
    for (int i = 0; i < a.size(); ++i)
        sum += double(uchar(a[i]) - uchar(b[i])) * (uchar(a[i]) - uchar(b[i]));
    return sum == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 * a.size() / sum);
}

// The standard luminance AC Huffman table, as libjpeg sets it up, for the rate model.
cjpeg::RateModel standardRateModel()
{
    jpeg_compress_struct cinfo;
    jpeg_error_mgr errors;
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    cinfo.in_color_space = JCS_RGB;
    cinfo.input_components = 3;
    jpeg_set_defaults(&cinfo);
    cjpeg::RateModel model(cinfo.ac_huff_tbl_ptrs[0]->bits, cinfo.ac_huff_tbl_ptrs[0]->huffval);
    jpeg_destroy_compress(&cinfo);
    return model;
}

QString realImage(const QString& fileName)
{
    return QStringLiteral(TEST_DATA_DIR "/images/") + fileName;
}

// Byte offset of the first segment with `marker` in a JPEG, or -1.
int segmentOffset(const QByteArray& jpeg, int marker)
{
    int pos = 2;
    while (pos + 4 <= jpeg.size() && uchar(jpeg[pos]) == 0xFF) {
        if (uchar(jpeg[pos + 1]) == marker)
            return pos;
        pos += 2 + ((uchar(jpeg[pos + 2]) << 8) | uchar(jpeg[pos + 3]));
    }
    return -1;
}

// A JPEG damaged the way real files are that viewers still show in full.
QByteArray damageJpeg(QByteArray jpeg, const QString& how)
{
    if (how == QLatin1String("junk before SOI"))
        return QByteArray("\x00\x01junk\r\n", 8) + jpeg;
    if (how == QLatin1String("junk between segments"))
        return jpeg.insert(segmentOffset(jpeg, 0xDB), QByteArray("\x00\x12\x34\x00\x56", 5));
    if (how == QLatin1String("APP1 longer than the file")) // EXIF block whose length field is garbage
        return jpeg.insert(2, QByteArray("\xFF\xE1\xFF\xF0"
                                         "Exif\0\0MM\0*",
                                         14));
    if (how == QLatin1String("second image after EOI")) // as in Ultra HDR photos
        return jpeg + jpeg;
    if (how == QLatin1String("no Huffman tables")) { // MJPEG frames rely on the standard tables
        for (int at = segmentOffset(jpeg, 0xC4); at >= 0; at = segmentOffset(jpeg, 0xC4))
            jpeg.remove(at, 2 + ((uchar(jpeg[at + 2]) << 8) | uchar(jpeg[at + 3])));
        return jpeg;
    }
    return jpeg;
}

} // namespace

// Checks the encoder end to end through its command line.
class TestCJpeg : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(QFileInfo(QStringLiteral(CJPEG_PATH)).isExecutable(), CJPEG_PATH);
        QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).isEmpty(), "tests need ffmpeg");
    }

    // Runs before the larger conversions, so the peak memory of waited-for children is this cJpeg run's
    // (or a small ffmpeg one's).
    void refusesHugeImagesFromTheHeader_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("png 30000x30000") << "huge.png";
        QTest::newRow("progressive jpeg 30000x30000") << "huge.jpg";
    }

    void refusesHugeImagesFromTheHeader()
    {
        QFETCH(QString, file);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString source = dir.filePath(file);
        QVERIFY(writeAll(source, file.endsWith(".png") ? hugePng(30000, 30000) : hugeProgressiveJpeg(30000)));
        const QString output = dir.filePath(QStringLiteral("out.jpg"));
        const Run r = runCJpeg({"-outfile", output, source});
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.stdErr.contains(QStringLiteral("too large (30000x30000)")), qPrintable(r.stdErr));
        QCOMPARE(r.stdErr.trimmed().count('\n'), 0);
        QVERIFY(!QFileInfo::exists(output));
        // Refused before the pixels were allocated (they would take gigabytes).
        rusage usage{};
        QCOMPARE(getrusage(RUSAGE_CHILDREN, &usage), 0);
        QVERIFY2(usage.ru_maxrss < 256 * 1024, qPrintable(QString::number(usage.ru_maxrss) + " KiB"));
    }

    void convertsEveryFormat_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QStringList>("options");
        const QStringList pngTypes = {"rgb24", "rgba",    "gray",     "ya8",      "pal8",
                                      "monob", "rgb48be", "rgba64be", "gray16be", "ya16be"};
        for (const QString& type : pngTypes)
            QTest::newRow(qPrintable("png " + type)) << "in.png" << QStringList{"-pix_fmt", type};
        const QStringList bmpTypes = {"bgr24", "bgra", "rgb565",    "rgb555",
                                      "pal8",  "gray", "rgb4_byte", "monob"};
        for (const QString& type : bmpTypes)
            QTest::newRow(qPrintable("bmp " + type)) << "in.bmp" << QStringList{"-pix_fmt", type};
        QTest::newRow("ppm 8-bit") << "in.ppm" << QStringList{"-pix_fmt", "rgb24"};
        QTest::newRow("ppm 16-bit") << "in.ppm" << QStringList{"-pix_fmt", "rgb48be"};
        QTest::newRow("pgm 8-bit") << "in.pgm" << QStringList{"-pix_fmt", "gray"};
        QTest::newRow("pgm 16-bit") << "in.pgm" << QStringList{"-pix_fmt", "gray16be"};
        QTest::newRow("gif") << "in.gif" << QStringList{};
        QTest::newRow("tiff rgb") << "in.tif" << QStringList{"-pix_fmt", "rgb24"};
        QTest::newRow("tiff rgba lzw")
            << "in.tif" << QStringList{"-pix_fmt", "rgba", "-compression_algo", "lzw"};
        QTest::newRow("tiff gray") << "in.tif" << QStringList{"-pix_fmt", "gray"};
        QTest::newRow("webp lossy") << "in.webp" << QStringList{"-c:v", "libwebp", "-quality", "95"};
        QTest::newRow("webp lossless") << "in.webp" << QStringList{"-c:v", "libwebp", "-lossless", "1"};
        QTest::newRow("jpeg 4:2:0") << "in.jpg" << QStringList{"-pix_fmt", "yuvj420p", "-q:v", "2"};
        QTest::newRow("jpeg 4:4:4") << "in.jpg" << QStringList{"-pix_fmt", "yuvj444p", "-q:v", "2"};
        // Detection goes by content: a PNG named like a JPEG.
        QTest::newRow("png named .jpg") << "misnamed.jpg" << QStringList{"-c:v", "png", "-pix_fmt", "rgb24"};
    }

    void convertsEveryFormat()
    {
        QFETCH(QString, file);
        QFETCH(QStringList, options);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString source = dir.filePath(file), output = dir.filePath(QStringLiteral("out.jpeg"));
        QVERIFY(makeImage(source, options));

        const Run r = runCJpeg({"-outfile", output, "-quality", "90", "-baseline", source});
        QVERIFY2(r.exitCode == 0, qPrintable(r.stdErr));
        QCOMPARE(frameSize(jpegSegmentsOf(readAll(output))), QSize(kWidth, kHeight));
        const double similarity = ssim(source, output);
        QVERIFY2(similarity > 0.9, qPrintable(QString("SSIM %1").arg(similarity)));
        // SSIM barely notices swapped channels or a colour cast; the mean error does.
        const double error = colourError(source, output);
        QVERIFY2(error < 8.0, qPrintable(QString("colour error %1").arg(error)));
    }

    void compositesTransparencyOnWhite_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QStringList>("options");
        const QString palette = QStringLiteral(",split[a][b];[a]palettegen[p];[b][p]paletteuse");
        QTest::newRow("png rgba") << "in.png" << QString() << QStringList{"-pix_fmt", "rgba"};
        QTest::newRow("png rgba64") << "in.png" << QString() << QStringList{"-pix_fmt", "rgba64be"};
        QTest::newRow("png gray+alpha") << "in.png" << QString() << QStringList{"-pix_fmt", "ya8"};
        QTest::newRow("png palette tRNS") << "in.png" << palette << QStringList{};
        QTest::newRow("gif") << "in.gif" << palette << QStringList{};
        QTest::newRow("webp") << "in.webp" << QString() << QStringList{"-c:v", "libwebp", "-lossless", "1"};
        QTest::newRow("tiff") << "in.tif" << QString() << QStringList{"-pix_fmt", "rgba"};
        QTest::newRow("bmp 32-bit") << "in.bmp" << QString() << QStringList{"-pix_fmt", "bgra"};
    }

    void compositesTransparencyOnWhite()
    {
        QFETCH(QString, file);
        QFETCH(QString, filter);
        QFETCH(QStringList, options);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString source = dir.filePath(file), output = dir.filePath(QStringLiteral("out.jpg"));
        QVERIFY(makeImage(source, options, kHalfTransparent + filter));

        const Run r = runCJpeg({"-outfile", output, "-quality", "95", source});
        QVERIFY2(r.exitCode == 0, qPrintable(r.stdErr));
        const QByteArray rgb = decodeRgb(output);
        const int width = 64, height = 48;
        QCOMPARE(rgb.size(), width * height * 3);
        // Stay clear of the edge, where JPEG rings.
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                if (x > width / 2 - 8 && x < width / 2 + 8)
                    continue;
                const char* p = rgb.constData() + 3 * (y * width + x);
                const int brightness = (uchar(p[0]) + uchar(p[1]) + uchar(p[2])) / 3;
                if (x < width / 2)
                    QVERIFY2(uchar(p[0]) > 240 && uchar(p[1]) > 240 && uchar(p[2]) > 240,
                             qPrintable(QString("transparent pixel %1,%2 is not white").arg(x).arg(y)));
                else
                    QVERIFY2(brightness < 160,
                             qPrintable(QString("opaque pixel %1,%2 was washed out").arg(x).arg(y)));
            }
        }
    }

    void readsTopDownBmp()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString bottomUp = dir.filePath(QStringLiteral("bottom-up.bmp"));
        const QString topDown = dir.filePath(QStringLiteral("top-down.bmp"));
        const QString output = dir.filePath(QStringLiteral("out.jpg"));
        QVERIFY(makeImage(bottomUp, {"-pix_fmt", "bgr24"}));
        // ffmpeg only writes bottom-up files: reverse the rows and negate the height.
        const QByteArray data = readAll(bottomUp);
        const int offset = qFromLittleEndian<qint32>(data.constData() + 10);
        const int stride = (kWidth * 3 + 3) / 4 * 4;
        QCOMPARE(data.size(), offset + stride * kHeight);
        QByteArray flipped = data.left(offset);
        for (int i = 0; i < 4; ++i)
            flipped[22 + i] = char(quint32(-kHeight) >> (8 * i));
        for (int row = kHeight - 1; row >= 0; --row)
            flipped += data.mid(offset + row * stride, stride);
        QVERIFY(writeAll(topDown, flipped));

        const Run r = runCJpeg({"-outfile", output, "-quality", "90", topDown});
        QVERIFY2(r.exitCode == 0, qPrintable(r.stdErr));
        QVERIFY(colourError(bottomUp, output) < 8.0);
    }

    void reencodesProgressiveAndGrayJpeg()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString png = dir.filePath(QStringLiteral("in.png")),
                      gray = dir.filePath(QStringLiteral("gray.jpg"));
        const QString output = dir.filePath(QStringLiteral("out.jpg"));
        QVERIFY(makeImage(png, {"-pix_fmt", "gray"}));
        QCOMPARE(runCJpeg({"-outfile", gray, "-quality", "95", "-progressive", png}).exitCode, 0);
        const auto graySegments = jpegSegmentsOf(readAll(gray));
        QVERIFY(hasMarker(graySegments, 0xC2));
        const Segment sof = *std::find_if(graySegments.begin(), graySegments.end(),
                                          [](const Segment& s) { return s.marker == 0xC2; });
        QCOMPARE(int(sof.payload[5]), 1); // one component: written as grayscale

        const Run r = runCJpeg({"-outfile", output, "-quality", "95", gray});
        QVERIFY2(r.exitCode == 0, qPrintable(r.stdErr));
        QCOMPARE(frameSize(jpegSegmentsOf(readAll(output))), QSize(kWidth, kHeight));
        QVERIFY(ssim(png, output) > 0.9);
    }

    void keepsJpegMetadata_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("orientation");
        QTest::addColumn<bool>("hasIcc");
        QTest::addColumn<bool>("hasXmp");
        QTest::newRow("orientation 6 + ICC") << "landscape_6.jpg" << 6 << true << false;
        QTest::newRow("camera EXIF + XMP") << "DSCN0010.jpg" << 1 << false << true;
    }

    void keepsJpegMetadata()
    {
        QFETCH(QString, file);
        QFETCH(int, orientation);
        QFETCH(bool, hasIcc);
        QFETCH(bool, hasXmp);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString output = dir.filePath(QStringLiteral("out.jpg"));
        const Run r = runCJpeg({"-outfile", output, "-quality", "85", "-progressive", photo(file)});
        QVERIFY2(r.exitCode == 0, qPrintable(r.stdErr));

        const auto in = jpegSegmentsOf(readAll(photo(file)));
        const auto out = jpegSegmentsOf(readAll(output));
        const QByteArray exifHeader("Exif\0\0", 6), xmpHeader("http://ns.adobe.com/xap/1.0/");
        QCOMPARE(exifPayloadOrientation(jpegApp1(out, exifHeader)), orientation);
        QCOMPARE(jpegApp1(out, exifHeader), jpegApp1(in, exifHeader));
        // Pixels stay as stored; viewers rotate by the tag.
        QCOMPARE(frameSize(out), frameSize(in));
        QCOMPARE(jpegIccProfile(out).isEmpty(), !hasIcc);
        QCOMPARE(jpegIccProfile(out), jpegIccProfile(in));
        QCOMPARE(jpegApp1(out, xmpHeader).isEmpty(), !hasXmp);
        QCOMPARE(jpegApp1(out, xmpHeader), jpegApp1(in, xmpHeader));
        QVERIFY(ssim(photo(file), output) > 0.9);
    }

    void keepsPngIccAndExif()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        // ffmpeg carries the photo's ICC profile into the PNG's iCCP chunk.
        const QString png = dir.filePath(QStringLiteral("in.png")),
                      output = dir.filePath(QStringLiteral("out.jpg"));
        QVERIFY(ffmpeg({"-i", photo(QStringLiteral("landscape_6.jpg")), png}));
        const auto photoSegments = jpegSegmentsOf(readAll(photo(QStringLiteral("landscape_6.jpg"))));
        const QByteArray exif = jpegApp1(photoSegments, QByteArray("Exif\0\0", 6));
        QByteArray data = readAll(png);
        QVERIFY(data.size() > 33);
        data.insert(33, pngChunk("eXIf", exif.mid(6))); // right after IHDR; PNG stores it without the header
        QVERIFY(writeAll(png, data));

        const Run r = runCJpeg({"-outfile", output, png});
        QVERIFY2(r.exitCode == 0, qPrintable(r.stdErr));
        const auto out = jpegSegmentsOf(readAll(output));
        QVERIFY(!jpegIccProfile(out).isEmpty());
        QCOMPARE(jpegIccProfile(out), jpegIccProfile(photoSegments));
        QCOMPARE(jpegApp1(out, QByteArray("Exif\0\0", 6)), exif);
    }

    void refusesUnreadableInput_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QStringList>("options"); // empty: no generated file
        QTest::addColumn<QString>("damage");
        const QStringList none;
        QTest::newRow("truncated photo") << "photo.jpg" << none << "truncate";
        QTest::newRow("truncated jpeg") << "in.jpg" << QStringList{"-pix_fmt", "yuvj420p"} << "truncate";
        QTest::newRow("truncated png") << "in.png" << QStringList{"-pix_fmt", "rgb24"} << "truncate";
        QTest::newRow("png bad checksum") << "in.png" << QStringList{"-pix_fmt", "rgb24"} << "flip";
        QTest::newRow("truncated bmp") << "in.bmp" << QStringList{"-pix_fmt", "bgr24"} << "truncate";
        QTest::newRow("truncated ppm") << "in.ppm" << QStringList{"-pix_fmt", "rgb24"} << "truncate";
        QTest::newRow("truncated gif") << "in.gif" << QStringList{"-pix_fmt", "rgb8"} << "truncate";
        QTest::newRow("truncated tiff") << "in.tif" << QStringList{"-pix_fmt", "rgb24"} << "truncate";
        QTest::newRow("truncated webp") << "in.webp" << QStringList{"-c:v", "libwebp"} << "truncate";
        QTest::newRow("random bytes") << "noise.png" << none << "random";
        QTest::newRow("empty file") << "empty.jpg" << none << "empty";
        QTest::newRow("missing file") << "missing.png" << none << "missing";
    }

    void refusesUnreadableInput()
    {
        QFETCH(QString, file);
        QFETCH(QStringList, options);
        QFETCH(QString, damage);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString source = dir.filePath(file);
        if (file == QLatin1String("photo.jpg"))
            QVERIFY(QFile::copy(photo(QStringLiteral("landscape_6.jpg")), source));
        else if (!options.isEmpty())
            QVERIFY(makeImage(source, options));
        QByteArray data = readAll(source);
        if (damage == QLatin1String("truncate")) {
            data.truncate(data.size() / 2);
        } else if (damage == QLatin1String("flip")) {
            data[data.size() / 2] = char(data[data.size() / 2] ^ 0x55);
        } else if (damage == QLatin1String("random")) {
            QRandomGenerator random(42);
            data.resize(4096);
            for (char& byte : data)
                byte = char(random.bounded(256));
        }
        if (damage != QLatin1String("missing"))
            QVERIFY(writeAll(source, data));

        const QString output = dir.filePath(QStringLiteral("out.jpg"));
        const Run r = runCJpeg({"-outfile", output, "-quality", "90", "-baseline", source});
        QCOMPARE(r.exitCode, 1);
        QVERIFY(!r.stdErr.trimmed().isEmpty());
        QCOMPARE(r.stdErr.trimmed().count('\n'), 0);
        // Neither the output nor a temporary file may be left behind.
        const QStringList left = QDir(dir.path()).entryList(QDir::Files);
        QCOMPARE(left, damage == QLatin1String("missing") ? QStringList() : QStringList{file});
    }

    void reportsUnwritableOutput()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const Run r = runCJpeg(
            {"-outfile", dir.filePath(QStringLiteral("no/such/dir/out.jpg")), photo("landscape_6.jpg")});
        QCOMPARE(r.exitCode, 1);
        QVERIFY(r.stdErr.contains(QStringLiteral("out.jpg")));
    }

    void rejectsBadCommandLines_data()
    {
        QTest::addColumn<QStringList>("args");
        const QString in = photo(QStringLiteral("landscape_6.jpg"));
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
        QProcess process;
        process.setWorkingDirectory(dir.path());
        process.start(QStringLiteral(CJPEG_PATH), args);
        QVERIFY(process.waitForFinished());
        QCOMPARE(process.exitCode(), 2);
        QCOMPARE(QString::fromLocal8Bit(process.readAllStandardError()).trimmed().count('\n'), 0);
        QVERIFY(QDir(dir.path()).entryList(QDir::Files).isEmpty());
    }

    // kodim03.png is 768x512; portrait.png is it turned, 512x768; landscape_6.jpg is stored 450x600 and
    // shown 600x450; large.jpg is kodim03 at 3072x2048, which the JPEG decoder first scales down.
    void resizesToFitTheBox_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("size");
        QTest::addColumn<bool>("resized");
        QTest::newRow("landscape, width") << "kodim03.png"
                                          << "384x"
                                          << "384x256" << true;
        QTest::newRow("landscape, height") << "kodim03.png"
                                           << "x128"
                                           << "192x128" << true;
        QTest::newRow("landscape, box") << "kodim03.png"
                                        << "300x300"
                                        << "300x200" << true;
        QTest::newRow("portrait, width") << "portrait.png"
                                         << "256x"
                                         << "256x384" << true;
        QTest::newRow("portrait, height") << "portrait.png"
                                          << "x300"
                                          << "200x300" << true;
        QTest::newRow("portrait, box") << "portrait.png"
                                       << "300x300"
                                       << "200x300" << true;
        QTest::newRow("orientation 6, width") << "landscape_6.jpg"
                                              << "301x"
                                              << "301x226" << true;
        QTest::newRow("orientation 6, height") << "landscape_6.jpg"
                                               << "x150"
                                               << "200x150" << true;
        QTest::newRow("orientation 6, box") << "landscape_6.jpg"
                                            << "400x400"
                                            << "400x300" << true;
        QTest::newRow("never enlarged") << "kodim03.png"
                                        << "2000x2000"
                                        << "768x512" << false;
        QTest::newRow("large JPEG") << "large.jpg"
                                    << "384x"
                                    << "384x256" << true;
    }

    void resizesToFitTheBox()
    {
        QFETCH(QString, source);
        QFETCH(QString, box);
        QFETCH(QString, size);
        QFETCH(bool, resized);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QString input = photo(source);
        if (source == "portrait.png" || source == "large.jpg") {
            input = dir.filePath(source);
            const QString filter = source == "portrait.png" ? "transpose=clock" : "scale=3072:2048";
            QVERIFY(ffmpeg({"-i", photo("kodim03.png"), "-vf", filter, "-q:v", "2", input}));
        }
        const QString output = dir.filePath("out.jpg");
        const Run r = runCJpeg({"-outfile", output, "-quality", "95", "-maxsize", box, input});
        QVERIFY2(r.exitCode == 0, qPrintable(r.stdErr));
        QCOMPARE(MediaFixtures::frameSize(output), size);
        QCOMPARE(r.stdOut.trimmed(), resized ? "resized=" + size.toLatin1() : QByteArray());
        // Shown upright, so the orientation must no longer turn it; the colour profile stays.
        const QVector<Segment> segments = MediaFixtures::jpegSegmentsOf(readAll(output));
        const QByteArray exif = jpegApp1(segments, QByteArray("Exif\0\0", 6));
        QVERIFY(exif.isEmpty() || exifPayloadOrientation(exif) == 1);
        QCOMPARE(MediaFixtures::jpegIccProfile(segments).isEmpty(),
                 MediaFixtures::jpegIccProfile(MediaFixtures::jpegSegmentsOf(readAll(input))).isEmpty());
        // As close to ffmpeg's own Lanczos resize of the upright picture as a fine JPEG gets.
        const QString reference = dir.filePath("reference.png");
        const QStringList sides = size.split('x');
        QVERIFY(ffmpeg(
            {"-i", input, "-vf", QString("scale=%1:%2:flags=lanczos").arg(sides[0], sides[1]), reference}));
        const double similarity = MediaFixtures::ssim(reference, output);
        QVERIFY2(similarity >= 0.97, qPrintable(QString::number(similarity)));
    }

    // landscape_6.jpg with a place of recording in EXIF and XMP, a title and a comment.
    void stripsMetadata_data()
    {
        QTest::addColumn<QString>("policy");
        QTest::newRow("gps") << "gps";
        QTest::newRow("all") << "all";
    }

    void stripsMetadata()
    {
        QFETCH(QString, policy);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString input = dir.filePath("located.jpg"), output = dir.filePath("out.jpg");
        QVERIFY(MediaFixtures::photoWithLocation(input));
        const QVariantMap before = MediaFixtures::metadataTags(input);
        QVERIFY(before.contains("GPS:GPSLatitude") && before.contains("IPTC:City") &&
                before.contains("XMP-photoshop:City"));
        const Run r = runCJpeg({"-outfile", output, "-quality", "95", "-strip", policy, input});
        QVERIFY2(r.exitCode == 0, qPrintable(r.stdErr));
        const QVariantMap tags = MediaFixtures::metadataTags(output);
        QVERIFY(!tags.isEmpty());
        for (auto it = tags.cbegin(); it != tags.cend(); ++it)
            QVERIFY2(!it.key().contains("GPS") && !it.key().contains("City"), qPrintable(it.key()));
        QVERIFY(tags.contains("ICC_Profile:ProfileDescription"));
        if (policy == "gps") {
            QCOMPARE(tags.value("IFD0:Orientation").toString(), QString("Rotate 90 CW"));
            QCOMPARE(tags.value("XMP-dc:Title").toString(), QString("Tower"));
            QCOMPARE(tags.value("IPTC:Keywords").toString(), QString("tower"));
            QCOMPARE(tags.value("File:Comment").toString(), QString("taken on the tower"));
            QCOMPARE(MediaFixtures::frameSize(output), QString("450x600"));
            return;
        }
        const QStringList groups = MediaFixtures::metadataGroups(tags);
        QVERIFY2(
            std::all_of(groups.cbegin(), groups.cend(), [](const QString& g) { return g.startsWith("ICC"); }),
            qPrintable(groups.join(' ')));
        // Without EXIF the pixels themselves are upright: the picture shows as before.
        QCOMPARE(MediaFixtures::frameSize(output), QString("600x450"));
        const QString upright = dir.filePath("upright.png");
        QVERIFY(ffmpeg({"-i", input, upright}));
        QCOMPARE(MediaFixtures::frameSize(upright), QString("600x450"));
        QVERIFY(MediaFixtures::ssim(upright, output) >= 0.97);
    }

    void handlesQualityValues()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString source = dir.filePath(QStringLiteral("in.png"));
        QVERIFY(makeImage(source, {"-pix_fmt", "rgb24"}));
        auto encode = [&](const QStringList& qualityArgs) {
            const QString output = dir.filePath(QStringLiteral("out.jpg"));
            QFile::remove(output);
            const Run r = runCJpeg(QStringList{"-outfile", output} + qualityArgs + QStringList{source});
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

    void writesProgressiveUnlessSequential_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("frameMarker");
        QTest::newRow("default") << QStringList{"-optimize"} << 0xC2;
        QTest::newRow("-baseline") << QStringList{"-baseline", "-quality", "5"} << 0xC2;
        QTest::newRow("-progressive") << QStringList{"-progressive", "-quality", "80"} << 0xC2;
        QTest::newRow("-sequential") << QStringList{"-baseline", "-sequential", "-quality", "5"} << 0xC0;
    }

    void writesProgressiveUnlessSequential()
    {
        QFETCH(QStringList, options);
        QFETCH(int, frameMarker);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString output = dir.filePath(QStringLiteral("out.jpg"));
        QCOMPARE(
            runCJpeg(QStringList{"-outfile", output} + options + QStringList{photo("DSCN0010.jpg")}).exitCode,
            0);
        const auto segments = jpegSegmentsOf(readAll(output));
        QVERIFY(hasMarker(segments, frameMarker));
        QVERIFY(!hasMarker(segments, frameMarker == 0xC0 ? 0xC2 : 0xC0));
        // Quantisation tables stay 8-bit (what "baseline" promises) even at the lowest qualities.
        for (const Segment& s : segments)
            if (s.marker == 0xDB)
                for (int at = 0; at < s.payload.size(); at += 65)
                    QCOMPARE(uchar(s.payload[at]) >> 4, 0);
    }

    void roundTripsThroughLibjpeg_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("channels");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<bool>("progressive");
        QTest::addColumn<bool>("subsampled");
        const QStringList progressive{"-quality", "90", "-baseline"},
            sequential{"-quality", "90", "-sequential"};
        QTest::newRow("rgb progressive 4:2:0") << QSize(161, 121) << 3 << progressive << true << true;
        QTest::newRow("rgb sequential 4:2:0") << QSize(161, 121) << 3 << sequential << false << true;
        QTest::newRow("rgb progressive 4:4:4")
            << QSize(161, 121) << 3 << QStringList{"-quality", "97"} << true << false;
        QTest::newRow("rgb sequential 4:4:4")
            << QSize(161, 121) << 3 << QStringList{"-quality", "97", "-sequential"} << false << false;
        QTest::newRow("gray progressive") << QSize(161, 121) << 1 << progressive << true << false;
        QTest::newRow("gray sequential") << QSize(161, 121) << 1 << sequential << false << false;
        QTest::newRow("rgb one partial block") << QSize(17, 9) << 3 << progressive << true << true;
        QTest::newRow("rgb 1x1") << QSize(1, 1) << 3 << progressive << true << true;
        QTest::newRow("gray 1x1") << QSize(1, 1) << 1 << sequential << false << false;
        QTest::newRow("rgb 65500 wide") << QSize(65500, 3) << 3 << progressive << true << true;
        QTest::newRow("gray 65500 wide") << QSize(65500, 3) << 1 << sequential << false << false;
    }

    void roundTripsThroughLibjpeg()
    {
        QFETCH(QSize, size);
        QFETCH(int, channels);
        QFETCH(QStringList, options);
        QFETCH(bool, progressive);
        QFETCH(bool, subsampled);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString source = dir.filePath(QStringLiteral("in.pnm")),
                      output = dir.filePath(QStringLiteral("out.jpg"));
        const QByteArray image = pnm(size.width(), size.height(), channels);
        QVERIFY(writeAll(source, image));
        const Run r = runCJpeg(QStringList{"-outfile", output} + options + QStringList{source});
        QVERIFY2(r.exitCode == 0, qPrintable(r.stdErr));

        Decoded decoded;
        QVERIFY(decodeWithLibjpeg(readAll(output), decoded));
        QCOMPARE(decoded.size, size);
        QCOMPARE(decoded.components, channels);
        QCOMPARE(decoded.progressive, progressive);
        QCOMPARE(decoded.chromaSubsampled, subsampled);
        const double quality = psnr(image.right(decoded.samples.size()), decoded.samples);
        QVERIFY2(quality > 30.0, qPrintable(QString("PSNR %1 dB").arg(quality)));
    }

    // A fixed photo at the default quality: fewer bytes or a worse distance than this band is a change to
    // look at, whichever way it goes.
    void keepsSizeAndQualityOfAReferencePhoto()
    {
        const QString butteraugli = QStandardPaths::findExecutable(QStringLiteral("butteraugli"));
        if (butteraugli.isEmpty())
            QSKIP("butteraugli is not installed (scripts/install-deps.sh installs it)");
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString source = photo(QStringLiteral("kodim03.png")),
                      output = dir.filePath(QStringLiteral("out.jpg"));
        const Run r = runCJpeg({"-outfile", output, "-quality", "75", "-baseline", source});
        QVERIFY2(r.exitCode == 0, qPrintable(r.stdErr));
        const qint64 bytes = QFileInfo(output).size();
        QVERIFY2(bytes > kReferenceBytes * 0.95 && bytes < kReferenceBytes * 1.05,
                 qPrintable(QString::number(bytes)));
        QByteArray text;
        QVERIFY(MediaFixtures::run(butteraugli, {source, output}, &text));
        const double distance = text.trimmed().split('\n').last().toDouble();
        QVERIFY2(distance > kReferenceDistance * 0.85 && distance < kReferenceDistance * 1.1,
                 qPrintable(QString::number(distance)));
    }

    void quantiserBeatsRounding_data()
    {
        QTest::addColumn<float>("lambda");
        QTest::addColumn<int>("step");
        QTest::addColumn<double>("amplitude");
        QTest::newRow("fine steps, cheap bits") << 0.05f << 2 << 200.0;
        QTest::newRow("medium steps") << 0.3f << 10 << 300.0;
        QTest::newRow("coarse steps, dear bits") << 2.0f << 40 << 500.0;
        QTest::newRow("no price on bits") << 0.0f << 10 << 300.0;
    }

    void quantiserBeatsRounding()
    {
        QFETCH(float, lambda);
        QFETCH(int, step);
        QFETCH(double, amplitude);
        cjpeg::RateModel rate = standardRateModel();
        std::uint16_t steps[64];
        for (int i = 0; i < 64; ++i)
            steps[i] = std::uint16_t(step + step * (i % 8 + i / 8) / 4); // coarser towards high frequencies
        QRandomGenerator random(7);
        double trellisTotal = 0, roundedTotal = 0;
        for (int block = 0; block < 2000; ++block) {
            float coef[64];
            for (int i = 0; i < 64; ++i)
                coef[i] = float((random.generateDouble() * 2 - 1) * amplitude / (1 + i % 8 + i / 8));
            std::int16_t trellis[64], rounded[64];
            cjpeg::roundQuantise(coef, steps, rounded);
            const float roundedCost = cjpeg::rdCost(coef, steps, lambda, rate, rounded);
            cjpeg::trellisQuantise(coef, steps, lambda, rate, trellis);
            const float trellisCost = cjpeg::rdCost(coef, steps, lambda, rate, trellis);
            QVERIFY2(trellisCost <= roundedCost * 1.0001f + 1e-4f,
                     qPrintable(QString("block %1: %2 > %3").arg(block).arg(trellisCost).arg(roundedCost)));
            QCOMPARE(trellis[0], rounded[0]); // DC is rounded as is
            if (lambda == 0.0f)
                QVERIFY(std::equal(trellis, trellis + 64, rounded));
            trellisTotal += trellisCost;
            roundedTotal += roundedCost;
            if (block % 100 == 99)
                rate.refresh(); // the costs follow the symbols the trellis chose
        }
        if (lambda > 0.0f)
            QVERIFY2(trellisTotal < roundedTotal,
                     qPrintable(QString("%1 vs %2").arg(trellisTotal).arg(roundedTotal)));
    }

    void optimisesHuffmanTables()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString output = dir.filePath(QStringLiteral("out.jpg"));
        QCOMPARE(runCJpeg({"-outfile", output, photo(QStringLiteral("landscape_6.jpg"))}).exitCode, 0);
        // Code-length counts of the stock luminance DC table that an unoptimised encoder writes.
        const QByteArray stockDcBits("\x00\x00\x01\x05\x01\x01\x01\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00",
                                     17);
        int tables = 0;
        for (const Segment& s : jpegSegmentsOf(readAll(output))) {
            if (s.marker != 0xC4)
                continue;
            ++tables;
            QVERIFY(!s.payload.startsWith(stockDcBits));
        }
        QVERIFY(tables > 0);
    }

    void acceptsViewableJpegs_data()
    {
        QTest::addColumn<QString>("damage");
        for (const char* how : {"junk before SOI", "junk between segments", "APP1 longer than the file",
                                "second image after EOI", "no Huffman tables", "arithmetic coding"})
            QTest::newRow(how) << how;
    }

    void acceptsViewableJpegs()
    {
        QFETCH(QString, damage);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        // ffmpeg's standard Huffman tables are the ones MJPEG streams leave out.
        const QString clean = dir.filePath(QStringLiteral("clean.jpg")),
                      damaged = dir.filePath("damaged.jpg");
        QVERIFY(makeImage(clean, {"-pix_fmt", "yuvj420p", "-huffman", "default"}));
        if (damage == QLatin1String("arithmetic coding")) {
            QVERIFY2(
                MediaFixtures::run(QStringLiteral("jpegtran"), {"-arithmetic", "-outfile", damaged, clean}),
                "needs jpegtran (libjpeg-turbo-progs)");
        } else {
            QVERIFY(writeAll(damaged, damageJpeg(readAll(clean), damage)));
        }
        const QString expected = dir.filePath("expected.jpg"), output = dir.filePath("out.jpg");
        QCOMPARE(runCJpeg({"-outfile", expected, clean}).exitCode, 0);
        const Run r = runCJpeg({"-outfile", output, damaged});
        QVERIFY2(r.exitCode == 0, qPrintable(r.stdErr));
        QVERIFY(ssim(expected, output) > 0.999);
    }

    void acceptsRealOddJpegs_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("extraneous bytes before a marker") << "extraneous-data.jpg";
        QTest::newRow("Adobe CMYK") << "pil_sample_cmyk.jpg";
    }

    void acceptsRealOddJpegs()
    {
        QFETCH(QString, file);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString output = dir.filePath(QStringLiteral("out.jpg"));
        const Run r = runCJpeg({"-outfile", output, realImage(file)});
        QVERIFY2(r.exitCode == 0, qPrintable(r.stdErr));
        const QByteArray rgb = decodeRgb(output);
        QVERIFY(!rgb.isEmpty());
        // Inked, not blank: the CMYK sample is red lettering on black.
        qint64 sum[3] = {};
        for (int i = 0; i < rgb.size(); ++i)
            sum[i % 3] += uchar(rgb[i]);
        const qint64 pixels = rgb.size() / 3;
        QVERIFY(sum[0] / pixels < 200 || sum[1] / pixels < 200);
        if (file.contains(QLatin1String("cmyk")))
            QVERIFY(sum[0] > 2 * sum[1] && sum[0] > 2 * sum[2]);
    }

    void refusesJpegsMissingData_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("patchAt"); // offset past the SOF marker to patch, or -1
        QTest::addColumn<int>("patchValue");
        QTest::addColumn<QString>("reason");
        QTest::newRow("truncated scan") << "truncated_jpeg.jpg" << -1 << 0 << "Premature end";
        QTest::newRow("12-bit") << "" << 4 << 12 << "12-bit JPEG is not supported";
        QTest::newRow("lossless") << "" << 1 << 0xC3 << "lossless JPEG";
    }

    void refusesJpegsMissingData()
    {
        QFETCH(QString, file);
        QFETCH(int, patchAt);
        QFETCH(int, patchValue);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QString input = file.isEmpty() ? QString() : realImage(file);
        if (patchAt >= 0) {
            input = dir.filePath(QStringLiteral("in.jpg"));
            QVERIFY(makeImage(input, {"-pix_fmt", "yuvj420p"}));
            QByteArray data = readAll(input);
            const int sof = segmentOffset(data, 0xC0);
            QVERIFY(sof > 0);
            data[sof + patchAt] = char(patchValue);
            QVERIFY(writeAll(input, data));
        }
        const Run r = runCJpeg({"-outfile", dir.filePath(QStringLiteral("out.jpg")), input});
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.stdErr.contains(reason), qPrintable(r.stdErr));
        QCOMPARE(r.stdErr.trimmed().count('\n'), 0);
    }

    void keepsIptcAndComments()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString input = dir.filePath(QStringLiteral("in.jpg")), output = dir.filePath("out.jpg");
        QByteArray data = readAll(realImage(QStringLiteral("iptc.jpg")));
        const QByteArray comment("Taken on the Chain Bridge");
        data.insert(2, QByteArray("\xFF\xFE\x00", 3) + char(comment.size() + 2) + comment);
        QVERIFY(writeAll(input, data));
        const Run r = runCJpeg({"-outfile", output, input});
        QVERIFY2(r.exitCode == 0, qPrintable(r.stdErr));
        const auto in = jpegSegmentsOf(data), out = jpegSegmentsOf(readAll(output));
        auto payloads = [](const QVector<Segment>& segments, int marker) {
            QByteArrayList list;
            for (const Segment& s : segments)
                if (s.marker == marker)
                    list << s.payload;
            return list;
        };
        QVERIFY(!payloads(in, 0xED).isEmpty());
        QCOMPARE(payloads(out, 0xED), payloads(in, 0xED));
        QCOMPARE(payloads(out, 0xFE), QByteArrayList{comment});
    }

    void dropsProfileOfTheSourceColourSpace()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        // A CMYK profile (header only) on a CMYK JPEG would mislabel the RGB pixels cJpeg writes.
        QByteArray profile(128, '\0');
        profile.replace(16, 4, "CMYK");
        const QByteArray app2 = QByteArray("\xFF\xE2\x00", 3) + char(2 + 14 + profile.size()) +
                                QByteArray("ICC_PROFILE\0\x01\x01", 14) + profile;
        const QString input = dir.filePath(QStringLiteral("cmyk.jpg")), output = dir.filePath("out.jpg");
        QVERIFY(writeAll(input, readAll(realImage(QStringLiteral("pil_sample_cmyk.jpg"))).insert(2, app2)));
        QCOMPARE(jpegIccProfile(jpegSegmentsOf(readAll(input))), profile);
        const Run r = runCJpeg({"-outfile", output, input});
        QVERIFY2(r.exitCode == 0, qPrintable(r.stdErr));
        QVERIFY(jpegIccProfile(jpegSegmentsOf(readAll(output))).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestCJpeg)
#include "tst_cjpeg.moc"
