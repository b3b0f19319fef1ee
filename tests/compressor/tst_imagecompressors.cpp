// Guards what the real cJpeg, pngquant and ffmpeg make of pictures, damaged ones refused, a target size met.

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

class TestImageCompressors : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> mWork;
    QString mTempDir;

    QString path(const QString& name) const { return mWork->filePath(name); }
    // The format exiftool finds in a file, as a suffix.
    static QString formatOf(const QString& path)
    {
        return metadataTags(path).value("File:FileTypeExtension").toString();
    }

private slots:
    void init()
    {
        mWork = std::make_unique<QTemporaryDir>();
        QVERIFY(mWork->isValid());
        // Working folders land in a temporary location of this test's own, so leftovers can be seen.
        mTempDir = path("tmp");
        QVERIFY(QDir().mkpath(mTempDir));
        qputenv("TMPDIR", QFile::encodeName(mTempDir));
    }

    void cleanup()
    {
        QCOMPARE(entriesStartingWith(mTempDir, "compress"), QStringList());
        QCOMPARE(entriesStartingWith(mWork->path(), "."), QStringList()); // no set-aside output left
        mWork.reset();
    }

    void compressesPictures_data()
    {
        QTest::addColumn<QString>("photo");      // anim.gif: ten frames of 320x240, made here
        QTest::addColumn<QString>("outputName"); // empty: in place
        QTest::addColumn<QString>("maxWidth");
        QTest::addColumn<QString>("resized"); // empty: the source's size
        // clang-format off
        QTest::newRow("jpg") << "DSCN0010.jpg" << "out.jpg" << "" << "";
        QTest::newRow("jpg from png") << "kodim03.png" << "out.JPEG" << "" << "";
        QTest::newRow("jpg in place") << "DSCN0010.jpg" << "" << "" << "";
        QTest::newRow("png") << "kodim03.png" << "out.png" << "" << "";
        QTest::newRow("png from jpeg") << "DSCN0010.jpg" << "out.png" << "" << "";
        QTest::newRow("webp, box that fits") << "DSCN0010.jpg" << "out.webp" << "4000" << "";
        QTest::newRow("webp, resized") << "kodim03.png" << "out.webp" << "384" << "384x256";
        QTest::newRow("webp animation, resized") << "anim.gif" << "out.webp" << "160" << "160x120";
        // clang-format on
    }

    void compressesPictures()
    {
        QFETCH(QString, photo);
        QFETCH(QString, outputName);
        QFETCH(QString, maxWidth);
        QFETCH(QString, resized);
        const QString source = path(photo), output = outputName.isEmpty() ? source : path(outputName);
        const bool animation = photo == "anim.gif";
        if (animation)
            QVERIFY(run(ffmpeg(), {"-v", "error", "-f", "lavfi", "-i",
                                   "testsrc2=size=320x240:rate=10:duration=1", source}));
        else
            QVERIFY(QFile::copy(MediaFixtures::photo(photo), source));
        const QByteArray before = readAll(source);
        const QString size = frameSize(source);

        const auto task =
            newTask(source, output, maxWidth.isEmpty() ? QVariantMap() : QVariantMap{{"maxWidth", maxWidth}});
        const TaskResult result = runTask(*task);
        QCOMPARE(result.finishCount, 1);
        QCOMPARE(result.code, 0);
        QCOMPARE(result.text, output.endsWith(".webp") ? FinishCode::successfulText() : QString());
        QCOMPARE(compressTask(task)->status(), int(CompressTask::StatusSucceeded));
        QCOMPARE(formatOf(output), QFileInfo(output).suffix().toLower().replace("jpeg", "jpg"));
        QCOMPARE(task->property("resized").toString(), resized);
        // ffmpeg cannot read an animated WebP back; exiftool reads its canvas.
        QCOMPARE(metadataTags(output).value("Composite:ImageSize").toString(),
                 resized.isEmpty() ? size : resized);
        if (output != source)
            QCOMPARE(readAll(source), before);
        if (animation || !resized.isEmpty())
            return;
        // A palette PNG of a photo is no smaller than its JPEG, but every other result is.
        if (!(output.endsWith(".png") && photo.endsWith(".jpg")))
            QVERIFY2(QFileInfo(output).size() < before.size(),
                     qPrintable(QString::number(QFileInfo(output).size())));
        const double similarity = ssim(MediaFixtures::photo(photo), output);
        QVERIFY2(similarity > 0.9, qPrintable(QString::number(similarity)));
    }

    void damagedSourceIsRefused_data()
    {
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("outputExistedBefore");
        const QByteArray jpeg = readAll(photo("DSCN0010.jpg")), png = readAll(photo("kodim03.png"));
        QByteArray noise(4096, '\0');
        for (int i = 0; i < noise.size(); ++i)
            noise[i] = char((i * 7919 + 13) & 0xff);
        QTest::newRow("jpg, truncated photo") << "jpg" << jpeg.left(jpeg.size() / 2) << false;
        QTest::newRow("jpg, noise") << "jpg" << noise << false;
        QTest::newRow("jpg, empty file, old output kept") << "jpg" << QByteArray() << true;
        QTest::newRow("png, truncated, old output kept") << "png" << png.left(png.size() / 2) << true;
        QTest::newRow("webp, not an image") << "webp" << QByteArray("not an image at all") << false;
        QTest::newRow("webp, not an image, old output kept") << "webp" << QByteArray("not an image") << true;
    }

    void damagedSourceIsRefused()
    {
        QFETCH(QString, suffix);
        QFETCH(QByteArray, content);
        QFETCH(bool, outputExistedBefore);
        const QString source = path(suffix == "jpg" ? "broken.jpg" : "broken.png"),
                      output = path("out." + suffix);
        QVERIFY(writeAll(source, content));
        if (outputExistedBefore)
            QVERIFY(writeAll(output, "the user's own file"));

        const auto task = newTask(source, output);
        const TaskResult result = runTask(*task);
        QCOMPARE(result.finishCount, 1);
        // ffmpeg's own exit code and word for it; the image tools' unreadable source.
        QVERIFY(result.code != 0);
        if (suffix != "webp")
            QCOMPARE(result.code, FinishCode::CorruptSource);
        QCOMPARE(result.text, suffix == "webp" ? QString("fail") : FinishCode::corruptSourceText());
        QCOMPARE(compressTask(task)->status(), int(CompressTask::StatusFailed));
        if (outputExistedBefore)
            QCOMPARE(readAll(output), QByteArray("the user's own file"));
        else
            QVERIFY(!QFileInfo::exists(output));
    }

    // A result that gains nothing over a source of the output's own format gives way to the source's bytes;
    // a source of another format never stands in.
    void resultIsNeverWorseThanItsSource()
    {
        const QString flat = path("flat.png"), optimised = path("optimised.png"), noise = path("noise.png");
        QVERIFY(makeImage(flat, "color=c=red:size=16x16", {"-pix_fmt", "pal8"}));
        QCOMPARE(runTask(*newTask(flat, optimised)).code, 0);
        QVERIFY(QFileInfo(optimised).size() < QFileInfo(flat).size());
        QCOMPARE(runTask(*newTask(optimised, path("again.png"))).code, 0);
        QCOMPARE(readAll(path("again.png")), readAll(optimised));

        // Grey noise packs better as a small PNG than as a lossy WebP, and a WebP made at a low quality
        // comes out larger at a high one.
        QVERIFY(makeImage(noise, "nullsrc=size=32x32,geq=random(1)*255:128:128", {"-pix_fmt", "gray"}));
        QCOMPARE(runTask(*newTask(noise, path("from-png.webp"))).code, 0);
        QCOMPARE(formatOf(path("from-png.webp")), QString("webp"));
        QVERIFY(run(ffmpeg(),
                    {"-v", "error", "-i", noise, "-c:v", "libwebp", "-quality", "2", path("low.webp")}));
        const TaskResult result = runTask(*newTask(path("low.webp"), path("again.webp"), {{"quality", 100}}));
        QCOMPARE(result.code, 0);
        QCOMPARE(result.text, QString());
        QCOMPARE(readAll(path("again.webp")), readAll(path("low.webp")));
    }

    void jpegKeepsExifOrientation()
    {
        const QString output = path("out.jpg");
        QCOMPARE(runTask(*newTask(photo("landscape_6.jpg"), output, {{"quality", 60}})).code, 0);
        QCOMPARE(metadataTags(output).value("IFD0:Orientation").toString(), QString("Rotate 90 CW"));
    }

    // Tasks of every image kind at once each deliver their own picture.
    void concurrentTasksDeliverTheirOwnImage()
    {
        QStringList outputs;
        QList<QSharedPointer<ICompressTask>> tasks;
        QList<std::shared_ptr<QSignalSpy>> spies;
        for (const QString size : {"320x240", "200x300"}) {
            QVERIFY(makeImage(path(size + ".png"), "testsrc2=size=" + size));
            for (const QString suffix : {"jpg", "png", "webp"}) {
                outputs << path(size + "-out." + suffix);
                tasks << newTask(path(size + ".png"), outputs.last());
                spies << std::make_shared<QSignalSpy>(tasks.last().data(), &ICompressTask::compressFinished);
                QVERIFY(spies.last()->isValid());
            }
        }
        for (const auto& task : tasks)
            QVERIFY(task->startTask());
        for (int i = 0; i < tasks.size(); ++i) {
            QTRY_COMPARE_WITH_TIMEOUT(spies.at(i)->count(), 1, 60000);
            QCOMPARE(spies.at(i)->first().at(0).toInt(), 0);
            QCOMPARE(frameSize(outputs.at(i)), QFileInfo(outputs.at(i)).baseName().section('-', 0, 0));
        }
    }

    void hitsATargetSize_data()
    {
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<QString>("photo");
        QTest::addColumn<int>("highest"); // the request's quality, where the search starts
        QTest::addColumn<int>("lowest");  // the search's floor
        QTest::addColumn<double>("targetShare");
        // clang-format off
        QTest::newRow("jpg, half the plain size") << "jpg" << "DSCN0010.jpg" << 75 << 5 << 0.5;
        QTest::newRow("jpg, above the plain size") << "jpg" << "DSCN0010.jpg" << 75 << 5 << 2.0;
        QTest::newRow("jpg from png, out of reach") << "jpg" << "kodim03.png" << 75 << 5 << 0.01;
        QTest::newRow("png, half the plain size") << "png" << "kodim03.png" << 80 << 0 << 0.5;
        QTest::newRow("png, above the plain size") << "png" << "kodim03.png" << 80 << 0 << 2.0;
        QTest::newRow("png, out of reach") << "png" << "kodim03.png" << 80 << 0 << 0.01;
        QTest::newRow("webp, half the plain size") << "webp" << "landscape_6.jpg" << 75 << 5 << 0.5;
        QTest::newRow("webp, above the plain size") << "webp" << "landscape_6.jpg" << 75 << 5 << 2.0;
        QTest::newRow("webp, out of reach") << "webp" << "landscape_6.jpg" << 75 << 5 << 0.01;
        // clang-format on
    }

    void hitsATargetSize()
    {
        QFETCH(QString, suffix);
        QFETCH(QString, photo);
        QFETCH(int, highest);
        QFETCH(int, lowest);
        QFETCH(double, targetShare);
        TargetSizeCheck::check(TargetSizeCheck::tasksFor(MediaFixtures::photo(photo)), mWork->path(), suffix,
                               highest, lowest, targetShare);
    }
};

QTEST_GUILESS_MAIN(TestImageCompressors)
#include "tst_imagecompressors.moc"
