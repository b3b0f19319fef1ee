// Damaged and odd inputs of every kind, and faults around the tools, through the real nerova-compress:
// each row ends in time with one clear finish code, leaves no temporary files and keeps the sources
// and the user's files unless a finished result replaced them.

#include "MediaFixtures.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <csignal>
#include <functional>

using namespace MediaFixtures;

namespace {

// No row may take longer; a longer one counts as a hang.
constexpr int kRowTimeoutMs = 45000;
// Far beyond what any encoder here accepts, small to describe: only headers claim it.
constexpr quint32 kHugeSide = 30000;
const QString kCorruptText = QStringLiteral("The file is corrupt or not a standard file format");
const QString kVideoText = QStringLiteral(" Check the parameters please ");

// Every file under dir relative to it, hidden ones included.
QStringList filesUnder(const QString& dir)
{
    QStringList files;
    QDirIterator it(dir, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(dir).relativeFilePath(it.next());
    files.sort();
    return files;
}

// One row of the matrix, as its setup leaves it.
struct Scenario
{
    QStringList arguments;
    QString program = QStringLiteral(HOST_PROGRAM);
    QMap<QString, QString> environment;
    QStringList guarded; // files whose bytes must not change: sources and the user's own files
    std::function<void(qint64 pid)> whileRunning;
    QString skip;
};

} // namespace

class TestFaultMatrix : public QObject
{
    Q_OBJECT

private slots:
    void host_data();
    void host();

private:
    Scenario setUp(const QString& row, const QDir& work);
};

void TestFaultMatrix::host_data()
{
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("result"); // of every file the host reports
    QTest::addColumn<QVariant>("code");  // invalid: no task ran, the code is null
    QTest::addColumn<QString>("text");   // exact, or how it begins when no task ran

    const QVariant none;
    QTest::newRow("truncated jpg") << 1 << "failed" << QVariant(1) << kCorruptText;
    QTest::newRow("truncated png") << 1 << "failed" << QVariant(1) << kCorruptText;
    QTest::newRow("empty webp") << 1 << "failed" << QVariant(1) << "fail";
    QTest::newRow("truncated mp4") << 1 << "failed" << QVariant(1) << kVideoText;
    QTest::newRow("text named vob") << 1 << "failed" << QVariant(1) << kVideoText;
    // Refused from the header, before any tool asks for the memory.
    QTest::newRow("30000x30000 png to jpg") << 1 << "failed" << QVariant(1) << kCorruptText;
    QTest::newRow("30000x30000 png to webp") << 1 << "failed" << QVariant(1) << "fail";
    QTest::newRow("unreadable input") << 1 << "failed" << QVariant(1) << kCorruptText;
    QTest::newRow("output folder missing") << 0 << "succeeded" << QVariant(0) << QString();
    QTest::newRow("output folder read-only") << 1 << "failed" << QVariant(2) << QString();
    // In place, a refused file must stay as it was, whichever way its tool writes.
    QTest::newRow("in place, tool refuses, jpg") << 1 << "failed" << QVariant(1) << kCorruptText;
    QTest::newRow("in place, tool refuses, png") << 1 << "failed" << QVariant(1) << kCorruptText;
    QTest::newRow("in place, tool refuses, webp") << 1 << "failed" << QVariant(1) << "fail";
    QTest::newRow("in place, tool refuses, mp4") << 1 << "failed" << QVariant(1) << kVideoText;
    // Blanks, quotes, a newline, a leading dash and non-ASCII letters, for every kind.
    QTest::newRow("odd names") << 0 << "succeeded" << QVariant(0) << QString();
    QTest::newRow("quality injects options") << 1 << "failed" << QVariant(-1) << "Invalid request value";
    QTest::newRow("preset injects options") << 1 << "failed" << QVariant(-1) << "Invalid request value";
    QTest::newRow("tool killed jpg") << 1 << "failed" << QVariant(-4) << "The tool crashed";
    // The video task maps ffmpeg's exit code alone; a killed ffmpeg reports the signal's number.
    QTest::newRow("tool killed mp4") << 1 << "failed" << QVariant(SIGKILL) << "Unknown mistake";
    QTest::newRow("tool missing") << 1 << "failed" << none << "the task could not start";
    QTest::newRow("tool not executable") << 1 << "failed" << QVariant(-2) << "The tool could not be started";
    QTest::newRow("disk full jpg") << 1 << "failed" << QVariant(2) << QString();
    // ffmpeg exits 0 although the file could not be closed; the cut-off result is caught and dropped.
    QTest::newRow("disk full webp") << 1 << "failed" << QVariant(2) << "fail";
    QTest::newRow("disk full mp4") << 1 << "failed" << QVariant(1) << kVideoText;
}

Scenario TestFaultMatrix::setUp(const QString& row, const QDir& work)
{
    Scenario s;
    const QString in = work.filePath("in");
    const QString out = work.filePath("out");
    QDir().mkpath(in);
    // A guarded input: made compressible, or given the bytes asked for.
    auto input = [&](const QString& name, const QByteArray* bytes = nullptr) {
        const QString path = in + QLatin1Char('/') + name;
        if (!(bytes ? writeAll(path, *bytes) : makeCompressible(path)))
            qWarning() << "cannot make" << path;
        s.guarded << path;
        return path;
    };
    const QByteArray text("this is plain text, not media\n");
    const QString suffix = row.section(QLatin1Char(' '), -1);

    if (row.startsWith("truncated ")) {
        const QString path = input("cut." + suffix);
        const QByteArray half = readAll(path).left(int(QFileInfo(path).size() / 2));
        s.arguments = QStringList{input("cut." + suffix, &half), out + "/cut." + suffix};
    } else if (row.startsWith("empty ")) {
        const QByteArray empty;
        s.arguments = QStringList{input("empty." + suffix, &empty), out + "/empty." + suffix};
    } else if (row == "text named vob") {
        s.arguments = QStringList{input("notes.vob", &text), out + "/notes.vob"};
    } else if (row.startsWith("30000x30000")) {
        const QByteArray huge = hugePng(kHugeSide, kHugeSide);
        s.arguments = QStringList{input("huge.png", &huge), out + "/huge." + suffix};
    } else if (row == "unreadable input") {
        const QString path = input("locked.jpg");
        QFile::setPermissions(path, {});
        QFile probe(path);
        if (probe.open(QIODevice::ReadOnly))
            s.skip = QStringLiteral("mode 000 does not stop this user from reading (running as root)");
        s.arguments = QStringList{path, out + "/locked.jpg"};
    } else if (row == "output folder missing") {
        s.arguments = QStringList{input("a.png"), out + "/not/yet/there/a.png"};
    } else if (row == "output folder read-only") {
        QDir().mkpath(out);
        const QString user = out + "/a.jpg";
        writeAll(user, "the user's own file");
        s.guarded << user;
        QFile::setPermissions(out, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup);
        if (QFile(out + "/.probe").open(QIODevice::WriteOnly))
            s.skip = QStringLiteral("a read-only folder is still writable for this user (running as root)");
        QFile::remove(out + "/.probe");
        s.arguments = QStringList{input("a.jpg"), user, "--overwrite"};
    } else if (row.startsWith("in place")) {
        const QString path = input("broken." + suffix, &text);
        s.arguments = QStringList{"--in-place", path, path};
    } else if (row == "odd names") {
        for (const char* base : {"my  holiday photo", "say \"cheese\" it's", "first\nsecond", "-outfile x",
                                 "Grüße ÆØÅ 日本 ελληνικά"}) {
            for (const char* kind : {".jpg", ".png", ".webp", ".mp4"})
                input(QString::fromUtf8(base) + kind);
        }
        s.arguments = QStringList{in, "-o", out, "-j", "2", "--preset", "ultrafast"};
    } else if (row == "quality injects options") {
        s.arguments = QStringList{input("a.jpg"), out + "/a.jpg", "--quality",
                                  "75 -outfile " + work.filePath("injected.jpg")};
    } else if (row == "preset injects options") {
        s.arguments = QStringList{input("a.mp4"), out + "/a.mp4", "--preset",
                                  "ultrafast -y " + work.filePath("injected.mp4")};
    } else if (row.startsWith("tool killed")) {
        // Big or slow enough that the tool is still at work when it is found.
        const QString path = in + "/large." + (suffix == "mp4" ? "mp4" : "png");
        if (suffix == "mp4")
            makeVideo(path, "640x360", 4);
        else
            makeImage(path, "testsrc2=size=4000x3000");
        s.guarded << path;
        QDir().mkpath(out);
        const QString user = out + "/large." + suffix;
        writeAll(user, "the user's earlier result");
        s.guarded << user;
        s.arguments = QStringList{path, user, "--overwrite", "--preset", "veryslow"};
        const QString tool = suffix == "mp4" ? "ffmpeg" : "cJpeg";
        s.whileRunning = [tool, suffix](qint64 pid) {
            QElapsedTimer timer;
            timer.start();
            QByteArray child;
            while (timer.elapsed() < 20000 && !run("pgrep", {"-P", QString::number(pid), "-x", tool}, &child))
                ;
            if (suffix == "mp4")
                QThread::msleep(300); // ffmpeg well into the encode
            const pid_t found = pid_t(child.split('\n').first().toInt());
            if (found > 0) // never 0, which would reach the whole process group
                ::kill(found, SIGKILL);
        };
    } else if (row.startsWith("tool ")) {
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
        s.arguments = QStringList{input("a.jpg"), out + "/a.jpg"};
    } else if (row.startsWith("disk full")) {
        QDir().mkpath(out);
        // Room for the user's file and little more: the result cannot fit.
        if (!run("mount", {"-t", "tmpfs", "-o", "size=24k,mode=0755", "tmpfs", out})) {
            s.skip = QStringLiteral("cannot mount a small tmpfs here (needs root and mount rights)");
            return s;
        }
        const QString user = out + "/big." + suffix;
        writeAll(user, "the user's earlier result");
        s.guarded << user;
        const QString path = in + "/big." + suffix;
        // Noise does not compress: the result needs far more room than there is.
        if (suffix == "mp4")
            makeVideo(path, "320x240", 1, {"-vf", "noise=alls=60:allf=t+u"});
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
    // Whatever a row locked or mounted must not outlive it.
    const auto cleanup = qScopeGuard([&work] {
        const QString out = work.filePath("out");
        if (QFileInfo(out).isDir())
            QFile::setPermissions(out, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        run("umount", {out});
        for (const QString& file : filesUnder(work.path()))
            QFile::setPermissions(work.filePath(file), QFile::ReadOwner | QFile::WriteOwner);
    });
    const Scenario scenario = setUp(row, work);
    if (!scenario.skip.isEmpty())
        QSKIP(qPrintable(scenario.skip));

    QMap<QString, QByteArray> guardedBytes;
    for (const QString& path : scenario.guarded) {
        QVERIFY2(QFileInfo::exists(path), qPrintable(path));
        guardedBytes.insert(path, readAll(path));
    }
    const QStringList before = filesUnder(work.path());

    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("TMPDIR", temp);
    for (auto it = scenario.environment.begin(); it != scenario.environment.end(); ++it)
        environment.insert(it.key(), it.value());
    process.setProcessEnvironment(environment);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(scenario.program, QStringList{"--json"} + scenario.arguments);
    QVERIFY(process.waitForStarted());
    if (scenario.whileRunning)
        scenario.whileRunning(process.processId());
    const bool finished = process.waitForFinished(kRowTimeoutMs);
    if (!finished)
        process.kill();
    QVERIFY2(finished, qPrintable(QStringLiteral("no end within %1 ms").arg(kRowTimeoutMs)));
    const QString err = QString::fromUtf8(process.readAllStandardError());
    QVERIFY2(process.exitStatus() == QProcess::NormalExit, qPrintable(err));
    // In a sanitizer build the host reports what it found on standard error without always failing.
    QVERIFY2(!err.contains("runtime error:") && !err.contains("Sanitizer"), qPrintable(err));
    QVERIFY2(process.exitCode() == exitCode,
             qPrintable(QStringLiteral("exit %1: %2").arg(process.exitCode()).arg(err)));

    QStringList delivered;
    int files = 0;
    bool summarized = false;
    for (const QByteArray& line : process.readAllStandardOutput().split('\n')) {
        QJsonParseError error{};
        const QJsonObject file = QJsonDocument::fromJson(line, &error).object();
        QVERIFY2(line.isEmpty() || error.error == QJsonParseError::NoError,
                 "standard output carries something besides JSON");
        if (file.value("type").toString() == QLatin1String("summary")) {
            QCOMPARE(file.value("exitStatus").toInt(-1), exitCode);
            QCOMPARE(file.value("files").toInt(-1), files);
            summarized = true;
            continue;
        }
        if (line.isEmpty())
            continue;
        ++files;
        QVERIFY2(file.value("result").toString() == result &&
                     (code.isValid() ? file.value("code").toInt(-999) == code.toInt()
                                     : file.value("code").isNull()),
                 line.constData());
        if (result == QLatin1String("succeeded")) {
            const QString output = file.value("output").toString();
            QVERIFY2(!frameSize(output).isEmpty(), qPrintable(output + " does not decode"));
            delivered << work.relativeFilePath(output);
        } else {
            // Exact, or how it begins when no task ran.
            const QString got = file.value("text").toString();
            QVERIFY2(code.isValid() ? got == text : got.startsWith(text), line.constData());
        }
    }
    QVERIFY2(files > 0 && summarized, qPrintable(err));

    // Nothing left in the temporary location: no working folder, no progress folder, no stray file.
    QCOMPARE(QDir(temp).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
             QStringList());
    // Sources and the user's files keep their bytes unless a finished result replaced them.
    for (auto it = guardedBytes.begin(); it != guardedBytes.end(); ++it) {
        if (!delivered.contains(work.relativeFilePath(it.key())))
            QVERIFY2(readAll(it.key()) == it.value(), qPrintable(it.key() + " changed"));
    }
    // No file appeared besides the results, and none disappeared.
    QStringList expected = before + delivered;
    expected.removeDuplicates();
    expected.sort();
    QCOMPARE(filesUnder(work.path()), expected);
    QVERIFY(!QFileInfo::exists(work.filePath("injected.jpg")) &&
            !QFileInfo::exists(work.filePath("injected.mp4")));
}

QTEST_GUILESS_MAIN(TestFaultMatrix)
#include "tst_faultmatrix.moc"
