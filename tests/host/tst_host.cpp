// nerova-compress as a user runs it: it loads the plug-in, compresses, and says how it went.

#include "MediaFixtures.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using namespace MediaFixtures;

class TestHost : public QObject
{
    Q_OBJECT

private slots:
    void compressesAnImage();
    void reportsAFailure();
    void compressesSeveralFilesIntoAFolder();
    void exitStatus_data();
    void exitStatus();

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
    if (!process.waitForFinished(60000))
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
    QVERIFY2(outcome.out.contains("3 files, 2 succeeded, 1 failed"), qPrintable(outcome.out));
}

void TestHost::exitStatus_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("no arguments") << QStringList{} << 2;
    QTest::newRow("one argument") << QStringList{"a.png"} << 2;
    QTest::newRow("unknown option") << QStringList{"--frobnicate", "a.png", "b.jpg"} << 2;
    QTest::newRow("missing input") << QStringList{"/nonexistent/a.png", "b.jpg"} << 2;
    QTest::newRow("three without -o") << QStringList{"a.png", "b.png", "c.jpg"} << 2;
    QTest::newRow("--to without -o") << QStringList{"a.png", "b.jpg", "--to", "png"} << 2;
    QTest::newRow("help") << QStringList{"--help"} << 0;
}

void TestHost::exitStatus()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QCOMPARE(host(arguments).exitCode, exitCode);
}

QTEST_GUILESS_MAIN(TestHost)
#include "tst_host.moc"
