// nerova-compress as a user runs it: exit statuses, interrupts, the overwrite and in-place rules, dry
// runs, the JSON lines and the text summary, with a real run of every kind of file.

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

struct Outcome
{
    int exitCode = -1;
    QString out;
    QString err;
};

Outcome host(const QStringList& arguments)
{
    const ProgramRun ran = runProgram(QStringLiteral(HOST_PROGRAM), arguments);
    return {ran.exitCode, QString::fromUtf8(ran.out), QString::fromUtf8(ran.err)};
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

// The JSON lines of a run keyed by their input's file name, the summary under ""; allParsed tells
// whether standard output held nothing but JSON objects.
QMap<QString, QJsonObject> jsonLines(const QString& text, bool* allParsed)
{
    QMap<QString, QJsonObject> objects;
    *allParsed = true;
    for (const QString& line : text.split('\n', Qt::SkipEmptyParts)) {
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(line.toUtf8(), &error);
        *allParsed = *allParsed && error.error == QJsonParseError::NoError && document.isObject();
        objects.insert(QFileInfo(document.object().value("input").toString()).fileName(), document.object());
    }
    return objects;
}

qint64 number(const QJsonObject& object, const char* key)
{
    return object.value(key).toVariant().toLongLong();
}

} // namespace

class TestHost : public QObject
{
    Q_OBJECT

private slots:
    void exitStatus_data();
    void exitStatus();
    void compressesAFolder();
    void outputRules_data();
    void outputRules();
    void interruptLeavesNothingBehind_data();
    void interruptLeavesNothingBehind();
    void targetOutOfReach();
};

void TestHost::exitStatus_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("errorStart"); // how standard error begins, when it matters
    QTest::newRow("help") << QStringList{"--help"} << 0 << QString();
    QTest::newRow("no arguments") << QStringList{} << 2 << QString();
    QTest::newRow("unknown option") << QStringList{"--frobnicate", "a.png", "b.jpg"} << 2 << QString();
    QTest::newRow("three without -o") << QStringList{"a.png", "b.png", "c.jpg"} << 2 << QString();
    QTest::newRow("-j 0") << QStringList{".", "-o", "out", "-j", "0"} << 2 << QString();
    QTest::newRow("--target-size unit") << QStringList{"a.png", "b.jpg", "--target-size", "5x"} << 2
                                        << "nerova-compress: --target-size expects";
    QTest::newRow("--max-size 300") << QStringList{"a.png", "b.png", "--max-size", "300"} << 2
                                    << "nerova-compress: --max-size expects";
    QTest::newRow("--max-size 0x0") << QStringList{"a.png", "b.png", "--max-size", "0x0"} << 2
                                    << "nerova-compress: --max-size expects";
    QTest::newRow("--strip exif") << QStringList{"a.png", "b.png", "--strip", "exif"} << 2
                                  << "nerova-compress: --strip expects";
    // Refused once the inputs are looked at, still before any file is touched.
    QTest::newRow("missing input") << QStringList{"/nonexistent/a.png", "b.jpg"} << 2
                                   << "nerova-compress: No such file or folder";
    QTest::newRow("folder without -o") << QStringList{".", "b.jpg"} << 2 << "nerova-compress: Not a file";
    QTest::newRow("unknown --to") << QStringList{".", "-o", "out", "--to", "gif"} << 2
                                  << "nerova-compress: Unknown format for --to";
}

void TestHost::exitStatus()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, errorStart);
    QTemporaryDir work;
    QVERIFY(work.isValid());
    QVERIFY(QDir::setCurrent(work.path()));
    const Outcome outcome = host(arguments);
    QCOMPARE(outcome.exitCode, exitCode);
    QVERIFY2(outcome.err.startsWith(errorStart), qPrintable(outcome.err));
    QCOMPARE(filesUnder(work.path()), QStringList());
}

