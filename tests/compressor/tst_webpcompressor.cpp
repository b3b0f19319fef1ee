// WebP tasks end to end with Debian's real ffmpeg, and a fake one where a fault must be forced.

#include "MediaFixtures.h"
#include "TargetSizeCheck.h"
#include "TaskRun.h"

#include <base/Config.h>
#include <compressor/CompressTask.h>
#include <compressor/FinishCode.h>
#include <compressor/ICompressor.h>
#include <compressor/WebpCompressor.h>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

using namespace MediaFixtures;

namespace {

bool isWebp(const QString& path)
{
    const QByteArray data = readAll(path);
    return data.startsWith("RIFF") && data.mid(8, 4) == "WEBP";
}

} // namespace

class TestWebpCompressor : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void hitsATargetSize_data();
    void hitsATargetSize();

    void argumentList_data();
    void argumentList();
    void convertsImages_data();
    void convertsImages();
    void largerResultDeliversTheSource();
    void corruptSourceFailsAndKeepsTheUsersFile();
    void replacesAnExistingOutputOnlyOnSuccess();
    void refusesToWriteOntoItsSource();
    void ffmpegFromConfiguration();
    void concurrentTasksDeliverTheirOwnImage();

private:
    QSharedPointer<ICompressTask> makeTask(const QString& input, const QString& output,
                                           const QString& quality = QStringLiteral("75"),
                                           const QString& maxWidth = QString());
    QString path(const QString& name) const { return mWork->filePath(name); }
    // A folder whose "ffmpeg" is the given program.
    QString ffmpegFolder(const QString& name, const QString& program);

    std::unique_ptr<QTemporaryDir> mWork;
};

void TestWebpCompressor::init()
{
    mWork = std::make_unique<QTemporaryDir>();
    QVERIFY(mWork->isValid());
    Nerova::getConfig()[kFFmpegPath] = QString();
}

void TestWebpCompressor::cleanup()
{
    Nerova::getConfig()[kFFmpegPath] = QString();
    // No set-aside copies are left next to the outputs.
    QCOMPARE(entriesStartingWith(mWork->path(), "."), QStringList());
    mWork.reset();
}

QSharedPointer<ICompressTask> TestWebpCompressor::makeTask(const QString& input, const QString& output,
                                                           const QString& quality, const QString& maxWidth)
{
    return CompressorEntry()->createCompressTask(
        {{"inputPath", input}, {"outputPath", output}, {"quality", quality}, {"maxWidth", maxWidth}});
}

QString TestWebpCompressor::ffmpegFolder(const QString& name, const QString& program)
{
    const QString dir = path(name);
    QDir().mkpath(dir);
    QFile::link(program, dir + "/ffmpeg");
    return dir;
}

void TestWebpCompressor::argumentList_data()
{
    QTest::addColumn<QString>("quality");
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("75") << "75" << QStringList{"-i",      "\"/in/a b.png\"", "-y", "-c:v",
                                               "libwebp", "-quality",        "75", "\"/out/c.webp\""};
    QTest::newRow("left out: the format's default")
        << ""
        << QStringList{"-i", "\"/in/a b.png\"", "-y", "-c:v", "libwebp", "-quality", "75", "\"/out/c.webp\""};
}

void TestWebpCompressor::argumentList()
{
    QFETCH(QString, quality);
    QFETCH(QStringList, arguments);
    WebpCompressor task({{"inputPath", "/in/a b.png"}, {"outputPath", "/out/c.webp"}, {"quality", quality}});
    QCOMPARE(task.makeWebpCompressParam({}), arguments);
}

// anim.gif: ten frames of 320x240, made here.
void TestWebpCompressor::convertsImages_data()
{
    QTest::addColumn<QString>("photo");
    QTest::addColumn<QString>("maxWidth");
    QTest::addColumn<QString>("size"); // empty: the source's
    QTest::newRow("png") << "kodim03.png"
                         << ""
                         << "";
    QTest::newRow("jpeg") << "DSCN0010.jpg"
                          << ""
                          << "";
    QTest::newRow("png, resized") << "kodim03.png"
                                  << "384"
                                  << "384x256";
    QTest::newRow("jpeg, box that fits") << "DSCN0010.jpg"
                                         << "4000"
                                         << "";
    QTest::newRow("animation, resized") << "anim.gif"
                                        << "160"
                                        << "160x120";
}

