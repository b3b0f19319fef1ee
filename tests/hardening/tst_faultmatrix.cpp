// Hostile inputs and faults run through the real nerova-compress and the plug-in. Every row must end
// with a clear finish code within its time bound, leave no temporary files, keep the source's bytes and
// keep every user file unless a finished result replaced it.

#include "MediaFixtures.h"
#include "TaskRun.h"

#include <compressor/ICompressor.h>

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <csignal>
#include <functional>
#include <memory>
#include <vector>

#include <unistd.h>

using namespace MediaFixtures;

namespace {

// No row may take longer; a longer one counts as a hang.
constexpr int kRowTimeoutMs = 45000;
// Far beyond what any encoder here accepts, small to describe: only headers claim it.
constexpr quint32 kHugeSide = 30000;
const QString kCorruptText = QStringLiteral("The file is corrupt or not a standard file format");

bool makeVideo(const QString& path, const QString& size = QStringLiteral("160x120"), int seconds = 1)
{
    return run(ffmpeg(),
               {"-v", "error", "-y", "-f", "lavfi", "-i",
                QStringLiteral("testsrc2=size=%1:rate=25:duration=%2").arg(size).arg(seconds), "-pix_fmt",
                "yuv420p", "-c:v", "libx264", "-preset", "ultrafast", "-crf", "10", path});
}

// A small file of the kind its suffix names that compressing makes smaller.
bool makeSource(const QString& path, const QString& pattern = QStringLiteral("mandelbrot=size=160x120"))
{
    const QString suffix = QFileInfo(path).suffix();
    if (suffix == QLatin1String("mp4"))
        return makeVideo(path);
    if (suffix == QLatin1String("jpg"))
        return makeImage(path, pattern, {"-q:v", "1"});
    if (suffix == QLatin1String("webp"))
        return makeImage(path, pattern, {"-lossless", "1"});
    return makeImage(path, pattern);
}

// Every file under dir relative to it, hidden ones included, links not followed into.
QStringList filesUnder(const QString& dir)
{
    QStringList files;
    QDirIterator it(dir, QDir::Files | QDir::Hidden | QDir::System);
    while (it.hasNext())
        files << QDir(dir).relativeFilePath(it.next());
    QDirIterator folders(dir, QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot | QDir::NoSymLinks);
    while (folders.hasNext()) {
        const QString folder = folders.next();
        if (!QFileInfo(folder).isReadable())
            continue;
        for (const QString& file : filesUnder(folder))
            files << QDir(dir).relativeFilePath(folder + QLatin1Char('/') + file);
    }
    files.sort();
    return files;
}

QStringList entriesOf(const QString& dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

// Children of a process whose program name is `name`, read from /proc.
QList<pid_t> childProcesses(qint64 parent, const QByteArray& name)
{
    QList<pid_t> children;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool isPid = false;
        const pid_t pid = pid_t(entry.toInt(&isPid));
        if (!isPid)
            continue;
        const QByteArray stat = readAll(QStringLiteral("/proc/%1/stat").arg(pid));
        // "pid (comm) state ppid ...": the name may hold blanks, so split after its closing bracket.
        const int open = stat.indexOf('('), close = stat.lastIndexOf(')');
        if (open < 0 || close < open)
            continue;
        const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
        if (fields.size() > 1 && fields.at(1).toLongLong() == parent &&
            stat.mid(open + 1, close - open - 1) == name)
            children << pid;
    }
    return children;
}

// Runs a program (never through a shell); true when it exited with code 0.
bool succeeds(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(20000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

// Whether writing into dir works for this user, which is always so for root whatever the mode says.
bool canWriteInto(const QString& dir)
{
    QFile probe(dir + QStringLiteral("/.write-probe"));
    if (!probe.open(QIODevice::WriteOnly))
        return false;
    probe.close();
    probe.remove();
    return true;
}

// Undoes what a row did to the machine (a mount, a permission) however the row ends.
class Cleanup
{
public:
    ~Cleanup()
    {
        for (auto it = mActions.rbegin(); it != mActions.rend(); ++it)
            (*it)();
    }
    void add(std::function<void()> action) { mActions.push_back(std::move(action)); }

private:
    std::vector<std::function<void()>> mActions;
};

// One row of the host matrix, as its setup leaves it.
struct Scenario
{
    QStringList arguments;
    QString program = QStringLiteral(HOST_PROGRAM);
    QMap<QString, QString> environment;
    QStringList guarded; // files whose bytes must not change: sources and the user's own files
    std::function<void(qint64 pid)> whileRunning;
    QString skip;
};

// What nerova-compress did in one row.
struct HostRun
{
    bool finished = false;
    bool crashed = false;
    int exitCode = -1;
    bool jsonOnly = true;
    QList<QJsonObject> files;
    QJsonObject summary;
    QString err;
};

HostRun runHost(const Scenario& scenario, const QString& tempDir)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TMPDIR"), tempDir);
    for (auto it = scenario.environment.begin(); it != scenario.environment.end(); ++it)
        environment.insert(it.key(), it.value());
    process.setProcessEnvironment(environment);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(scenario.program, QStringList{"--json"} + scenario.arguments);
    HostRun result;
    if (!process.waitForStarted())
        return result;
    if (scenario.whileRunning)
        scenario.whileRunning(process.processId());
    if (!process.waitForFinished(kRowTimeoutMs)) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.finished = true;
    result.crashed = process.exitStatus() != QProcess::NormalExit;
    result.exitCode = process.exitCode();
    result.err = QString::fromUtf8(process.readAllStandardError());
    const QList<QByteArray> lines = process.readAllStandardOutput().split('\n');
    for (const QByteArray& line : lines) {
        if (line.isEmpty())
            continue;
        QJsonParseError error{};
        const QJsonObject object = QJsonDocument::fromJson(line, &error).object();
        if (error.error != QJsonParseError::NoError) {
            result.jsonOnly = false;
            continue;
        }
        if (object.value(QStringLiteral("type")).toString() == QLatin1String("summary"))
            result.summary = object;
        else
            result.files << object;
    }
    return result;
}

} // namespace

// Drives the matrix of bad inputs and faults.
class TestFaultMatrix : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void host_data();
    void host();
    void ontoSourceInLibrary_data();
    void ontoSourceInLibrary();

private:
    Scenario setUp(const QString& row, const QDir& work);
    QByteArray mJpeg; // a small real JPEG the huge-header rows are made from
    QTemporaryDir mLibraryTemp;
};