// One folder tree of every kind: the plan of a dry run, each file's JSON line and the summary, the size
// box and the stripping reaching every kind, the same bytes with more jobs, the text summary, and results
// never taken as inputs when the output folder is inside the input folder.
void TestHost::compressesAFolder()
{
    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QDir in(work.filePath("in"));
    QVERIFY(in.mkpath("x/y") && in.mkpath("out"));
    for (const char* name : {"a.jpg", "a.png", "b.webp", "x/c.png", ".hidden.png"})
        QVERIFY(makeCompressible(in.filePath(name)));
    QVERIFY(
        makeVideo(in.filePath("x/y/clip.mp4"), "160x120", 1, {"-metadata", "location=+48.8577+002.2950/"}));
    QVERIFY(writeAll(in.filePath("broken.jpg"), "not an image"));
    QVERIFY(writeAll(in.filePath("x/notes.txt"), "not media"));
    QVERIFY(writeAll(in.filePath("out/b.webp"), "user's file"));
    const QStringList request{in.path(),    "-o",   in.filePath("out"), "--to", "webp",
                              "--max-size", "100x", "--strip",          "gps"};
    const QStringList before = filesUnder(work.path());

    Outcome outcome = host(QStringList{"--dry-run", "--target-size", "1.5k"} + request);
    QCOMPARE(outcome.exitCode, 0);
    QCOMPARE(filesUnder(work.path()), before);
    QCOMPARE(readAll(in.filePath("out/b.webp")), QByteArray("user's file"));
    QVERIFY2(
        outcome.out.contains(QRegularExpression("a\\.jpg -> .*/out/a\\.webp: WebP .*quality 75, target size "
                                                "1500 bytes, max size 100x, strip gps")),
        qPrintable(outcome.out));
    QVERIFY2(outcome.out.contains("b.webp: would be skipped: the output exists"), qPrintable(outcome.out));
    QVERIFY2(outcome.err.contains("sub-folder(s) left out (use -r)"), qPrintable(outcome.err));

    outcome = host(QStringList{"--json", "-r", "-j", "1"} + request);
    QCOMPARE(outcome.exitCode, 1); // a file failed
    QVERIFY2(outcome.err.contains("1 file(s) that are neither images nor videos left out (.txt)"),
             qPrintable(outcome.err));
    bool allParsed = false;
    const QMap<QString, QJsonObject> lines = jsonLines(outcome.out, &allParsed);
    QVERIFY2(allParsed, qPrintable(outcome.out));
    QCOMPARE(lines.keys(), (QStringList{"", "a.jpg", "a.png", "b.webp", "broken.jpg", "c.png", "clip.mp4"}));
    qint64 bytesOut = 0;
    for (const char* name : {"a.jpg", "c.png", "clip.mp4"}) {
        const QJsonObject file = lines.value(name);
        QCOMPARE(file.value("result").toString(), QString("succeeded"));
        QCOMPARE(file.value("code").toInt(-1), 0);
        const QString output = file.value("output").toString();
        QCOMPARE(number(file, "bytesOut"), QFileInfo(output).size());
        QVERIFY(number(file, "bytesOut") < number(file, "bytesIn"));
        QVERIFY(file.value("seconds").toDouble() > 0.0);
        QCOMPARE(frameSize(output), file.value("resized").toString());
        bytesOut += number(file, "bytesOut");
    }
    QVERIFY(readAll(in.filePath("out/a.webp")).startsWith("RIFF"));
    QCOMPARE(frameSize(in.filePath("out/a.webp")), QString("100x75"));
    QByteArray videoTags;
    QVERIFY(run(ffprobe(), {"-v", "error", "-show_entries", "format_tags", in.filePath("out/x/y/clip.mp4")},
                &videoTags));
    QVERIFY2(!videoTags.contains("location"), videoTags.constData());
    QCOMPARE(lines.value("b.webp").value("result").toString(), QString("skipped"));
    QVERIFY(lines.value("b.webp").value("code").isNull());
    QCOMPARE(readAll(in.filePath("out/b.webp")), QByteArray("user's file"));
    // Two inputs that would both become a.webp: the first in order writes it, the other fails.
    QCOMPARE(lines.value("a.png").value("result").toString(), QString("failed"));
    QVERIFY(lines.value("a.png").value("text").toString().contains("another input has the same output"));
    const QJsonObject broken = lines.value("broken.jpg");
    QCOMPARE(broken.value("result").toString(), QString("failed"));
    QCOMPARE(broken.value("code").toInt(), 1);
    QCOMPARE(broken.value("text").toString(), QString("fail"));
    const QJsonObject summary = lines.value("");
    QCOMPARE(summary.value("type").toString(), QString("summary"));
    QCOMPARE(summary.value("files").toInt(), 6);
    QCOMPARE(summary.value("succeeded").toInt(), 3);
    QCOMPARE(summary.value("failed").toInt(), 2);
    QCOMPARE(summary.value("skipped").toInt(), 1);
    QCOMPARE(number(summary, "bytesOut"), bytesOut);
    QCOMPARE(summary.value("interrupted").toBool(true), false);
    QCOMPARE(summary.value("exitStatus").toInt(), 1);
    const QStringList results{"a.webp", "b.webp", "x/c.webp", "x/y/clip.mp4"};
    QCOMPARE(filesUnder(in.filePath("out")), results);

    QMap<QString, QByteArray> firstBytes;
    for (const char* name : {"a.webp", "x/c.webp", "x/y/clip.mp4"})
        firstBytes.insert(name, readAll(in.filePath(QString("out/") + name)));
    outcome = host(QStringList{"-r", "-j", "4", "--overwrite"} + request);
    QCOMPARE(outcome.exitCode, 1);
    QVERIFY2(QRegularExpression("files +6\n +succeeded +4\n +failed +2\n").match(outcome.out).hasMatch(),
             qPrintable(outcome.out));
    // ffmpeg's own reason follows the finish text.
    QVERIFY2(outcome.out.contains(in.filePath("broken.jpg") + ": finish code 1 \"fail\" ("),
             qPrintable(outcome.out));
    QVERIFY2(outcome.out.contains(QRegularExpression("a\\.jpg: finish code 0 .*, resized to 100x75\n")),
             qPrintable(outcome.out));
    QVERIFY(outcome.out.contains(QRegularExpression("wall time +\\d+:\\d\\d:\\d\\d")));
    QCOMPARE(filesUnder(in.filePath("out")), results);
    for (auto it = firstBytes.cbegin(); it != firstBytes.cend(); ++it)
        QVERIFY2(readAll(in.filePath("out/" + it.key())) == it.value(), qPrintable(it.key()));
}

