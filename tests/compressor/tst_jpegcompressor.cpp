// JPEG tasks end to end with the real cJpeg encoder on real photographs and generated images.

#include "MediaFixtures.h"
#include "TargetSizeCheck.h"
#include "TaskRun.h"

#include <compressor/CompressTask.h>
#include <compressor/FinishCode.h>
#include <compressor/ICompressor.h>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

using namespace MediaFixtures;

namespace {

// The EXIF orientation tag of a JPEG, 0 when it has none.
int exifOrientation(const QByteArray& jpeg)
{
    const int exif = jpeg.indexOf(QByteArray("Exif\0\0", 6));
    if (exif < 0)
        return 0;
    const int tiff = exif + 6;
    const bool little = jpeg.mid(tiff, 2) == "II";
    auto read16 = [&](int at) {
        const auto b0 = quint8(jpeg.at(at)), b1 = quint8(jpeg.at(at + 1));
        return little ? (b1 << 8 | b0) : (b0 << 8 | b1);
    };
    auto read32 = [&](int at) {
        return little ? (read16(at + 2) << 16 | read16(at)) : (read16(at) << 16 | read16(at + 2));
    };
    const int ifd = tiff + read32(tiff + 4);
    const int count = read16(ifd);
    for (int i = 0; i < count; ++i) {
        const int entry = ifd + 2 + 12 * i;
        if (read16(entry) == 0x0112)
            return read16(entry + 8);
    }
    return 0;
}

bool isJpeg(const QString& path)
{
    return readAll(path).startsWith("\xff\xd8\xff");
}

} // namespace

class TestJpegCompressor : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void hitsATargetSize_data();
    void hitsATargetSize();
    void invalidTargetSizeIsRefused_data();
    void invalidTargetSizeIsRefused();

    void compressesRealPhotos_data();
    void compressesRealPhotos();
    void largerResultDeliversTheSource();
    void corruptSourceIsRefused_data();
    void corruptSourceIsRefused();
    void keepsExifOrientation();
    void unusualPaths_data();
    void unusualPaths();
    void concurrentTasksDeliverTheirOwnImage();
    void replacesAnExistingOutput();
    void compressesInPlace();
    void unsafeRequestValueReachesNoTool_data();
    void unsafeRequestValueReachesNoTool();
    void canRunAgain();

private:
    QSharedPointer<ICompressTask> makeTask(const QString& input, const QString& output,
                                           const QVariant& quality = QStringLiteral("75"));
    QString path(const QString& name) const { return mWork->filePath(name); }

    std::unique_ptr<QTemporaryDir> mWork;
    QString mTempDir;
};

void TestJpegCompressor::init()
{
    mWork = std::make_unique<QTemporaryDir>();
    QVERIFY(mWork->isValid());
    // Working folders land in a temporary location of this test's own, so leftovers can be seen.
    mTempDir = path(QStringLiteral("tmp"));
    QVERIFY(QDir().mkpath(mTempDir));
    qputenv("TMPDIR", QFile::encodeName(mTempDir));
}

void TestJpegCompressor::cleanup()
{
    QCOMPARE(entriesStartingWith(mTempDir, QStringLiteral("compress")), QStringList());
    mWork.reset();
}

QSharedPointer<ICompressTask> TestJpegCompressor::makeTask(const QString& input, const QString& output,
                                                           const QVariant& quality)
{
    return CompressorEntry()->createCompressTask(
        {{"inputPath", input}, {"outputPath", output}, {"quality", quality}});
}

void TestJpegCompressor::compressesRealPhotos_data()
{
    QTest::addColumn<QString>("photo");
    QTest::addColumn<QString>("outputName");
    QTest::newRow("jpeg to jpeg") << "DSCN0010.jpg"
                                  << "out.jpg";
    QTest::newRow("png to jpeg") << "kodim03.png"
                                 << "out.JPEG";
}

void TestJpegCompressor::compressesRealPhotos()
{
    QFETCH(QString, photo);
    QFETCH(QString, outputName);
    const QString source = path(photo);
    QVERIFY(QFile::copy(MediaFixtures::photo(photo), source));
    const QString output = path(outputName);

    const auto task = makeTask(source, output);
    const TaskResult result = runTask(*task);
    QVERIFY(result.started);
    QCOMPARE(result.finishCount, 1);
    QCOMPARE(result.code, 0);
    QCOMPARE(result.text, QString());
    QCOMPARE(compressTask(task)->status(), int(CompressTask::StatusSucceeded));

    QVERIFY(isJpeg(output));
    QVERIFY2(
        QFileInfo(output).size() < QFileInfo(source).size(),
        qPrintable(QStringLiteral("%1 >= %2").arg(QFileInfo(output).size()).arg(QFileInfo(source).size())));
    QCOMPARE(frameSize(output), frameSize(source));
    const double similarity = ssim(source, output);
    QVERIFY2(similarity > 0.9, qPrintable(QString::number(similarity)));
    QCOMPARE(readAll(source), readAll(MediaFixtures::photo(photo))); // the source is never touched
}

