// nerova-compress as a user runs it: it loads the plug-in, compresses files and folders, and says how
// it went in words or in JSON.

#include "MediaFixtures.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

using namespace MediaFixtures;

namespace {

// A short clip that the video task re-encodes quickly; a high quality so the result comes out smaller.
bool makeVideo(const QString& path, const QString& size = QStringLiteral("160x120"), int seconds = 1)
{
    return run(ffmpeg(),
               {"-v", "error", "-y", "-f", "lavfi", "-i",
                QStringLiteral("testsrc2=size=%1:rate=25:duration=%2").arg(size).arg(seconds), "-pix_fmt",
                "yuv420p", "-c:v", "libx264", "-preset", "ultrafast", "-crf", "10", path});
}

// An image of the given format that compressing makes smaller.
bool makeSource(const QString& path, const QString& pattern = QStringLiteral("mandelbrot=size=320x240"))
{
    const QString suffix = QFileInfo(path).suffix();
    if (suffix == "mp4")
        return makeVideo(path);
    if (suffix == "jpg")
        return makeImage(path, pattern, {"-q:v", "1"});
    if (suffix == "webp")
        return makeImage(path, pattern, {"-lossless", "1"});
    return makeImage(path, pattern);
}

// Every file under dir, as paths relative to it, hidden ones included.
QStringList filesUnder(const QString& dir)
{
    QStringList files;
    QDirIterator it(dir, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(dir).relativeFilePath(it.next());
    files.sort();
    return files;
}

bool setModificationTime(const QString& path, const QDateTime& time)
{
    QFile file(path);
    return file.open(QIODevice::ReadWrite) && file.setFileTime(time, QFileDevice::FileModificationTime);
}

QList<QJsonObject> jsonLines(const QString& text, bool* allParsed)
{
    QList<QJsonObject> objects;
    *allParsed = true;
    for (const QString& line : text.split('\n', Qt::SkipEmptyParts)) {
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(line.toUtf8(), &error);
        if (error.error != QJsonParseError::NoError || !document.isObject())
            *allParsed = false;
        objects << document.object();
    }
    return objects;
}

} // namespace

class TestHost : public QObject
{
    Q_OBJECT

private slots:
    void compressesAnImage();
    void reportsAFailure();
    void compressesSeveralFilesIntoAFolder();
    void keepsTheTreeWithRecursion();
    void convertsImagesWithTo();
    void parallelJobsGiveTheSameBytes();
    void jsonReportsEveryFile();
    void videoThatWouldGrow_data();
    void videoThatWouldGrow();
    void interruptLeavesNothingBehind_data();
    void interruptLeavesNothingBehind();
    void keepsDates();
    void outputRules_data();
    void outputRules();
    void inPlaceKeepsTheSourceOnFailure();
    void exitStatus_data();
    void exitStatus();
    void dryRunTouchesNothing();
    void resizesAndStrips_data();
    void resizesAndStrips();
    void targetSize_data();
    void targetSize();

private:
    struct Outcome
    {
        int exitCode = -1;
        QString out;
        QString err;
    };
    static Outcome host(const QStringList& arguments);
};

TestHost::Outcome TestHost::host(const QStringList& arguments)
{
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(QStringLiteral(HOST_PROGRAM), arguments);
    Outcome outcome;
    if (!process.waitForFinished(120000))
        return outcome;
    outcome.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    outcome.out = QString::fromUtf8(process.readAllStandardOutput());
    outcome.err = QString::fromUtf8(process.readAllStandardError());
    return outcome;
}

void TestHost::compressesAnImage()
{
    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QString source = work.filePath("sample.png");
    QVERIFY(makeImage(source, "testsrc2=size=640x480"));
    const QString output = work.filePath("sample.jpg");

    const Outcome outcome = host({source, output, "--quality", "80"});
    QCOMPARE(outcome.exitCode, 0);
    QVERIFY2(outcome.out.startsWith("finish code 0 \"\": "), qPrintable(outcome.out));
    QVERIFY(outcome.out.contains("saved"));
    QVERIFY(ssim(source, output) > 0.9);
}

void TestHost::reportsAFailure()
{
    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QString source = work.filePath("broken.png");
    QVERIFY(writeAll(source, "not an image"));

    const Outcome outcome = host({source, work.filePath("out.jpg")});
    QCOMPARE(outcome.exitCode, 1);
    QVERIFY2(outcome.out.startsWith("finish code 1 \"The file is corrupt or not a standard file format\""),
             qPrintable(outcome.out));
}

void TestHost::compressesSeveralFilesIntoAFolder()
{
    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QString first = work.filePath("first.png");
    const QString second = work.filePath("second.jpg");
    const QString broken = work.filePath("broken.png");
    QVERIFY(makeImage(first));
    QVERIFY(makeImage(second, "testsrc2=size=200x100"));
    QVERIFY(writeAll(broken, "not an image"));

    const Outcome outcome = host({first, second, broken, "-o", work.filePath("out/nested"), "--to", "jpg"});
    QCOMPARE(outcome.exitCode, 1); // one file failed
    QCOMPARE(frameSize(work.filePath("out/nested/first.jpg")), QString("320x240"));
    QCOMPARE(frameSize(work.filePath("out/nested/second.jpg")), QString("200x100"));
    QVERIFY(!QFileInfo::exists(work.filePath("out/nested/broken.jpg")));
    // The summary table, with the failure's code and text.
    const QString out = outcome.out;
    QVERIFY2(QRegularExpression("files +3\n +succeeded +2\n +failed +1\n").match(out).hasMatch(),
             qPrintable(out));
    // The tool's own reason follows the finish text.
    QVERIFY2(out.contains(broken + ": finish code 1 \"The file is corrupt or not a standard file format\" ("),
             qPrintable(out));
    QVERIFY(out.contains(QRegularExpression("wall time +\\d+:\\d\\d:\\d\\d")));
}

void TestHost::keepsTheTreeWithRecursion()
{
    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QDir in(work.filePath("in"));
    QVERIFY(in.mkpath("x/y"));
    QVERIFY(makeSource(in.filePath("a.png")));
    QVERIFY(makeSource(in.filePath("x/b.jpg")));
    QVERIFY(makeSource(in.filePath("x/y/c.webp")));
    QVERIFY(writeAll(in.filePath("x/notes.txt"), "not media"));
    QVERIFY(makeSource(in.filePath(".hidden.png")));

    Outcome outcome = host({in.path(), "-o", work.filePath("flat")});
    QCOMPARE(outcome.exitCode, 0);
    QCOMPARE(filesUnder(work.filePath("flat")), QStringList{"a.png"});
    QVERIFY2(outcome.err.contains("sub-folder(s) left out (use -r)"), qPrintable(outcome.err));

    outcome = host({"-r", in.path(), "-o", work.filePath("tree")});
    QCOMPARE(outcome.exitCode, 0);
    QCOMPARE(filesUnder(work.filePath("tree")), (QStringList{"a.png", "x/b.jpg", "x/y/c.webp"}));
    QVERIFY2(outcome.err.contains("1 file(s) that are neither images nor videos left out (.txt)"),
             qPrintable(outcome.err));
    QCOMPARE(frameSize(work.filePath("tree/x/y/c.webp")), QString("320x240"));

    // An output folder inside the input folder: its results are never taken as inputs.
    for (int round = 0; round < 2; ++round) {
        outcome = host({"-r", in.path(), "-o", in.filePath("out"), "--overwrite"});
        QCOMPARE(outcome.exitCode, 0);
    }
    QCOMPARE(filesUnder(in.filePath("out")), (QStringList{"a.png", "x/b.jpg", "x/y/c.webp"}));
}

void TestHost::convertsImagesWithTo()
{
    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QDir in(work.filePath("in"));
    QVERIFY(in.mkpath("sub"));
    QVERIFY(makeSource(in.filePath("a.png")));
    QVERIFY(makeSource(in.filePath("sub/b.jpg")));
    QVERIFY(makeSource(in.filePath("sub/clip.mp4")));

    const Outcome outcome = host({"-r", in.path(), "-o", work.filePath("out"), "--to", "webp"});
    QCOMPARE(outcome.exitCode, 0);
    // Pictures become WebP; the video keeps its own format.
    QCOMPARE(filesUnder(work.filePath("out")), (QStringList{"a.webp", "sub/b.webp", "sub/clip.mp4"}));
    QVERIFY(readAll(work.filePath("out/a.webp")).startsWith("RIFF"));
    QVERIFY(ssim(in.filePath("sub/b.jpg"), work.filePath("out/sub/b.webp")) > 0.8);
    QCOMPARE(frameSize(work.filePath("out/sub/clip.mp4")), QString("160x120"));

    // Two pictures that would both become a.webp: the first in order writes it, the other fails.
    QVERIFY(makeSource(in.filePath("a.jpg")));
    const Outcome clash = host({in.path(), "-o", work.filePath("clash"), "--to", "webp"});
    QCOMPARE(clash.exitCode, 1);
    QVERIFY2(clash.out.contains(in.filePath("a.png") +
                                ": failed: another input has the same output: " + in.filePath("a.jpg")),
             qPrintable(clash.out));
    QVERIFY(ssim(in.filePath("a.jpg"), work.filePath("clash/a.webp")) > 0.8);
}

void TestHost::parallelJobsGiveTheSameBytes()
{
    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QDir in(work.filePath("in"));
    QVERIFY(in.mkpath("."));
    const QStringList patterns{"mandelbrot=size=320x240", "cellauto=size=320x240:rule=30",
                               "life=size=320x240", "gradients=size=320x240:seed=7"};
    QStringList names;
    for (int i = 0; i < patterns.size(); ++i) {
        for (const char* suffix : {"png", "jpg", "webp"}) {
            const QString name = QStringLiteral("p%1.%2").arg(i).arg(suffix);
            QVERIFY(makeSource(in.filePath(name), patterns.at(i)));
            names << name;
        }
    }
    QCOMPARE(host({in.path(), "-o", work.filePath("one"), "-j", "1"}).exitCode, 0);
    QCOMPARE(host({in.path(), "-o", work.filePath("four"), "-j", "4"}).exitCode, 0);
    names.sort();
    QCOMPARE(filesUnder(work.filePath("four")), names);
    for (const QString& name : names) {
        const QByteArray one = readAll(work.filePath("one/" + name));
        QVERIFY(!one.isEmpty());
        QVERIFY2(one == readAll(work.filePath("four/" + name)), qPrintable(name));
    }
}

void TestHost::jsonReportsEveryFile()
{
    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QDir in(work.filePath("in"));
    QVERIFY(in.mkpath("."));
    QVERIFY(makeSource(in.filePath("good.png")));
    QVERIFY(writeAll(in.filePath("broken.jpg"), "not an image"));
    QVERIFY(makeSource(in.filePath("kept.png")));
    QVERIFY(QDir(work.path()).mkpath("out"));
    QVERIFY(writeAll(work.filePath("out/kept.png"), "user's file"));

    const Outcome outcome = host({"--json", in.path(), "-o", work.filePath("out")});
    QCOMPARE(outcome.exitCode, 1);
    bool allParsed = false;
    const QList<QJsonObject> objects = jsonLines(outcome.out, &allParsed);
    QVERIFY2(allParsed, qPrintable(outcome.out)); // nothing but JSON on standard output
    QCOMPARE(objects.size(), 4);

    QMap<QString, QJsonObject> files;
    for (int i = 0; i < 3; ++i) {
        const QJsonObject& file = objects.at(i);
        QCOMPARE(file.value("type").toString(), QString("file"));
        for (const char* key :
             {"input", "output", "result", "code", "text", "bytesIn", "bytesOut", "seconds"})
            QVERIFY2(file.contains(key), key);
        files.insert(QFileInfo(file.value("input").toString()).fileName(), file);
    }
    const QJsonObject good = files.value("good.png");
    QCOMPARE(good.value("result").toString(), QString("succeeded"));
    QCOMPARE(good.value("code").toInt(-1), 0);
    QCOMPARE(good.value("output").toString(), work.filePath("out/good.png"));
    QCOMPARE(good.value("bytesIn").toVariant().toLongLong(), QFileInfo(in.filePath("good.png")).size());
    QCOMPARE(good.value("bytesOut").toVariant().toLongLong(),
             QFileInfo(work.filePath("out/good.png")).size());
    QVERIFY(good.value("bytesOut").toVariant().toLongLong() < good.value("bytesIn").toVariant().toLongLong());
    QVERIFY(good.value("seconds").toDouble() > 0.0);

    const QJsonObject broken = files.value("broken.jpg");
    QCOMPARE(broken.value("result").toString(), QString("failed"));
    QCOMPARE(broken.value("code").toInt(), 1);
    QCOMPARE(broken.value("text").toString(), QString("The file is corrupt or not a standard file format"));
    QCOMPARE(broken.value("bytesOut").toVariant().toLongLong(), 0);

    const QJsonObject kept = files.value("kept.png");
    QCOMPARE(kept.value("result").toString(), QString("skipped"));
    QVERIFY(kept.value("code").isNull());
    QCOMPARE(readAll(work.filePath("out/kept.png")), QByteArray("user's file"));

    const QJsonObject summary = objects.last();
    QCOMPARE(summary.value("type").toString(), QString("summary"));
    QCOMPARE(summary.value("files").toInt(), 3);
    QCOMPARE(summary.value("succeeded").toInt(), 1);
    QCOMPARE(summary.value("failed").toInt(), 1);
    QCOMPARE(summary.value("skipped").toInt(), 1);
    QCOMPARE(summary.value("bytesIn").toVariant().toLongLong(),
             good.value("bytesIn").toVariant().toLongLong());
    QCOMPARE(summary.value("bytesOut").toVariant().toLongLong(),
             good.value("bytesOut").toVariant().toLongLong());
    QCOMPARE(summary.value("interrupted").toBool(true), false);
    QCOMPARE(summary.value("exitStatus").toInt(), 1);
}

void TestHost::videoThatWouldGrow_data()
{
    QTest::addColumn<QString>("outputName");
    QTest::addColumn<bool>("sourceKept");
    QTest::newRow("same container") << "out.mp4" << true;
    QTest::newRow("another container") << "out.mkv" << false;
}

void TestHost::videoThatWouldGrow()
{
    QFETCH(QString, outputName);
    QFETCH(bool, sourceKept);
    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QString source = work.filePath("tight.mp4");
    QVERIFY(run(ffmpeg(), {"-v", "error", "-f", "lavfi", "-i", "testsrc2=size=160x120:rate=25:duration=1",
                           "-c:v", "libx264", "-preset", "veryslow", "-crf", "45", source}));
    const QString output = work.filePath(outputName);
    const QStringList request{"--quality", "0", "--preset", "ultrafast", source, output};

    Outcome outcome = host(QStringList{"--json"} + request);
    QCOMPARE(outcome.exitCode, 0);
    bool allParsed = false;
    const QJsonObject file = jsonLines(outcome.out, &allParsed).value(0);
    QVERIFY2(allParsed, qPrintable(outcome.out));
    QCOMPARE(file.value("sourceKept").toBool(), sourceKept);
    QCOMPARE(file.contains("sourceKept"), sourceKept);
    QCOMPARE(readAll(output) == readAll(source), sourceKept);

    outcome = host(QStringList{"--overwrite"} + request);
    QCOMPARE(outcome.exitCode, 0);
    QVERIFY2(outcome.out.contains(sourceKept ? "(source kept: the result was larger)" : ", grew "),
             qPrintable(outcome.out));
}

void TestHost::interruptLeavesNothingBehind_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("SIGTERM") << int(SIGTERM);
}