void TestWebpCompressor::convertsImages()
{
    QFETCH(QString, photo);
    QFETCH(QString, maxWidth);
    QFETCH(QString, size);
    const QString source = path(photo);
    const bool animation = photo == "anim.gif";
    if (animation)
        QVERIFY(run(ffmpeg(), {"-v", "error", "-f", "lavfi", "-i", "testsrc2=size=320x240:rate=10:duration=1",
                               source}));
    else
        QVERIFY(QFile::copy(MediaFixtures::photo(photo), source));
    const QString output = path("out.webp");

    const auto task = makeTask(source, output, "75", maxWidth);
    const TaskResult result = runTask(*task);
    QCOMPARE(result.finishCount, 1);
    QCOMPARE(result.code, 0);
    QCOMPARE(result.text, QString("successful"));
    QCOMPARE(compressTask(task)->status(), int(CompressTask::StatusSucceeded));
    QVERIFY(isWebp(output));
    QCOMPARE(task->property("resized").toString(), size);
    // ffmpeg cannot read an animated WebP back; exiftool reads its canvas.
    const QString expected = size.isEmpty() ? frameSize(source) : size;
    QCOMPARE(MediaFixtures::metadataTags(output).value("Composite:ImageSize").toString(), expected);
    if (animation)
        return;
    QString reference = source;
    if (!size.isEmpty()) {
        reference = path("reference.png");
        QVERIFY(run(ffmpeg(), {"-v", "error", "-i", source, "-vf",
                               "scale=" + size.replace('x', ':') + ":flags=lanczos", reference}));
    }
    QVERIFY(ssim(reference, output) > 0.9);
}

void TestWebpCompressor::largerResultDeliversTheSource()
{
    // Grey noise packs better as a small PNG than as a lossy WebP: the WebP is delivered all the same,
    // since the output is always the format its name says.
    const QString png = path("noise.png");
    QVERIFY(makeImage(png, "nullsrc=size=32x32,geq=random(1)*255:128:128", {"-pix_fmt", "gray"}));
    TaskResult result = runTask(*makeTask(png, path("from-png.webp")));
    QCOMPARE(result.code, 0);
    QCOMPARE(result.text, QString("successful"));
    QVERIFY(isWebp(path("from-png.webp")));

    // A WebP made at a low quality comes out larger at a high one: its own bytes stand in.
    const QString webp = path("noise.webp");
    QVERIFY(run(ffmpeg(), {"-v", "error", "-i", png, "-c:v", "libwebp", "-quality", "2", webp}));
    result = runTask(*makeTask(webp, path("again.webp"), "100"));
    QCOMPARE(result.finishCount, 1);
    QCOMPARE(result.code, 0);
    QCOMPARE(result.text, QString());
    QCOMPARE(readAll(path("again.webp")), readAll(webp));
}

void TestWebpCompressor::corruptSourceFailsAndKeepsTheUsersFile()
{
    const QString source = path("broken.png");
    QVERIFY(writeAll(source, "not an image at all"));
    const QString output = path("out.webp");
    QVERIFY(writeAll(output, "the user's own file"));

    const auto task = makeTask(source, output);
    const TaskResult result = runTask(*task);
    QCOMPARE(result.finishCount, 1);
    QVERIFY(result.code != 0);
    QCOMPARE(result.text, QString("fail"));
    QCOMPARE(compressTask(task)->status(), int(CompressTask::StatusFailed));
    QCOMPARE(readAll(output), QByteArray("the user's own file"));

    QFile::remove(output);
    QCOMPARE(runTask(*task).text, QString("fail"));
    QVERIFY(!QFileInfo::exists(output));
}