void TestJpegCompressor::largerResultDeliversTheSource()
{
    // A coarse, tiny JPEG grows when re-encoded at the best quality.
    const QString source = path("coarse.jpg");
    QVERIFY(makeImage(source, "testsrc2=size=320x240", {"-q:v", "31"}));
    const QString output = path("out.jpg");

    const TaskResult result = runTask(*makeTask(source, output, 100));
    QCOMPARE(result.finishCount, 1);
    QCOMPARE(result.code, 0);
    QCOMPARE(readAll(output), readAll(source));
}

void TestJpegCompressor::corruptSourceIsRefused_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("outputExistedBefore");
    const QByteArray photo = readAll(MediaFixtures::photo("DSCN0010.jpg"));
    QByteArray noise(4096, '\0');
    for (int i = 0; i < noise.size(); ++i)
        noise[i] = char((i * 7919 + 13) & 0xff);
    QTest::newRow("truncated photo") << photo.left(photo.size() / 2) << false;
    QTest::newRow("noise") << noise << false;
    QTest::newRow("empty file, old output kept") << QByteArray() << true;
}

void TestJpegCompressor::corruptSourceIsRefused()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, outputExistedBefore);
    const QString source = path("broken.jpg");
    QVERIFY(writeAll(source, content));
    const QString output = path("out.jpg");
    if (outputExistedBefore)
        QVERIFY(writeAll(output, "the user's own file"));

    const auto task = makeTask(source, output);
    const TaskResult result = runTask(*task);
    QCOMPARE(result.finishCount, 1);
    QCOMPARE(result.code, FinishCode::CorruptSource);
    QCOMPARE(result.text, QStringLiteral("The file is corrupt or not a standard file format"));
    QCOMPARE(compressTask(task)->status(), int(CompressTask::StatusFailed));
    if (outputExistedBefore)
        QCOMPARE(readAll(output), QByteArray("the user's own file"));
    else
        QVERIFY(!QFileInfo::exists(output));
}

void TestJpegCompressor::keepsExifOrientation()
{
    const QString source = path("rotated.jpg");
    QVERIFY(QFile::copy(MediaFixtures::photo("landscape_6.jpg"), source));
    QCOMPARE(exifOrientation(readAll(source)), 6);
    const QString output = path("out.jpg");

    const TaskResult result = runTask(*makeTask(source, output, 60));
    QCOMPARE(result.code, 0);
    QCOMPARE(exifOrientation(readAll(output)), 6);
}

void TestJpegCompressor::unusualPaths_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("fileName");
    QTest::newRow("blanks") << "my photos"
                            << "a b  c.png";
    QTest::newRow("quotes") << "it's \"here\""
                            << "say \"cheese\".png";
    QTest::newRow("non-ASCII") << "Überschrift"
                               << "фото 写真 é.png";
    QTest::newRow("leading dash") << "-x"
                                  << "-quality.png";
}

void TestJpegCompressor::unusualPaths()
{
    QFETCH(QString, folder);
    QFETCH(QString, fileName);
    QVERIFY(QDir().mkpath(path(folder)));
    const QString source = path(folder + "/" + fileName);
    QVERIFY(makeImage(source));
    const QString output = path(folder + "/" + QFileInfo(fileName).completeBaseName() + ".jpg");

    const TaskResult result = runTask(*makeTask(source, output));
    QCOMPARE(result.code, 0);
    QVERIFY(isJpeg(output));
    QVERIFY(ssim(source, output) > 0.9);
}

void TestJpegCompressor::concurrentTasksDeliverTheirOwnImage()
{
    const QStringList sizes{"320x240", "400x300", "256x256", "480x200"};
    QList<QSharedPointer<ICompressTask>> tasks;
    QList<std::shared_ptr<QSignalSpy>> spies;
    for (const QString& size : sizes) {
        const QString source = path(size + ".png");
        QVERIFY(makeImage(source, "testsrc2=size=" + size));
        tasks << makeTask(source, path(size + ".jpg"));
        spies << std::make_shared<QSignalSpy>(tasks.last().data(), &ICompressTask::compressFinished);
        QVERIFY(spies.last()->isValid());
    }
    for (const auto& task : tasks)
        QVERIFY(task->startTask());
    for (const auto& spy : spies)
        QTRY_COMPARE_WITH_TIMEOUT(spy->count(), 1, 60000);
    for (int i = 0; i < sizes.size(); ++i) {
        QCOMPARE(spies.at(i)->first().at(0).toInt(), 0);
        QCOMPARE(frameSize(path(sizes.at(i) + ".jpg")), QString(sizes.at(i)).replace('x', 'x'));
        QVERIFY(ssim(path(sizes.at(i) + ".png"), path(sizes.at(i) + ".jpg")) > 0.9);
    }
}

