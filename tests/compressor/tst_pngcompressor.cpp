// PNG tasks end to end with Debian's real pngquant.

#include "MediaFixtures.h"
#include "TargetSizeCheck.h"
#include "TaskRun.h"

#include <compressor/CompressTask.h>
#include <compressor/FinishCode.h>
#include <compressor/ICompressor.h>
#include <compressor/PngCompressor.h>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

using namespace MediaFixtures;

namespace {

bool isPng(const QString& path)
{
    return readAll(path).startsWith("\x89PNG\r\n\x1a\n");
}

} // namespace

// Exposes the argument builder, which prepares a working copy as a run would.
class PngProbe : public PngCompressor
{
public:
    using PngCompressor::PngCompressor;
    using WorkingCopyCompressTask::cleanUpRun;
};

class TestPngCompressor : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void hitsATargetSize_data();
    void hitsATargetSize();

    void qualityRange_data();
    void qualityRange();
    void reducesARealPhoto();
    void optimisedPngComesBackUnchanged();
    void unreadableSourceIsRefused_data();
    void unreadableSourceIsRefused();
    void concurrentTasksDeliverTheirOwnImage();

private:
    QSharedPointer<ICompressTask> makeTask(const QString& input, const QString& output,
                                           const QString& quality = QStringLiteral("80"));
    QString path(const QString& name) const { return mWork->filePath(name); }

    std::unique_ptr<QTemporaryDir> mWork;
    QString mTempDir;
};

void TestPngCompressor::init()
{
    mWork = std::make_unique<QTemporaryDir>();
    QVERIFY(mWork->isValid());
    mTempDir = path("tmp");
    QVERIFY(QDir().mkpath(mTempDir));
    qputenv("TMPDIR", QFile::encodeName(mTempDir));
}

void TestPngCompressor::cleanup()
{
    QCOMPARE(entriesStartingWith(mTempDir, "compress"), QStringList());
    mWork.reset();
}

QSharedPointer<ICompressTask> TestPngCompressor::makeTask(const QString& input, const QString& output,
                                                          const QString& quality)
{
    return CompressorEntry()->createCompressTask(
        {{"inputPath", input}, {"outputPath", output}, {"quality", quality}});
}

void TestPngCompressor::qualityRange_data()
{
    QTest::addColumn<QString>("quality");
    QTest::addColumn<QString>("range");
    QTest::newRow("60") << "60"
                        << "0-60";
    QTest::newRow("left out: the format's default") << ""
                                                    << "0-80";
}

void TestPngCompressor::qualityRange()
{
    QFETCH(QString, quality);
    QFETCH(QString, range);
    PngProbe task({{"inputPath", path("a.jpg")}, {"outputPath", path("b.png")}, {"quality", quality}});
    const QStringList params = task.makePngCompressParam({});
    QCOMPARE(params.size(), 6);
    QCOMPARE(params.at(0), QString("--quality"));
    QCOMPARE(params.at(1), range);
    QCOMPARE(params.at(2), QString("--force"));
    QVERIFY(params.at(3).endsWith("/temporaryImage_1.jpg\"")); // the source's suffix, whatever the output's
    QCOMPARE(params.at(4), QString("-o"));
    QVERIFY(params.at(5).endsWith("/temporaryImage_2.jpg\""));
    task.cleanUpRun();
}

void TestPngCompressor::reducesARealPhoto()
{
    const QString source = path("photo.png");
    QVERIFY(QFile::copy(photo("kodim03.png"), source));
    const QString output = path("small.png");

    const auto task = makeTask(source, output);
    const TaskResult result = runTask(*task);
    QCOMPARE(result.finishCount, 1);
    QCOMPARE(result.code, 0);
    QCOMPARE(result.text, QString());
    QVERIFY(task.staticCast<CompressTask>()->isFinished());
    QVERIFY(isPng(output));
    QVERIFY(QFileInfo(output).size() < QFileInfo(source).size());
    QCOMPARE(frameSize(output), frameSize(source));
    QVERIFY(ssim(source, output) > 0.9);
}