void TestHost::interruptLeavesNothingBehind()
{
    QFETCH(int, signalNumber);
    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QDir in(work.filePath("in"));
    const QDir temp(work.filePath("tmp"));
    QVERIFY(in.mkpath(".") && temp.mkpath("."));
    // Long and slow enough to be still running when the interrupt comes.
    QVERIFY(makeVideo(in.filePath("a-clip.mp4"), "640x360", 20));
    QVERIFY(makeSource(in.filePath("b.png")));
    QVERIFY(makeSource(in.filePath("c.jpg")));

    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("TMPDIR", temp.path());
    process.setProcessEnvironment(environment);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(QStringLiteral(HOST_PROGRAM),
                  {"--json", "-j", "1", "--preset", "veryslow", in.path(), "-o", work.filePath("out")});
    QVERIFY(process.waitForStarted());
    QByteArray errors;
    // The first progress line says ffmpeg is at work.
    QTRY_VERIFY_WITH_TIMEOUT((errors += process.readAllStandardError()).contains("% elapsed"), 60000);
    QVERIFY(::kill(pid_t(process.processId()), signalNumber) == 0);
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 130);

    bool allParsed = false;
    const QList<QJsonObject> objects =
        jsonLines(QString::fromUtf8(process.readAllStandardOutput()), &allParsed);
    QVERIFY(allParsed);
    QCOMPARE(objects.size(), 2);
    QCOMPARE(objects.first().value("result").toString(), QString("aborted"));
    QCOMPARE(objects.last().value("interrupted").toBool(), true);
    QCOMPARE(objects.last().value("notStarted").toInt(), 2);
    QCOMPARE(objects.last().value("exitStatus").toInt(), 130);
    QCOMPARE(filesUnder(work.filePath("out")), QStringList());
    QCOMPARE(temp.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
}

