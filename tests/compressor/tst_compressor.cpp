// Guards the plug-in's frame: one exported entry, loadable by name, and a new task chosen by output suffix.

#include <compressor/ICompressor.h>

#include <QLibrary>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QtTest>

#include <dlfcn.h>

class TestCompressor : public QObject
{
    Q_OBJECT

private slots:
    void factoryChoosesTaskByOutputSuffix_data()
    {
        QTest::addColumn<QString>("outputPath");
        QTest::addColumn<QString>("className"); // empty: no task without an output path
        // clang-format off
        QTest::newRow("jpg") << "/out/a.jpg" << "JpegCompressor";
        QTest::newRow("upper JPG") << "/out/a.JPG" << "JpegCompressor";
        QTest::newRow("last dot counts") << "/out/a.tar.jpg" << "JpegCompressor";
        QTest::newRow("png") << "/out/a.PNG" << "PngCompressor";
        QTest::newRow("webp") << "/out/a.WebP" << "WebpCompressor";
        QTest::newRow("mp4") << "/out/a.mp4" << "VideoCompressor";
        QTest::newRow("folder suffix ignored") << "/out/dir.png/file" << "VideoCompressor";
        QTest::newRow("no suffix") << "/out/a" << "VideoCompressor";
        QTest::newRow("empty suffix") << "/out/a." << "VideoCompressor";
        QTest::newRow("empty path") << "" << "";
        // clang-format on
    }

    void factoryChoosesTaskByOutputSuffix()
    {
        QFETCH(QString, outputPath);
        QFETCH(QString, className);
        const QVariantMap request{
            {"inputPath", "/in/source.png"}, {"outputPath", outputPath}, {"quality", 80}};
        const QSharedPointer<ICompressTask> task = CompressorEntry()->createCompressTask(request);
        QCOMPARE(task.isNull(), className.isEmpty());
        if (!task)
            return;
        QCOMPARE(QString::fromLatin1(task->metaObject()->className()), className);
        QVERIFY(task->parent() == nullptr);
        QCOMPARE(task->thread(), QThread::currentThread());
        QVERIFY(CompressorEntry()->createCompressTask(request) != task); // a new task each time
    }

    void factoryNeedsATextOutputPath()
    {
        QVERIFY(CompressorEntry()->createCompressTask({{"inputPath", "/in/a.jpg"}}).isNull());
        QVERIFY(CompressorEntry()->createCompressTask({{"outputPath", QVariantList{}}}).isNull());
    }

    void entryIsExportedUndecorated()
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

    void entryLoadsThroughQLibrary()
    {
        QLibrary library(QStringLiteral(NEROVA_LIBRARY_FILE));
        QVERIFY2(library.load(), qPrintable(library.errorString()));
        using Entry = ICompressor* (*)();
        const auto entry = reinterpret_cast<Entry>(library.resolve("CompressorEntry"));
        QVERIFY(entry);
        QCOMPARE(entry(), CompressorEntry());
        const auto task = entry()->createCompressTask({{"outputPath", "/out/a.jpeg"}});
        QVERIFY(task);
        // The host connects by signature, as a host that does not link the plug-in does.
        QSignalSpy spy(task.data(), SIGNAL(compressFinished(int, QString)));
        QVERIFY(spy.isValid());
        QVERIFY(!task->previewTask()); // still images have no preview
        QCOMPARE(spy.count(), 0);
    }
};

QTEST_GUILESS_MAIN(TestCompressor)
#include "tst_compressor.moc"