void TestPngCompressor::optimisedPngComesBackUnchanged()
{
    // pngquant's own result of a small flat picture leaves nothing to gain on a second pass.
    const QString flat = path("flat.png");
    QVERIFY(makeImage(flat, "color=c=red:size=16x16", {"-pix_fmt", "pal8"}));
    const QString optimised = path("optimised.png");
    QCOMPARE(runTask(*makeTask(flat, optimised)).code, 0);
    QVERIFY(QFileInfo(optimised).size() < QFileInfo(flat).size());

    const QString output = path("again.png");
    const TaskResult result = runTask(*makeTask(optimised, output));
    QCOMPARE(result.finishCount, 1);
    QCOMPARE(result.code, 0);
    QCOMPARE(readAll(output), readAll(optimised));
}

void TestPngCompressor::unreadableSourceIsRefused_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("code");
    // A JPEG under a PNG name is a picture like any other: it becomes a real PNG.
    QTest::newRow("jpeg named png") << "jpeg" << 0;
    QTest::newRow("truncated png") << "truncated" << FinishCode::CorruptSource;
}

void TestPngCompressor::unreadableSourceIsRefused()
{
    QFETCH(QString, kind);
    QFETCH(int, code);
    const QString source = path("broken.png");
    if (kind == "jpeg") {
        QVERIFY(QFile::copy(photo("DSCN0010.jpg"), source));
    } else {
        const QByteArray png = readAll(photo("kodim03.png"));
        QVERIFY(writeAll(source, png.left(png.size() / 2)));
    }
    const QString output = path("out.png");

    const TaskResult result = runTask(*makeTask(source, output));
    QCOMPARE(result.finishCount, 1);
    QCOMPARE(result.code, code);
    if (code == 0) {
        QVERIFY(readAll(output).startsWith("\x89PNG\r\n\x1a\n"));
        return;
    }
    QCOMPARE(result.text, FinishCode::corruptSourceText());
    QVERIFY(!QFileInfo::exists(output));
}

void TestPngCompressor::concurrentTasksDeliverTheirOwnImage()
{
    const QStringList sizes{"320x240", "200x300", "256x128"};
    QList<QSharedPointer<ICompressTask>> tasks;
    QList<std::shared_ptr<QSignalSpy>> spies;
    for (const QString& size : sizes) {
        QVERIFY(makeImage(path(size + ".png"), "testsrc2=size=" + size));
        tasks << makeTask(path(size + ".png"), path(size + "-small.png"));
        spies << std::make_shared<QSignalSpy>(tasks.last().data(), &ICompressTask::compressFinished);
        QVERIFY(spies.last()->isValid());
    }
    for (const auto& task : tasks)
        QVERIFY(task->startTask());
    for (int i = 0; i < sizes.size(); ++i) {
        QTRY_COMPARE_WITH_TIMEOUT(spies.at(i)->count(), 1, 60000);
        QCOMPARE(spies.at(i)->first().at(0).toInt(), 0);
        QCOMPARE(frameSize(path(sizes.at(i) + "-small.png")), sizes.at(i));
    }
}

void TestPngCompressor::hitsATargetSize_data()
{
    QTest::addColumn<QString>("photo");
    QTest::addColumn<double>("targetShare");
    QTest::newRow("kodim03.png, half the plain size") << "kodim03.png" << 0.5;
    QTest::newRow("kodim03.png, above the plain size") << "kodim03.png" << 2.0;
    QTest::newRow("kodim03.png, out of reach") << "kodim03.png" << 0.01;
}

void TestPngCompressor::hitsATargetSize()
{
    QFETCH(QString, photo);
    QFETCH(double, targetShare);
    TargetSizeCheck::check(TargetSizeCheck::tasksFor(MediaFixtures::photo(photo)), mWork->path(), "png", 80,
                           0, targetShare);
}

QTEST_GUILESS_MAIN(TestPngCompressor)
#include "tst_pngcompressor.moc"