void TestHost::keepsDates()
{
    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QString source = work.filePath("in/photo.png");
    QVERIFY(QDir(work.path()).mkpath("in"));
    QVERIFY(makeSource(source));
    const QDateTime past(QDate(2001, 2, 3), QTime(4, 5, 6), Qt::UTC);
    QVERIFY(setModificationTime(source, past));

    QCOMPARE(host({source, "-o", work.filePath("kept"), "--keep-dates"}).exitCode, 0);
    QCOMPARE(QFileInfo(work.filePath("kept/photo.png")).lastModified().toUTC(), past);
    QCOMPARE(host({source, "-o", work.filePath("fresh")}).exitCode, 0);
    QVERIFY(QFileInfo(work.filePath("fresh/photo.png")).lastModified() > past.addYears(10));
    QCOMPARE(host({source, source, "--in-place", "--keep-dates"}).exitCode, 0);
    QCOMPARE(QFileInfo(source).lastModified().toUTC(), past);
}

void TestHost::outputRules_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QString>("rule");
    for (const char* suffix : {"jpg", "png", "webp", "mp4"}) {
        for (const char* rule : {"existing", "overwrite", "onto itself", "in place"})
            QTest::addRow("%s %s", suffix, rule) << QString(suffix) << QString(rule);
    }
}

