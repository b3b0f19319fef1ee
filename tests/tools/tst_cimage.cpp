// cImage prepare/finish around pngquant and ffmpeg; the resize-to-box and stripping it shares with cJpeg.

#include "ToolRun.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

namespace {

using MediaFixtures::readAll;
using MediaFixtures::writeAll;

Run cimage(const QStringList& args)
{
    return run(QStringLiteral(CIMAGE_PATH), args);
}

// Hands cImage's prepared input to the encoder the library runs for that target.
bool encodePrepared(const Run& prepared, const QString& output, const QString& quality = "75")
{
    const QString input = prepared.keys.value("input");
    if (prepared.exitCode != 0)
        return false;
    if (output.endsWith(".png"))
        return MediaFixtures::run("pngquant", {"--force", "--output", output, input});
    return ffmpeg({"-i", input, "-c:v", "libwebp", "-quality", quality, output});
}

// Makes output (.jpg through cJpeg; .png or .webp through cImage and the encoder) as the library does.
Run produce(const QString& input, const QString& output, const QString& box, const QString& policy)
{
    const QString target = QFileInfo(output).suffix();
    const QStringList limit = box.isEmpty() ? QStringList() : QStringList{"-maxsize", box};
    const QStringList strip = policy.isEmpty() ? QStringList() : QStringList{"-strip", policy};
    if (target == "jpg")
        return cJpeg(QStringList{"-outfile", output, "-quality", "95"} + limit + strip + QStringList{input});
    Run r = cimage(QStringList{"-prepare", target, "-outdir", QFileInfo(output).path()} + limit +
                   QStringList{input});
    r.exitCode =
        encodePrepared(r, output, "90")
            ? cimage(QStringList{"-finish", target, "-from", input} + strip + QStringList{output}).exitCode
            : -1;
    return r;
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
        if (length > quint32(file.size() - pos - 8))
            break;
        found.insert(file.mid(png ? pos + 4 : pos, 4), file.mid(pos + 8, int(length)));
        pos += 8 + int(length) + (png ? 4 : int(length & 1));
    }
    return found;
}

} // namespace

