// The plug-in frame: entry point, factory table and the task model every task shares.

#include <compressor/CompressTask.h>
#include <compressor/Compressor.h>
#include <compressor/ICompressor.h>
#include <compressor/JpegCompressor.h>

#include <QLibrary>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QtTest>

#include <dlfcn.h>

#include <future>
#include <vector>

class TestCompressor : public QObject
{
    Q_OBJECT

private slots:
    void factoryChoosesTaskByOutputSuffix_data();
    void factoryChoosesTaskByOutputSuffix();
    void factoryNeedsAnOutputPath_data();
    void factoryNeedsAnOutputPath();
    void factoryMakesANewTaskEachTime();
    void supportedOriginals();
    void entryIsOneInstanceAcrossThreads();
    void entryIsExportedUndecorated();
    void entryLoadsThroughQLibrary();
    void taskModel();
    void isFinishedFollowsStatus_data();
    void isFinishedFollowsStatus();
};

void TestCompressor::factoryChoosesTaskByOutputSuffix_data()
{
    QTest::addColumn<QString>("outputPath");
    QTest::addColumn<QString>("className");

    // clang-format off
    QTest::newRow("jpg") << "/out/a.jpg" << "JpegCompressor";
    QTest::newRow("upper JPG") << "/out/a.JPG" << "JpegCompressor";
    QTest::newRow("mixed Jpeg") << "/out/a.Jpeg" << "JpegCompressor";
    QTest::newRow("last dot counts") << "/out/a.tar.jpg" << "JpegCompressor";
    QTest::newRow("png") << "/out/a.PNG" << "PngCompressor";
    QTest::newRow("webp") << "/out/a.WebP" << "WebpCompressor";
    QTest::newRow("mp4") << "/out/a.mp4" << "VideoCompressor";
    QTest::newRow("gif") << "/out/a.gif" << "VideoCompressor";
    QTest::newRow("folder suffix ignored") << "/out/dir.png/file" << "VideoCompressor";
    QTest::newRow("no suffix") << "/out/a" << "VideoCompressor";
    QTest::newRow("empty suffix") << "/out/a." << "VideoCompressor";
    // clang-format on
}

void TestCompressor::factoryChoosesTaskByOutputSuffix()
{
    QFETCH(QString, outputPath);
    QFETCH(QString, className);

    const QVariantMap request{{"inputPath", "/in/source.png"}, {"outputPath", outputPath}, {"quality", 80}};
    const QSharedPointer<ICompressTask> task = CompressorEntry()->createCompressTask(request);
    QVERIFY(task);
    QCOMPARE(QString::fromLatin1(task->metaObject()->className()), className);
    QVERIFY(task->parent() == nullptr);
    QCOMPARE(task->thread(), QThread::currentThread());
}

void TestCompressor::factoryNeedsAnOutputPath_data()
{
    QTest::addColumn<QVariantMap>("request");
    QTest::newRow("missing") << QVariantMap{{"inputPath", "/in/a.jpg"}, {"quality", "75"}};
    QTest::newRow("empty") << QVariantMap{{"inputPath", "/in/a.jpg"}, {"outputPath", ""}, {"quality", "75"}};
    QTest::newRow("not text") << QVariantMap{{"inputPath", "/in/a.jpg"}, {"outputPath", QVariantList{}}};
}

void TestCompressor::factoryNeedsAnOutputPath()
{
    QFETCH(QVariantMap, request);
    QVERIFY(CompressorEntry()->createCompressTask(request).isNull());
}

void TestCompressor::factoryMakesANewTaskEachTime()
{
    const QVariantMap request{{"inputPath", "/in/a.jpg"}, {"outputPath", "/out/a.jpg"}};
    const auto first = CompressorEntry()->createCompressTask(request);
    const auto second = CompressorEntry()->createCompressTask(request);
    QVERIFY(first && second);
    QVERIFY(first != second);

    // Qt's guarded pointers see the task go when the host lets go of it.
    QPointer<QObject> guard(first.data());
    auto released = first;
    released.reset();
    QVERIFY(guard);
}