void TestJpegCompressor::replacesAnExistingOutput()
{
    const QString source = path("in.png");
    QVERIFY(makeImage(source));
    const QString output = path("out.jpg");
    QVERIFY(writeAll(output, "stale"));

    const TaskResult result = runTask(*makeTask(source, output));
    QCOMPARE(result.code, 0);
    QVERIFY(isJpeg(output));
    QCOMPARE(entriesStartingWith(mWork->path(), "out.jpg."), QStringList()); // no half-written file beside it
}

void TestJpegCompressor::compressesInPlace()
{
    const QString photo = path("photo.jpg");
    QVERIFY(QFile::copy(MediaFixtures::photo("DSCN0010.jpg"), photo));
    const qint64 before = QFileInfo(photo).size();

    const TaskResult result = runTask(*makeTask(photo, photo, 70));
    QCOMPARE(result.code, 0);
    QVERIFY(isJpeg(photo));
    QVERIFY(QFileInfo(photo).size() < before);
    QVERIFY(ssim(MediaFixtures::photo("DSCN0010.jpg"), photo) > 0.9);
}

void TestJpegCompressor::unsafeRequestValueReachesNoTool_data()
{
    QTest::addColumn<QString>("quality");
    QTest::newRow("extra argument") << "75 -outfile /tmp/elsewhere.jpg";
    QTest::newRow("option") << "-progressive";
    QTest::newRow("quote") << "7\"5";
}

void TestJpegCompressor::unsafeRequestValueReachesNoTool()
{
    QFETCH(QString, quality);
    const QString source = path("in.png");
    QVERIFY(makeImage(source));
    const QString output = path("out.jpg");
    QVERIFY(writeAll(output, "the user's own file"));

    const auto task = makeTask(source, output, quality);
    const TaskResult result = runTask(*task);
    QCOMPARE(result.finishCount, 1);
    QCOMPARE(result.code, FinishCode::InvalidRequest);
    QVERIFY(compressTask(task)->isFinished());
    QCOMPARE(readAll(output), QByteArray("the user's own file"));
    QCOMPARE(QDir(mTempDir).isEmpty(), true);
}

void TestJpegCompressor::canRunAgain()
{
    const QString source = path("in.png");
    QVERIFY(makeImage(source));
    const QString output = path("out.jpg");
    const auto task = makeTask(source, output);
    QCOMPARE(runTask(*task).code, 0);
    QVERIFY(QFile::remove(output));
    const TaskResult again = runTask(*task);
    QCOMPARE(again.finishCount, 1);
    QCOMPARE(again.code, 0);
    QVERIFY(isJpeg(output));
}

void TestJpegCompressor::hitsATargetSize_data()
{
    QTest::addColumn<QString>("photo");
    QTest::addColumn<double>("targetShare");
    QTest::newRow("DSCN0010.jpg, half the plain size") << "DSCN0010.jpg" << 0.5;
    QTest::newRow("DSCN0010.jpg, above the plain size") << "DSCN0010.jpg" << 2.0;
    QTest::newRow("DSCN0010.jpg, out of reach") << "DSCN0010.jpg" << 0.01;
    QTest::newRow("kodim03.png, half the plain size") << "kodim03.png" << 0.5;
    QTest::newRow("kodim03.png, above the plain size") << "kodim03.png" << 2.0;
    QTest::newRow("kodim03.png, out of reach") << "kodim03.png" << 0.01;
}

void TestJpegCompressor::hitsATargetSize()
{
    QFETCH(QString, photo);
    QFETCH(double, targetShare);
    TargetSizeCheck::check(TargetSizeCheck::tasksFor(MediaFixtures::photo(photo)), mWork->path(), "jpg", 75,
                           5, targetShare);
}

void TestJpegCompressor::invalidTargetSizeIsRefused_data()
{
    QTest::addColumn<QVariant>("targetSize");
    QTest::newRow("zero") << QVariant(0);
    QTest::newRow("negative") << QVariant("-300000");
    QTest::newRow("unit") << QVariant("300k");
    QTest::newRow("fraction") << QVariant("1.5");
}

void TestJpegCompressor::invalidTargetSizeIsRefused()
{
    QFETCH(QVariant, targetSize);
    const QString source = path("in.png");
    QVERIFY(makeImage(source));
    const QString output = path("out.jpg");
    const auto task = CompressorEntry()->createCompressTask(
        {{"inputPath", source}, {"outputPath", output}, {"targetSize", targetSize}});
    const TaskResult result = runTask(*task);
    QCOMPARE(result.finishCount, 1);
    QCOMPARE(result.code, FinishCode::InvalidRequest);
    QCOMPARE(result.text, QStringLiteral("Invalid request value"));
    QVERIFY(!QFileInfo::exists(output));
}

QTEST_GUILESS_MAIN(TestJpegCompressor)
#include "tst_jpegcompressor.moc"