void TestHost::outputRules()
{
    QFETCH(QString, suffix);
    QFETCH(QString, rule);
    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QString source = work.filePath("source." + suffix);
    QVERIFY(makeSource(source));
    const QByteArray sourceBytes = readAll(source);
    const QString output = work.filePath("output." + suffix);
    QVERIFY(writeAll(output, "user's file"));

    if (rule == "existing") {
        const Outcome outcome = host({source, output});
        QCOMPARE(outcome.exitCode, 0); // skipped is not a failure
        QVERIFY2(outcome.out.startsWith("skipped: the output exists (use --overwrite)"),
                 qPrintable(outcome.out));
        QCOMPARE(readAll(output), QByteArray("user's file"));
    } else if (rule == "overwrite") {
        QCOMPARE(host({source, output, "--overwrite"}).exitCode, 0);
        QCOMPARE(frameSize(output), frameSize(source));
    } else if (rule == "onto itself") {
        const Outcome outcome = host({source, "-o", work.path(), "--overwrite"});
        QCOMPARE(outcome.exitCode, 0);
        QVERIFY2(outcome.out.contains("skipped: the output is the source (use --in-place)"),
                 qPrintable(outcome.out));
        QCOMPARE(readAll(source), sourceBytes);
    } else {
        const QString sourceSize = frameSize(source);
        const Outcome outcome = host({source, source, "--in-place"});
        QCOMPARE(outcome.exitCode, 0);
        const QByteArray result = readAll(source);
        QVERIFY(result != sourceBytes);
        QVERIFY(result.size() < sourceBytes.size());
        QCOMPARE(frameSize(source), sourceSize);
    }
    // No hidden or temporary names left beside the files.
    QCOMPARE(filesUnder(work.path()), (QStringList{"output." + suffix, "source." + suffix}));
}