class TestCImage : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        for (const char* tool : {CIMAGE_PATH, "ffmpeg", "pngquant", "exiftool"})
            QVERIFY2(!QStandardPaths::findExecutable(tool).isEmpty(), tool);
    }

    void recognisesFormatByContent_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("format");
        QTest::addColumn<bool>("ffmpegReadsIt"); // a webp target then takes the file as it is
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
        const QString source = dir.filePath("picture.dat");
        QVERIFY(MediaFixtures::makeImage(source, "testsrc2=size=97x61,format=rgb24", options));
        for (const QString target : {"png", "webp"}) {
            const Run r = cimage({"-prepare", target, "-outdir", dir.path(), source});
            QVERIFY2(r.exitCode == 0, qPrintable(r.stdErr));
            QCOMPARE(r.keys.value("format"), format);
            QCOMPARE(r.keys.value("frames") + r.keys.value("loop") + r.keys.value("turned"), QString("110"));
            const QString input = r.keys.value("input");
            QCOMPARE(input == source, target == "png" ? format == "png" : ffmpegReadsIt);
            QVERIFY(target == "webp" || readAll(input).startsWith("\x89PNG\r\n\x1A\n"));
            QCOMPARE(MediaFixtures::frameSize(input), QString("97x61"));
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
        const QString plain = dir.filePath("plain.jpg"), source = dir.filePath("turned.jpg");
        QVERIFY(
            MediaFixtures::makeImage(plain, "testsrc2=size=96x48", {"-pix_fmt", "yuvj444p", "-q:v", "1"}));
        // An APP1 EXIF block holding only the orientation tag, big-endian.
        const QByteArray exif = QByteArray("\xFF\xE1\x00\x22"
                                           "Exif\0\0MM\0\x2A\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0",
                                           29) +
                                char(orientation) + QByteArray(6, '\0');
        QVERIFY(writeAll(source, readAll(plain).insert(2, exif)));
        for (const QString target : {"png", "webp"}) {
            const Run r = cimage({"-prepare", target, "-outdir", dir.path(), source});
            QVERIFY2(r.exitCode == 0, qPrintable(r.stdErr));
            QCOMPARE(r.keys.value("turned"), orientation == 1 ? "0" : "1");
            QVERIFY(meanDifference(pixels(r.keys.value("input")), pixels(plain, filter)) < 3);
        }
    }

    // kodim03.png is 768x512, portrait.png is it turned, large.jpg it at 3072x2048 (which the JPEG
    // decoder first scales down); landscape_6.jpg is stored 450x600 and shown 600x450.
    void resizesToFitTheBox_data()
    {
        QTest::addColumn<QStringList>("how"); // source, output, box, size as shown
        QTest::newRow("landscape, width") << QStringList{"kodim03.png", "out.jpg", "384x", "384x256"};
        QTest::newRow("landscape, height") << QStringList{"kodim03.png", "out.png", "x128", "192x128"};
        QTest::newRow("landscape, box") << QStringList{"kodim03.png", "out.webp", "300x300", "300x200"};
        QTest::newRow("portrait, width") << QStringList{"portrait.png", "out.jpg", "256x", "256x384"};
        QTest::newRow("portrait, height") << QStringList{"portrait.png", "out.webp", "x300", "200x300"};
        QTest::newRow("portrait, box") << QStringList{"portrait.png", "out.png", "300x300", "200x300"};
        QTest::newRow("orientation 6, width") << QStringList{"landscape_6.jpg", "out.jpg", "301x", "301x226"};
        QTest::newRow("orientation 6, height")
            << QStringList{"landscape_6.jpg", "out.png", "x150", "200x150"};
        QTest::newRow("orientation 6, box")
            << QStringList{"landscape_6.jpg", "out.webp", "400x400", "400x300"};
        QTest::newRow("never enlarged") << QStringList{"kodim03.png", "out.jpg", "2000x2000", "768x512"};
        QTest::newRow("no box") << QStringList{"kodim03.png", "out.png", "", "768x512"};
        QTest::newRow("large JPEG") << QStringList{"large.jpg", "out.jpg", "384x", "384x256"};
    }

    void resizesToFitTheBox()
    {
        QFETCH(QStringList, how);
        const QString source = how[0], box = how[2], size = how[3];
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QString input = MediaFixtures::photo(source);
        if (source == "portrait.png" || source == "large.jpg") {
            input = dir.filePath(source);
            const QString filter = source == "portrait.png" ? "transpose=clock" : "scale=3072:2048";
            QVERIFY(ffmpeg({"-i", MediaFixtures::photo("kodim03.png"), "-vf", filter, "-q:v", "2", input}));
        }
        const QString output = dir.filePath(how[1]);
        const Run r = produce(input, output, box, "");
        QVERIFY2(r.exitCode == 0, qPrintable(r.stdErr));
        QCOMPARE(MediaFixtures::frameSize(output), size);
        QCOMPARE(r.keys.value("resized"), size == "768x512" ? QString() : size);
        // Resized upright, so a JPEG's orientation must no longer turn it (cImage's finish: stripsMetadata).
        const QByteArray exif =
            MediaFixtures::jpegApp1(MediaFixtures::jpegSegmentsOf(readAll(output)), "Exif");
        QVERIFY(exif.isEmpty() || MediaFixtures::exifPayloadOrientation(exif) == 1);
        // As close to ffmpeg's own Lanczos resize of the upright picture as the encoder lets it show.
        const QString reference = dir.filePath("reference.png");
        const QStringList sides = size.split('x');
        QVERIFY(ffmpeg(
            {"-i", input, "-vf", QString("scale=%1:%2:flags=lanczos").arg(sides[0], sides[1]), reference}));
        const double similarity = MediaFixtures::ssim(reference, output);
        QVERIFY2(similarity >= 0.95, qPrintable(QString::number(similarity)));
    }

    // located.jpg: landscape_6.jpg (orientation 6, ICC) with a place of recording in EXIF, XMP and IPTC, a
    // title, keywords and a comment; tagged.png: kodim03.png with a location in XMP, a title and a comment.
    void stripsMetadata_data()
    {
        QTest::addColumn<QStringList>("how"); // source, output, policy (empty: keep everything)
        for (const char* output : {"out.jpg", "out.png", "out.webp"})
            for (const char* policy : {"", "gps", "all"})
                QTest::newRow(qPrintable(QStringLiteral("%1, %2").arg(output, *policy ? policy : "keep")))
                    << QStringList{"located.jpg", output, policy};
        for (const char* output : {"out.jpg", "out.png"})
            for (const char* policy : {"gps", "all"})
                QTest::newRow(qPrintable(QStringLiteral("%1 from png, %2").arg(output, policy)))
                    << QStringList{"tagged.png", output, policy};
    }

    void stripsMetadata()
    {
        QFETCH(QStringList, how);
        const QString source = how[0], policy = how[2];
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString input = dir.filePath(source), output = dir.filePath(how[1]);
        const bool photo = source == "located.jpg", jpeg = output.endsWith(".jpg");
        if (photo) {
            QVERIFY(MediaFixtures::photoWithLocation(input));
        } else {
            QVERIFY(QFile::copy(MediaFixtures::photo("kodim03.png"), input));
            QVERIFY(
                MediaFixtures::run("exiftool", {"-q", "-overwrite_original", "-XMP-exif:GPSLatitude=48.8577N",
                                                "-XMP-dc:Title=Tower", "-PNG:Comment=taken here", input}));
        }
        const Run r = produce(input, output, "", policy);
        QVERIFY2(r.exitCode == 0, qPrintable(r.stdErr));

        const QVariantMap tags = MediaFixtures::metadataTags(output);
        const QStringList keys = tags.keys();
        QCOMPARE(keys.filter("GPS").size() + keys.filter("City").size() > 0, policy.isEmpty());
        QCOMPARE(tags.contains("ICC_Profile:ProfileDescription"), photo);
        QCOMPARE(tags.value("XMP-dc:Title").toString(), policy == "all" ? QString() : QString("Tower"));
        if (policy == "all") {
            const QStringList groups = MediaFixtures::metadataGroups(tags);
            QVERIFY2(groups.filter(QRegularExpression("^(?!ICC)")).isEmpty(), qPrintable(groups.join(' ')));
            QVERIFY(!tags.contains("PNG:Comment"));
        } else if (photo && jpeg) { // cJpeg keeps the rest as it was
            QCOMPARE(tags.value("IFD0:Orientation").toString(), QString("Rotate 90 CW"));
            QCOMPARE(tags.value("IPTC:Keywords").toString(), QString("tower"));
            QCOMPARE(tags.value("File:Comment").toString(), QString("taken on the tower"));
        } else if (photo) { // cImage's encoders got upright pixels
            QCOMPARE(tags.value("IFD0:Orientation").toString(), QString("Horizontal (normal)"));
        }
        // Shown as before: turned by the kept orientation tag or upright in the pixels themselves.
        const QString upright = dir.filePath("upright.png");
        QVERIFY(ffmpeg({"-i", input, upright}));
        const bool turnedByTag = photo && jpeg && policy != "all";
        QCOMPARE(MediaFixtures::frameSize(output),
                 turnedByTag ? "450x600" : MediaFixtures::frameSize(upright));
        QVERIFY(turnedByTag || MediaFixtures::ssim(upright, output) >= 0.95);
    }

    void leavesOutputAloneWithoutMetadata()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString source = dir.filePath("plain.png"), output = dir.filePath("out.png");
        QVERIFY(MediaFixtures::makeImage(source, "testsrc2=size=64x48"));
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
        QCOMPARE(prepared.keys.value("input") == source, !webp); // ffmpeg reads GIF animations itself
        const QStringList keys{prepared.keys.value("format"), prepared.keys.value("frames"),
                               prepared.keys.value("loop")};
        QCOMPARE(keys, QStringList({container, "5", QString::number(loop)}));
        QVERIFY(encodePrepared(prepared, output));
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

    // Damaged sources are refused even for a target whose encoder would take the file as it is.
    void rejectsBadInput_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("content"); // of bad.img
        const QString real = realImage("pil123rgba.png"), out = ".";
        const QByteArray none;
        const QStringList prepareWebp{"-prepare", "webp", "-outdir", out, "bad.img"};
        QTest::newRow("nothing") << QStringList{} << 2 << none;
        QTest::newRow("unknown target") << QStringList{"-prepare", "gif", "-outdir", out, real} << 2 << none;
        QTest::newRow("prepare without -outdir") << QStringList{"-prepare", "png", real} << 2 << none;
        QTest::newRow("finish without -from") << QStringList{"-finish", "webp", real} << 2 << none;
        QTest::newRow("two inputs") << QStringList{"-prepare", "png", "-outdir", out, real, real} << 2
                                    << none;
        QTest::newRow("missing file")
            << QStringList{"-prepare", "png", "-outdir", out, "none.png"} << 1 << none;
        QTest::newRow("finish a non-image")
            << QStringList{"-finish", "png", "-from", real, "none"} << 1 << none;
        QTest::newRow("jpeg cut short") << prepareWebp << 1 << readAll(realImage("truncated_jpeg.jpg"));
        QTest::newRow("truncated ppm") << prepareWebp << 1 << QByteArray("P6\n4 4\n255\n").append(40, '\x80');
        QTest::newRow("zero-width ppm") << prepareWebp << 1 << QByteArray("P6\n0 4\n255\n");
        QTest::newRow("png claiming 30000x30000") << prepareWebp << 1 << MediaFixtures::hugePng(30000, 30000);
    }

    void rejectsBadInput()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, content);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(content.isEmpty() || writeAll(dir.filePath("bad.img"), content));
        const Run r = run(QStringLiteral(CIMAGE_PATH), args, dir.path());
        QCOMPARE(r.exitCode, exitCode);
        QCOMPARE(r.stdErr.trimmed().count('\n'), 0);
        QVERIFY(!r.stdErr.trimmed().isEmpty());
        QVERIFY(r.keys.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestCImage)
#include "tst_cimage.moc"