void TestWebpCompressor::replacesAnExistingOutputOnlyOnSuccess()
{
    const QString source = path("in.png");
    QVERIFY(makeImage(source));
    const QString output = path("out.webp");
    QVERIFY(writeAll(output, "stale"));

    const TaskResult result = runTask(*makeTask(source, output));
    QCOMPARE(result.code, 0);
    QVERIFY(isWebp(output));
}

void TestWebpCompressor::refusesToWriteOntoItsSource()
{
    const QString source = path("in.webp");
    QVERIFY(makeImage(source));
    const QByteArray before = readAll(source);
    QVERIFY(QFile::link(source, path("link.webp")));

    for (const QString& output : {source, path("link.webp"), path("./in.webp")}) {
        const auto task = makeTask(source, output);
        const TaskResult result = runTask(*task);
        QCOMPARE(result.finishCount, 1);
        QCOMPARE(result.code, FinishCode::OutputIsSource);
        QCOMPARE(readAll(source), before);
    }
}

void TestWebpCompressor::ffmpegFromConfiguration()
{
    const QString source = path("in.png");
    QVERIFY(makeImage(source));

    // A configured folder without ffmpeg: nothing starts, and the application's folder is not tried.
    Nerova::getConfig()[kFFmpegPath] = path("empty");
    const auto missing = makeTask(source, path("a.webp"));
    QSignalSpy spy(missing.data(), &ICompressTask::compressFinished);
    QVERIFY(spy.isValid());
    QVERIFY(!missing->startTask());
    QCOMPARE(compressTask(missing)->status(), int(CompressTask::StatusRunning));
    QCOMPARE(spy.count(), 0);

    Nerova::getConfig()[kFFmpegPath] = ffmpegFolder("tools", ffmpeg());
    const TaskResult result = runTask(*makeTask(source, path("b.webp")));
    QCOMPARE(result.code, 0);
    QVERIFY(isWebp(path("b.webp")));
}

void TestWebpCompressor::concurrentTasksDeliverTheirOwnImage()
{
    const QStringList sizes{"320x240", "200x300", "256x128"};
    QList<QSharedPointer<ICompressTask>> tasks;
    QList<std::shared_ptr<QSignalSpy>> spies;
    for (const QString& size : sizes) {
        QVERIFY(makeImage(path(size + ".png"), "testsrc2=size=" + size));
        tasks << makeTask(path(size + ".png"), path(size + ".webp"));
        tasks << CompressorEntry()->createCompressTask(
            {{"inputPath", path(size + ".png")}, {"outputPath", path(size + "-q.png")}, {"quality", "80"}});
    }
    for (const auto& task : tasks) {
        spies << std::make_shared<QSignalSpy>(task.data(), &ICompressTask::compressFinished);
        QVERIFY(spies.last()->isValid());
        QVERIFY(task->startTask());
    }
    for (int i = 0; i < tasks.size(); ++i) {
        QTRY_COMPARE_WITH_TIMEOUT(spies.at(i)->count(), 1, 60000);
        QCOMPARE(spies.at(i)->first().at(0).toInt(), 0);
    }
    for (const QString& size : sizes) {
        QCOMPARE(frameSize(path(size + ".webp")), size);
        QCOMPARE(frameSize(path(size + "-q.png")), size);
    }
}

void TestWebpCompressor::hitsATargetSize_data()
{
    QTest::addColumn<QString>("photo");
    QTest::addColumn<double>("targetShare");
    QTest::newRow("landscape_6.jpg, half the plain size") << "landscape_6.jpg" << 0.5;
    QTest::newRow("landscape_6.jpg, above the plain size") << "landscape_6.jpg" << 2.0;
    QTest::newRow("landscape_6.jpg, out of reach") << "landscape_6.jpg" << 0.01;
}

void TestWebpCompressor::hitsATargetSize()
{
    QFETCH(QString, photo);
    QFETCH(double, targetShare);
    TargetSizeCheck::check(TargetSizeCheck::tasksFor(MediaFixtures::photo(photo)), mWork->path(), "webp", 75,
                           5, targetShare);
}

QTEST_GUILESS_MAIN(TestWebpCompressor)
#include "tst_webpcompressor.moc"