void TestHost::inPlaceKeepsTheSourceOnFailure()
{
    QTemporaryDir work;
    QVERIFY(work.isValid());
    for (const char* name : {"broken.jpg", "broken.png", "broken.webp", "broken.mp4"})
        QVERIFY(writeAll(work.filePath(name), "not media at all"));

    const Outcome outcome = host({"--in-place", work.path(), "-o", work.path()});
    QCOMPARE(outcome.exitCode, 1);
    QVERIFY2(QRegularExpression("failed +4\n").match(outcome.out).hasMatch(), qPrintable(outcome.out));
    QCOMPARE(filesUnder(work.path()), (QStringList{"broken.jpg", "broken.mp4", "broken.png", "broken.webp"}));
    for (const char* name : {"broken.jpg", "broken.png", "broken.webp", "broken.mp4"})
        QCOMPARE(readAll(work.filePath(name)), QByteArray("not media at all"));
}

void TestHost::exitStatus_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("no arguments") << QStringList{} << 2;
    QTest::newRow("one argument") << QStringList{"a.png"} << 2;
    QTest::newRow("unknown option") << QStringList{"--frobnicate", "a.png", "b.jpg"} << 2;
    QTest::newRow("missing input") << QStringList{"/nonexistent/a.png", "b.jpg"} << 2;
    QTest::newRow("missing input with -o") << QStringList{"/nonexistent/a.png", "-o", "out"} << 2;
    QTest::newRow("three without -o") << QStringList{"a.png", "b.png", "c.jpg"} << 2;
    QTest::newRow("--to without -o") << QStringList{"a.png", "b.jpg", "--to", "png"} << 2;
    QTest::newRow("-r without -o") << QStringList{"-r", ".", "out"} << 2;
    QTest::newRow("folder without -o") << QStringList{".", "b.jpg"} << 2;
    QTest::newRow("unknown --to") << QStringList{".", "-o", "out", "--to", "gif"} << 2;
    QTest::newRow("-j 0") << QStringList{".", "-o", "out", "-j", "0"} << 2;
    QTest::newRow("-j text") << QStringList{".", "-o", "out", "-j", "many"} << 2;
    QTest::newRow("--target-size unit") << QStringList{"a.png", "b.jpg", "--target-size", "5x"} << 2;
    QTest::newRow("--target-size 0") << QStringList{"a.png", "b.jpg", "--target-size", "0"} << 2;
    QTest::newRow("--target-size bytes fraction")
        << QStringList{"a.png", "b.jpg", "--target-size", "1.5"} << 2;
    QTest::newRow("help") << QStringList{"--help"} << 0;
}