void TestFaultMatrix::initTestCase()
{
    QVERIFY2(!ffmpeg().isEmpty() && !ffprobe().isEmpty(), "the matrix needs ffmpeg and ffprobe");
    QVERIFY(mLibraryTemp.isValid());
    QTemporaryDir dir;
    QVERIFY(makeImage(dir.filePath("seed.jpg"), "testsrc2=size=64x48", {"-pix_fmt", "yuvj420p"}));
    mJpeg = readAll(dir.filePath("seed.jpg"));
    QVERIFY(!mJpeg.isEmpty());
}

void TestFaultMatrix::host_data()
{
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("result"); // of every file the host reports
    QTest::addColumn<QVariant>("code");  // invalid: no task ran, the code is null
    QTest::addColumn<QString>("text");   // exact, or how it begins when no task ran

    const QVariant none;
    const QString noStart = QStringLiteral("the task could not start");
    QTest::newRow("empty jpg") << 1 << "failed" << QVariant(1) << kCorruptText;
    QTest::newRow("empty png") << 1 << "failed" << QVariant(1) << kCorruptText;
    QTest::newRow("empty webp") << 1 << "failed" << QVariant(1) << "fail";
    QTest::newRow("empty mp4") << 1 << "failed" << QVariant(1) << " Check the parameters please ";
    QTest::newRow("directory as input") << 2 << QString() << none << QString();
    QTest::newRow("directory named jpg with -o") << 0 << QString() << none << QString();
    QTest::newRow("missing input") << 2 << QString() << none << QString();
    QTest::newRow("unreadable input") << 1 << "failed" << QVariant(1) << kCorruptText;
    QTest::newRow("text named jpg") << 1 << "failed" << QVariant(1) << kCorruptText;
    QTest::newRow("text named png") << 1 << "failed" << QVariant(1) << kCorruptText;
    QTest::newRow("text named mp4") << 1 << "failed" << QVariant(1) << " Check the parameters please ";
    QTest::newRow("text named vob") << 1 << "failed" << QVariant(1) << " Check the parameters please ";
    QTest::newRow("truncated jpg") << 1 << "failed" << QVariant(1) << kCorruptText;
    QTest::newRow("truncated png") << 1 << "failed" << QVariant(1) << kCorruptText;
    QTest::newRow("truncated mp4") << 1 << "failed" << QVariant(1) << " Check the parameters please ";
    QTest::newRow("30000x30000 png to jpg") << 1 << "failed" << QVariant(1) << kCorruptText;
    QTest::newRow("30000x30000 jpg") << 1 << "failed" << QVariant(1) << kCorruptText;
    // cImage refuses it from the header, before pngquant would try.
    QTest::newRow("30000x30000 png") << 1 << "failed" << QVariant(1) << kCorruptText;
    QTest::newRow("30000x30000 png to webp") << 1 << "failed" << QVariant(1) << "fail";
    QTest::newRow("output folder missing") << 0 << "succeeded" << QVariant(0) << QString();
    QTest::newRow("output folder read-only") << 1 << "failed" << QVariant(2) << QString();
    for (const char* suffix : {"jpg", "png", "webp", "mp4"}) {
        QTest::addRow("output is input %s", suffix)
            << 0 << "skipped" << none << "the output is the source (use --in-place)";
    }
    QTest::newRow("in place, tool refuses, jpg") << 1 << "failed" << QVariant(1) << kCorruptText;
    QTest::newRow("in place, tool refuses, png") << 1 << "failed" << QVariant(1) << kCorruptText;
    QTest::newRow("in place, tool refuses, webp") << 1 << "failed" << QVariant(1) << "fail";
    QTest::newRow("in place, tool refuses, mp4")
        << 1 << "failed" << QVariant(1) << " Check the parameters please ";
    QTest::newRow("name with blanks") << 0 << "succeeded" << QVariant(0) << QString();
    QTest::newRow("name with quotes") << 0 << "succeeded" << QVariant(0) << QString();
    QTest::newRow("name with newline") << 0 << "succeeded" << QVariant(0) << QString();
    QTest::newRow("name with non-ASCII letters") << 0 << "succeeded" << QVariant(0) << QString();
    QTest::newRow("name with a leading dash") << 0 << "succeeded" << QVariant(0) << QString();
    QTest::newRow("quality injects options")
        << 1 << "failed" << QVariant(-1) << QStringLiteral("Invalid request value");
    QTest::newRow("preset injects options")
        << 1 << "failed" << QVariant(-1) << QStringLiteral("Invalid request value");
    QTest::newRow("tool killed jpg") << 1 << "failed" << QVariant(-4) << QStringLiteral("The tool crashed");
    // The video task maps ffmpeg's exit code alone; a killed ffmpeg reports the signal's number.
    QTest::newRow("tool killed mp4") << 1 << "failed" << QVariant(SIGKILL)
                                     << QStringLiteral("Unknown mistake");
    QTest::newRow("tool missing") << 1 << "failed" << none << noStart;
    QTest::newRow("tool not executable")
        << 1 << "failed" << QVariant(-2) << QStringLiteral("The tool could not be started");
    QTest::newRow("disk full jpg") << 1 << "failed" << QVariant(2) << QString();
    // ffmpeg exits 0 although the file could not be closed; the cut-off result is caught and dropped.
    QTest::newRow("disk full webp") << 1 << "failed" << QVariant(2) << "fail";
    QTest::newRow("disk full mp4") << 1 << "failed" << QVariant(1) << " Check the parameters please ";
}