void TestCompressor::supportedOriginals()
{
    const QVariantList expected{"mp4", "mov", "mkv", "m4v", "avi", "flv", "f4v", "m2ts"};
    QCOMPARE(CompressorEntry()->getSupportOriginal(), expected);
    for (const QVariant& value : CompressorEntry()->getSupportOriginal())
        QCOMPARE(value.userType(), int(QMetaType::QString));
}

void TestCompressor::entryIsOneInstanceAcrossThreads()
{
    std::vector<std::future<ICompressor*>> futures;
    for (int i = 0; i < 8; ++i)
        futures.push_back(std::async(std::launch::async, [] { return CompressorEntry(); }));
    ICompressor* const first = CompressorEntry();
    QVERIFY(first);
    for (auto& future : futures)
        QCOMPARE(future.get(), first);
}

void TestCompressor::entryIsExportedUndecorated()
{
    // The host finds the entry by its plain C name.
    QVERIFY(dlsym(RTLD_DEFAULT, "CompressorEntry") != nullptr);

    const QString nm = QStandardPaths::findExecutable("nm");
    if (nm.isEmpty())
        QSKIP("nm is not installed");
    QProcess process;
    process.start(nm, {"-D", "--defined-only", QStringLiteral(NEROVA_LIBRARY_FILE)});
    QVERIFY(process.waitForFinished());
    const QString symbols = QString::fromUtf8(process.readAllStandardOutput());
    QVERIFY(symbols.contains(QRegularExpression("\\bT CompressorEntry\\n")));
    // Internals stay hidden.
    QVERIFY(!symbols.contains("ScopedFlag"));
    QVERIFY(!symbols.contains("AesBlockCipher"));
}

void TestCompressor::entryLoadsThroughQLibrary()
{
    QLibrary library(QStringLiteral(NEROVA_LIBRARY_FILE));
    QVERIFY2(library.load(), qPrintable(library.errorString()));
    using Entry = ICompressor* (*)();
    const auto entry = reinterpret_cast<Entry>(library.resolve("CompressorEntry"));
    QVERIFY(entry);
    ICompressor* compressor = entry();
    QCOMPARE(compressor, CompressorEntry());

    const auto task = compressor->createCompressTask({{"outputPath", "/out/a.jpeg"}});
    QVERIFY(task);
    // The host connects by signature, as a host that does not link the plug-in does.
    QSignalSpy spy(task.data(), SIGNAL(compressFinished(int, QString)));
    QVERIFY(spy.isValid());
    QVERIFY(!task->previewTask());
    QCOMPARE(spy.count(), 0);
}

void TestCompressor::taskModel()
{
    const QVariantMap request{{"inputPath", "/in/a.png"}, {"outputPath", "/out/b.jpg"}, {"extra", 42}};
    JpegCompressor task(request);
    QCOMPARE(task.status(), 0);
    QVERIFY(!task.isFinished());
    QCOMPARE(task.task(), request);
    QVariantMap copy = task.task();
    copy.insert("inputPath", "/elsewhere");
    QCOMPARE(task.task(), request);

    // Still images have no preview; an abort before any start does nothing.
    QSignalSpy finished(&task, &ICompressTask::compressFinished);
    QSignalSpy progress(&task, &ICompressTask::compressProcess);
    QVERIFY(finished.isValid() && progress.isValid());
    QVERIFY(!task.previewTask());
    task.abortTask();
    QCOMPARE(task.status(), 0);
    QCOMPARE(finished.count(), 0);
    QCOMPARE(progress.count(), 0);
}

// Exposes the protected status setter for the status table.
class StatusProbe : public CompressTask
{
public:
    using CompressTask::CompressTask;
    using CompressTask::setStatus;
};

void TestCompressor::isFinishedFollowsStatus_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("finished");
    QTest::newRow("idle") << 0 << false;
    QTest::newRow("running") << 1 << false;
    QTest::newRow("succeeded") << 2 << true;
    QTest::newRow("failed") << 3 << true;
}

void TestCompressor::isFinishedFollowsStatus()
{
    QFETCH(int, status);
    QFETCH(bool, finished);
    StatusProbe task(QVariantMap{});
    QVERIFY(!task.startTask());
    task.setStatus(status);
    QCOMPARE(task.isFinished(), finished);
}

QTEST_GUILESS_MAIN(TestCompressor)
#include "tst_compressor.moc"