void TestHost::exitStatus()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QCOMPARE(host(arguments).exitCode, exitCode);
}

void TestHost::dryRunTouchesNothing()
{
    QTemporaryDir work;
    QVERIFY(work.isValid());
    QVERIFY(QDir().mkpath(work.filePath("in")) && QDir().mkpath(work.filePath("out")));
    QVERIFY(makeImage(work.filePath("in/a.png")));
    QVERIFY(makeImage(work.filePath("in/b.jpg")));
    QVERIFY(writeAll(work.filePath("out/b.webp"), "the user's own file"));
    const auto tree = [&] {
        QStringList entries;
        QDirIterator it(work.path(), QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            entries << it.next() + ":" + QString::number(QFileInfo(it.filePath()).size());
        entries.sort();
        return entries;
    };
    const QStringList before = tree();

    const Outcome outcome = host({"--dry-run", work.filePath("in"), "-o", work.filePath("out"), "--to",
                                  "webp", "--target-size", "1.5k", "--max-size", "x100", "--strip", "all"});
    QCOMPARE(outcome.exitCode, 0);
    QCOMPARE(tree(), before);
    QVERIFY2(
        outcome.out.contains(QRegularExpression("a\\.png -> .*/out/a\\.webp: WebP .*quality 75, target size "
                                                "1500 bytes, max size x100, strip all")),
        qPrintable(outcome.out));
    QVERIFY2(outcome.out.contains("b.webp: would be skipped: the output exists"), qPrintable(outcome.out));
}

// located.jpg: orientation 6, ICC profile, GPS; clip.mp4: 320x240 with a location tag; kodim.png: 768x512.
void TestHost::resizesAndStrips_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QStringList>("resized"); // the "resized" key of located.jpg, clip.mp4, kodim.png
    QTest::addColumn<bool>("located");        // the outputs still hold the place of recording
    QTest::newRow("box and gps") << QStringList{"--max-size", "300x", "--strip", "gps"}
                                 << QStringList{"300x225", "300x226", "300x200"} << false;
    QTest::newRow("box that fits") << QStringList{"--max-size", "x2000"} << QStringList{"", "", ""} << true;
}