Scenario TestFaultMatrix::setUp(const QString& row, const QDir& work)
{
    Scenario s;
    const QString in = work.filePath("in");
    const QString out = work.filePath("out");
    QDir().mkpath(in);
    auto source = [&](const QString& name) {
        const QString path = in + QLatin1Char('/') + name;
        if (!makeSource(path))
            qWarning() << "cannot make" << path;
        s.guarded << path;
        return path;
    };
    auto text = [&](const QString& name) {
        const QString path = in + QLatin1Char('/') + name;
        writeAll(path, "this is plain text, not media\n");
        s.guarded << path;
        return path;
    };
    auto truncated = [&](const QString& name) {
        const QString path = in + QLatin1Char('/') + name;
        makeSource(path);
        const QByteArray bytes = readAll(path);
        writeAll(path, bytes.left(bytes.size() / 2));
        s.guarded << path;
        return path;
    };
    const QString suffix = row.section(QLatin1Char(' '), -1);

    if (row.startsWith("empty ")) {
        const QString path = in + "/empty." + suffix;
        writeAll(path, {});
        s.guarded << path;
        s.arguments = QStringList{path, out + "/empty." + suffix};
    } else if (row == "directory as input") {
        QDir().mkpath(in + "/folder.jpg");
        s.arguments = QStringList{in + "/folder.jpg", out + "/folder.jpg"};
    } else if (row == "directory named jpg with -o") {
        QDir().mkpath(in + "/folder.jpg");
        s.arguments = QStringList{in, "-o", out};
    } else if (row == "missing input") {
        s.arguments = QStringList{in + "/missing.jpg", out + "/missing.jpg"};
    } else if (row == "unreadable input") {
        const QString path = source("locked.jpg");
        QFile::setPermissions(path, {});
        QFile probe(path);
        if (probe.open(QIODevice::ReadOnly))
            s.skip = QStringLiteral("mode 000 does not stop this user from reading (running as root)");
        s.arguments = QStringList{path, out + "/locked.jpg"};
    } else if (row.startsWith("text named ")) {
        s.arguments = QStringList{text("notes." + suffix), out + "/notes." + suffix};
    } else if (row.startsWith("truncated ")) {
        s.arguments = QStringList{truncated("cut." + suffix), out + "/cut." + suffix};
    } else if (row.startsWith("30000x30000")) {
        const QString path = in + (row.contains("jpg") && !row.contains("png") ? "/huge.jpg" : "/huge.png");
        writeAll(path, path.endsWith("jpg") ? withJpegFrameSize(mJpeg, kHugeSide, kHugeSide)
                                            : hugePng(kHugeSide, kHugeSide));
        s.guarded << path;
        s.arguments =
            QStringList{path, out + "/huge." + (row.contains(" to ") ? suffix : QFileInfo(path).suffix())};
    } else if (row == "output folder missing") {
        s.arguments = QStringList{source("a.png"), out + "/not/yet/there/a.png"};
    } else if (row == "output folder read-only") {
        QDir().mkpath(out);
        const QString user = out + "/a.jpg";
        writeAll(user, "the user's own file");
        s.guarded << user;
        QFile::setPermissions(out, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup);
        if (canWriteInto(out))
            s.skip = QStringLiteral("a read-only folder is still writable for this user (running as root)");
        s.arguments = QStringList{source("a.jpg"), user, "--overwrite"};
    } else if (row.startsWith("output is input")) {
        const QString path = source("same." + suffix);
        s.arguments = QStringList{path, path, "--overwrite"};
    } else if (row.startsWith("in place, tool refuses")) {
        const QString kind = row.section(QLatin1Char(' '), -1);
        const QString path = text("broken." + kind);
        s.arguments = QStringList{"--in-place", path, path};
    } else if (row.startsWith("name with")) {
        const QString base = row == "name with blanks"           ? QStringLiteral("my  holiday photo")
                             : row == "name with quotes"         ? QStringLiteral("say \"cheese\" it's")
                             : row == "name with newline"        ? QStringLiteral("first\nsecond")
                             : row == "name with a leading dash" ? QStringLiteral("-outfile x")
                                                                 : QStringLiteral("Grüße ÆØÅ 日本 ελληνικά");
        for (const char* kind : {"jpg", "png", "webp", "mp4"})
            source(base + "." + kind);
        s.arguments = QStringList{in, "-o", out, "-j", "2", "--preset", "ultrafast"};
    } else if (row == "quality injects options") {
        s.arguments = QStringList{source("a.jpg"), out + "/a.jpg", "--quality",
                                  "75 -outfile " + work.filePath("injected.jpg")};
    } else if (row == "preset injects options") {
        s.arguments = QStringList{source("a.mp4"), out + "/a.mp4", "--preset",
                                  "ultrafast -y " + work.filePath("injected.mp4")};
    } else if (row.startsWith("tool killed")) {
        // Big or slow enough that the tool is still at work when it is found.
        const QString path = in + (suffix == "mp4" ? "/long.mp4" : "/large.png");
        if (suffix == "mp4")
            makeVideo(path, "640x360", 4);
        else
            makeImage(path, "testsrc2=size=4000x3000");
        s.guarded << path;
        QDir().mkpath(out);
        const QString user = out + "/long." + suffix;
        writeAll(user, "the user's earlier result");
        s.guarded << user;
        s.arguments = QStringList{path, user, "--overwrite", "--preset", "veryslow"};
        const QByteArray tool = suffix == "mp4" ? "ffmpeg" : "cJpeg";
        const int settleMs = suffix == "mp4" ? 300 : 0; // ffmpeg well into the encode
        s.whileRunning = [tool, settleMs](qint64 pid) {
            QElapsedTimer timer;
            timer.start();
            while (timer.elapsed() < 20000) {
                const QList<pid_t> tools = childProcesses(pid, tool);
                if (!tools.isEmpty()) {
                    QThread::msleep(settleMs);
                    ::kill(tools.first(), SIGKILL);
                    return;
                }
                QThread::usleep(500);
            }
        };
    } else if (row == "tool missing" || row == "tool not executable") {
        // A copy of the host in a folder of its own, where the tools it looks for beside itself are not.
        const QString bin = work.filePath("bin");
        QDir().mkpath(bin);
        s.program = bin + "/nerova-compress";
        QFile::copy(QStringLiteral(HOST_PROGRAM), s.program);
        s.environment.insert("NEROVA_PLUGIN", QStringLiteral(NEROVA_LIBRARY_FILE));
        // The copy finds its libraries relative to itself, which no longer holds.
        s.environment.insert("LD_LIBRARY_PATH",
                             QFileInfo(QStringLiteral(NEROVA_LIBRARY_FILE)).absolutePath());
        if (row == "tool not executable") {
            writeAll(bin + "/cJpeg", "#!/bin/sh\necho should never run\n");
            QFile::setPermissions(bin + "/cJpeg", QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
        }
        s.arguments = QStringList{source("a.jpg"), out + "/a.jpg"};
    } else if (row.startsWith("disk full")) {
        QDir().mkpath(out);
        // Room for the user's file and little more: the result cannot fit.
        if (!succeeds("mount", {"-t", "tmpfs", "-o", "size=24k,mode=0755", "tmpfs", out})) {
            s.skip = QStringLiteral("cannot mount a small tmpfs here (needs root and mount rights)");
            return s;
        }
        const QString user = out + "/big." + suffix;
        writeAll(user, "the user's earlier result");
        s.guarded << user;
        const QString path = in + "/big." + suffix;
        // Noise does not compress: the result needs far more room than there is.
        if (suffix == "mp4")
            run(ffmpeg(), {"-v", "error", "-y", "-f", "lavfi", "-i",
                           "testsrc2=size=320x240:rate=25:duration=1,noise=alls=60:allf=t+u", "-c:v",
                           "libx264", "-preset", "ultrafast", "-crf", "10", path});
        else
            makeImage(path, "color=size=800x600,noise=alls=100:allf=t+u",
                      suffix == "webp" ? QStringList{"-lossless", "1"} : QStringList{"-q:v", "1"});
        s.guarded << path;
        s.arguments = QStringList{path, user, "--overwrite", "--preset", "ultrafast"};
    }
    return s;
}

void TestFaultMatrix::host()
{
    QFETCH(int, exitCode);
    QFETCH(QString, result);
    QFETCH(QVariant, code);
    QFETCH(QString, text);
    const QString row = QString::fromLatin1(QTest::currentDataTag());

    QTemporaryDir workDir;
    QVERIFY(workDir.isValid());
    const QDir work(workDir.path());
    const QString temp = work.filePath("tmp");
    QVERIFY(work.mkpath("tmp"));

    Cleanup cleanup;
    cleanup.add([&work] {
        // Whatever a row locked or mounted must not outlive it.
        const QString out = work.filePath("out");
        if (QFileInfo(out).isDir())
            QFile::setPermissions(out, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        succeeds("umount", {out});
        for (const QString& file : filesUnder(work.path()))
            QFile::setPermissions(work.filePath(file), QFile::ReadOwner | QFile::WriteOwner);
    });
    const Scenario scenario = setUp(row, work);
    if (!scenario.skip.isEmpty())
        QSKIP(qPrintable(scenario.skip));

    QMap<QString, QByteArray> guardedBytes;
    for (const QString& path : scenario.guarded) {
        QVERIFY2(QFileInfo::exists(path), qPrintable(path));
        QFile file(path);
        // A file the row locked is read as root would, or compared by size when that is impossible.
        guardedBytes.insert(path, file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray());
    }
    const QStringList before = filesUnder(work.path());

    QElapsedTimer timer;
    timer.start();
    const HostRun run = runHost(scenario, temp);
    QVERIFY2(run.finished, qPrintable(QStringLiteral("no end within %1 ms").arg(kRowTimeoutMs)));
    QVERIFY2(!run.crashed, qPrintable(run.err));
    // In a sanitizer build the host reports what it found on standard error without always failing.
    QVERIFY2(!run.err.contains("runtime error:") && !run.err.contains("Sanitizer"), qPrintable(run.err));
    QVERIFY2(
        run.exitCode == exitCode,
        qPrintable(QStringLiteral("exit %1, expected %2: %3").arg(run.exitCode).arg(exitCode).arg(run.err)));
    QVERIFY2(run.jsonOnly, "standard output carries something besides JSON");

    QStringList delivered;
    if (exitCode == 2) {
        // Bad usage: refused before any file, with a reason on standard error.
        QVERIFY(run.files.isEmpty());
        QVERIFY(!run.err.trimmed().isEmpty());
    } else {
        QCOMPARE(run.summary.value("exitStatus").toInt(-1), exitCode);
        QCOMPARE(run.summary.value("files").toInt(-1), run.files.size());
        if (!result.isEmpty())
            QVERIFY2(!run.files.isEmpty(), qPrintable(run.err));
        for (const QJsonObject& file : run.files) {
            const QString where = file.value("input").toString();
            QVERIFY2(file.value("result").toString() == result,
                     qPrintable(where + ": " + QJsonDocument(file).toJson(QJsonDocument::Compact)));
            if (result == QLatin1String("succeeded")) {
                // Images report an empty text on success, WebP and video "successful".
                const QString suffix = QFileInfo(file.value("output").toString()).suffix();
                const bool plain = suffix == QLatin1String("jpg") || suffix == QLatin1String("png");
                QCOMPARE(file.value("code").toInt(-999), 0);
                QCOMPARE(file.value("text").toString(), plain ? QString() : QStringLiteral("successful"));
            } else if (code.isValid()) {
                QVERIFY2(file.value("code").toInt(-999) == code.toInt() &&
                             file.value("text").toString() == text,
                         qPrintable(where + ": " + QJsonDocument(file).toJson(QJsonDocument::Compact)));
            } else {
                QVERIFY(file.value("code").isNull());
                QVERIFY2(file.value("text").toString().startsWith(text),
                         qPrintable(file.value("text").toString()));
            }
            if (result == QLatin1String("succeeded")) {
                const QString output = file.value("output").toString();
                QVERIFY2(!frameSize(output).isEmpty(), qPrintable(output + " does not decode"));
                delivered << work.relativeFilePath(output);
            }
        }
    }

    // Nothing left in the temporary location: no working folder, no progress folder, no stray file.
    QCOMPARE(entriesOf(temp), QStringList());
    // Sources and the user's files keep their bytes unless a finished result replaced them.
    for (auto it = guardedBytes.begin(); it != guardedBytes.end(); ++it) {
        if (delivered.contains(work.relativeFilePath(it.key())))
            continue;
        QFile::setPermissions(it.key(), QFile::ReadOwner | QFile::WriteOwner);
        QVERIFY2(readAll(it.key()) == it.value(), qPrintable(it.key() + " changed"));
    }
    // No file appeared besides the results, and none disappeared.
    QStringList expected = before + delivered;
    expected.removeDuplicates();
    expected.sort();
    QCOMPARE(filesUnder(work.path()), expected);
    QVERIFY(!QFileInfo::exists(work.filePath("injected.jpg")) &&
            !QFileInfo::exists(work.filePath("injected.mp4")));
    qDebug("%s: %lld ms", qPrintable(row), timer.elapsed());
}

void TestFaultMatrix::ontoSourceInLibrary_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    // JPEG and PNG tasks work on a copy and rename a finished result over the output, so in place
    // is safe for them; ffmpeg would write onto its own input, so those tasks refuse to start.
    QTest::newRow("jpg") << "jpg" << true << 0 << QString();
    QTest::newRow("png") << "png" << true << 0 << QString();
    QTest::newRow("webp") << "webp" << true << -6 << QStringLiteral("The output is the source file");
    QTest::newRow("mp4") << "mp4" << true << -6 << QStringLiteral("The output is the source file");
    QTest::newRow("jpg refused") << "jpg" << false << 1 << kCorruptText;
    QTest::newRow("png refused") << "png" << false << 1 << kCorruptText;
    QTest::newRow("webp refused") << "webp" << false << -6 << QStringLiteral("The output is the source file");
    QTest::newRow("mp4 refused") << "mp4" << false << -6 << QStringLiteral("The output is the source file");
}

void TestFaultMatrix::ontoSourceInLibrary()
{
    QFETCH(QString, suffix);
    QFETCH(bool, valid);
    QFETCH(int, code);
    QFETCH(QString, text);
    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QString path = work.filePath("same." + suffix);
    if (valid)
        QVERIFY(makeSource(path));
    else
        QVERIFY(writeAll(path, "this is plain text, not media\n"));
    const QByteArray sourceBytes = readAll(path);
    const QString sourceSize = frameSize(path);

    // The task keeps its working folders here, where they can be counted.
    const QByteArray savedTemp = qgetenv("TMPDIR");
    qputenv("TMPDIR", QFile::encodeName(mLibraryTemp.path()));
    Cleanup restoreTemp;
    restoreTemp.add([savedTemp] {
        if (savedTemp.isNull())
            qunsetenv("TMPDIR");
        else
            qputenv("TMPDIR", savedTemp);
    });
    QSharedPointer<ICompressTask> task = CompressorEntry()->createCompressTask(
        {{"inputPath", path}, {"outputPath", path}, {"quality", "75"}, {"preset", "ultrafast"}});
    QVERIFY(task);
    const TaskResult result = runTask(*task, kRowTimeoutMs);
    QCOMPARE(result.finishCount, 1);
    QCOMPARE(result.code, code);
    QCOMPARE(result.text, text);
    task.reset();

    if (code == 0) {
        // Replaced by a finished result only: the same picture, never a damaged file.
        QCOMPARE(frameSize(path), sourceSize);
    } else {
        QCOMPARE(readAll(path), sourceBytes);
    }
    QCOMPARE(entriesOf(work.path()), QStringList{"same." + suffix});
    // Working folders are gone; the process-wide progress folder may stay, but empty.
    for (const QString& entry : entriesOf(mLibraryTemp.path())) {
        QVERIFY2(entry.startsWith("nerova-progress-"), qPrintable(entry));
        QCOMPARE(entriesOf(mLibraryTemp.filePath(entry)), QStringList());
    }
}

QTEST_GUILESS_MAIN(TestFaultMatrix)
#include "tst_faultmatrix.moc"