void TestHost::outputRules_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QString>("rule");
    QTest::addColumn<QString>("skipText"); // empty: the file is compressed
    QTest::newRow("existing") << "png"
                              << "existing"
                              << "the output exists (use --overwrite)";
    QTest::newRow("overwrite") << "png"
                               << "overwrite" << QString();
    QTest::newRow("onto itself") << "png"
                                 << "onto itself"
                                 << "the output is the source (use --in-place)";
    // The tools that cannot write onto their input go through a working file.
    for (const char* suffix : {"jpg", "png", "webp", "mp4"})
        QTest::addRow("in place %s", suffix) << suffix << "in place" << QString();
}

void TestHost::outputRules()
{
    QFETCH(QString, suffix);
    QFETCH(QString, rule);
    QFETCH(QString, skipText);
    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QString source = work.filePath("source." + suffix);
    QVERIFY(makeCompressible(source));
    const QByteArray sourceBytes = readAll(source);
    const QString sourceSize = frameSize(source);
    const QDateTime past(QDate(2001, 2, 3), QTime(4, 5, 6), Qt::UTC);
    QFile file(source);
    QVERIFY(file.open(QIODevice::ReadWrite) && file.setFileTime(past, QFileDevice::FileModificationTime));
    file.close();
    const QString output = work.filePath("output." + suffix);
    QVERIFY(writeAll(output, "user's file"));

    const QStringList arguments = rule == "existing"    ? QStringList{source, output}
                                  : rule == "overwrite" ? QStringList{source, output, "--overwrite"}
                                  : rule == "onto itself"
                                      ? QStringList{source, "-o", work.path(), "--overwrite"}
                                      : QStringList{source, source, "--in-place", "--keep-dates"};
    const Outcome outcome = host(QStringList{"--json"} + arguments);
    QCOMPARE(outcome.exitCode, 0); // skipped is not a failure
    bool allParsed = false;
    const QJsonObject line = jsonLines(outcome.out, &allParsed).value("source." + suffix);
    QVERIFY2(allParsed, qPrintable(outcome.out));
    QCOMPARE(line.value("result").toString(), QString(skipText.isEmpty() ? "succeeded" : "skipped"));
    QCOMPARE(line.value("text").toString().startsWith(skipText), true);
    QCOMPARE(readAll(output) == "user's file", rule != "overwrite");
    if (rule == "overwrite")
        QCOMPARE(frameSize(output), sourceSize);
    if (rule == "in place") {
        QVERIFY(readAll(source).size() < sourceBytes.size());
        QCOMPARE(frameSize(source), sourceSize);
        QCOMPARE(QFileInfo(source).lastModified().toUTC(), past);
    } else {
        QCOMPARE(readAll(source), sourceBytes);
    }
    // No hidden or temporary names left beside the files.
    QCOMPARE(filesUnder(work.path()), (QStringList{"output." + suffix, "source." + suffix}));
}

void TestHost::interruptLeavesNothingBehind_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("SIGTERM") << int(SIGTERM);
}

// The running job is aborted, the queued ones never start, nothing is left and the status is 130.
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
    QVERIFY(makeCompressible(in.filePath("b.png")));
    QVERIFY(makeCompressible(in.filePath("c.jpg")));

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
    const auto lines = jsonLines(QString::fromUtf8(process.readAllStandardOutput()), &allParsed);
    QVERIFY(allParsed);
    QCOMPARE(lines.keys(), (QStringList{"", "a-clip.mp4"}));
    QCOMPARE(lines.value("a-clip.mp4").value("result").toString(), QString("aborted"));
    QCOMPARE(lines.value("").value("interrupted").toBool(), true);
    QCOMPARE(lines.value("").value("notStarted").toInt(), 2);
    QCOMPARE(lines.value("").value("exitStatus").toInt(), 130);
    QCOMPARE(filesUnder(work.filePath("out")), QStringList());
    QCOMPARE(temp.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
}

// A target out of reach still delivers the smallest result, but the run counts as failed.
void TestHost::targetOutOfReach()
{
    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QString output = work.filePath("out.jpg");
    const Outcome outcome = host({"--json", photo("DSCN0010.jpg"), output, "--target-size", "2000"});
    QCOMPARE(outcome.exitCode, 1);
    QVERIFY(QFileInfo(output).size() > 2000);
    bool allParsed = false;
    const QMap<QString, QJsonObject> lines = jsonLines(outcome.out, &allParsed);
    QCOMPARE(lines.value("DSCN0010.jpg").value("targetMet").toBool(true), false);
    QCOMPARE(lines.value("").value("overTarget").toInt(), 1);
}

QTEST_GUILESS_MAIN(TestHost)
#include "tst_host.moc"