void TestHost::resizesAndStrips()
{
    QFETCH(QStringList, options);
    QFETCH(QStringList, resized);
    QFETCH(bool, located);
    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QDir in(work.filePath("in"));
    QVERIFY(in.mkpath("."));
    QVERIFY(photoWithLocation(in.filePath("located.jpg")));
    QVERIFY(run(ffmpeg(), {"-v", "error", "-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25:duration=1",
                           "-c:v", "libx264", "-preset", "ultrafast", "-crf", "10", "-metadata",
                           "location=+48.8577+002.2950/", in.filePath("clip.mp4")}));
    QVERIFY(QFile::copy(photo("kodim03.png"), in.filePath("kodim.png")));

    const Outcome outcome = host(QStringList{"--json", in.path(), "-o", work.filePath("out")} + options);
    QCOMPARE(outcome.exitCode, 0);
    bool allParsed = false;
    QMap<QString, QJsonObject> files;
    for (const QJsonObject& object : jsonLines(outcome.out, &allParsed))
        files.insert(QFileInfo(object.value("input").toString()).fileName(), object);
    QVERIFY2(allParsed, qPrintable(outcome.out));
    const QStringList names{"located.jpg", "clip.mp4", "kodim.png"};
    for (int i = 0; i < names.size(); ++i) {
        const QJsonObject file = files.value(names.at(i));
        QCOMPARE(file.value("result").toString(), QString("succeeded"));
        QCOMPARE(file.value("resized").toString(), resized.at(i));
        if (!resized.at(i).isEmpty())
            QCOMPARE(frameSize(work.filePath("out/" + names.at(i))), resized.at(i));
    }
    const QVariantMap photoTags = metadataTags(work.filePath("out/located.jpg"));
    QCOMPARE(photoTags.contains("GPS:GPSLatitude"), located);
    QVERIFY(photoTags.contains("ICC_Profile:ProfileDescription"));
    QByteArray videoTags;
    QVERIFY(run(ffprobe(), {"-v", "error", "-show_entries", "format_tags", work.filePath("out/clip.mp4")},
                &videoTags));
    QCOMPARE(videoTags.contains("location"), located);

    // A malformed size or policy is refused with a clear line before anything runs.
    for (const QStringList& bad :
         {QStringList{"--max-size", "300"}, QStringList{"--max-size", "x"}, QStringList{"--max-size", "0x0"},
          QStringList{"--max-size", "-300x"}, QStringList{"--strip", "exif"}}) {
        const Outcome refused = host(QStringList{in.filePath("kodim.png"), work.filePath("bad.png")} + bad);
        QCOMPARE(refused.exitCode, 2);
        QVERIFY2(refused.err.startsWith("nerova-compress: " + bad.first() + " expects"),
                 qPrintable(refused.err));
        QVERIFY(!QFile::exists(work.filePath("bad.png")));
    }
}

void TestHost::targetSize_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<bool>("met");
    QTest::newRow("fits") << "30k" << qint64(30000) << true;
    QTest::newRow("out of reach") << "2000" << qint64(2000) << false;
}

void TestHost::targetSize()
{
    QFETCH(QString, target);
    QFETCH(qint64, bytes);
    QFETCH(bool, met);
    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QString source = MediaFixtures::photo("DSCN0010.jpg");
    const QString output = work.filePath("out.jpg");

    const Outcome text = host({source, output, "--target-size", target});
    QCOMPARE(text.exitCode, met ? 0 : 1);
    const qint64 size = QFileInfo(output).size();
    QVERIFY(size > 0); // delivered either way
    QCOMPARE(size <= bytes, met);
    QCOMPARE(
        text.out.contains(QStringLiteral("over the target size: %1 bytes > %2 bytes").arg(size).arg(bytes)),
        !met);

    const Outcome json = host({"--json", "--overwrite", source, output, "--target-size", target});
    QCOMPARE(json.exitCode, met ? 0 : 1);
    const QJsonObject file = QJsonDocument::fromJson(json.out.split('\n').first().toUtf8()).object();
    QCOMPARE(file.value("targetMet").toBool(!met), met);
    QVERIFY(file.value("targetQuality").toInt() >= 5);
}

QTEST_GUILESS_MAIN(TestHost)
#include "tst_host.moc"
