// Guards how ffmpeg's progress file is followed: values, the end line, stopping, and removing the file.

#include <compressor/ProgressThread.h>

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class TestProgressThread : public QObject
{
    Q_OBJECT

    QList<float> mValues;
    std::unique_ptr<QTemporaryDir> mWork;
    QString mPath;

    void append(const QByteArray& text)
    {
        QFile file(mPath);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Append));
        QCOMPARE(file.write(text), qint64(text.size()));
    }
    // Collects the thread's values on this (the test's) thread, through queued calls.
    void collect(ProgressThread& thread)
    {
        mValues.clear();
        connect(
            &thread, &ProgressThread::threadCompressProcess, this, [this](float value) { mValues << value; },
            Qt::QueuedConnection);
    }

private slots:
    void init()
    {
        mWork = std::make_unique<QTemporaryDir>();
        QVERIFY(mWork->isValid());
        mPath = mWork->filePath("progress_2.txt");
    }

    void cleanup()
    {
        // Values a finished thread queued must not land in the next test's list.
        QCoreApplication::processEvents();
        mWork.reset();
    }

    void fractionsAndEndLine_data()
    {
        QTest::addColumn<float>("total");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QList<float>>("expected");
        QTest::newRow("fractions") << 10000.0f
                                   << QByteArray("out_time_us=2500000\nout_time_us=12000000\nprogress=end\n")
                                   << QList<float>{0.25f, 1.2f};
        QTest::newRow("unparsable and negative")
            << 10000.0f << QByteArray("out_time_us=N/A\nout_time_us=-5000000\r\nprogress=end\n")
            << QList<float>{0.0f, 0.5f};
        QTest::newRow("ignored lines")
            << 10000.0f
            << QByteArray("frame=12\nout_time_us = 100\nout_time_us=1=2\n"
                          "out_time_us=1000000\nprogress=end\nout_time_us=9000000\n")
            << QList<float>{0.1f};
        QTest::newRow("no total") << 0.0f << QByteArray("out_time_us=2500000\nprogress=end\n")
                                  << QList<float>{};
    }

    void fractionsAndEndLine()
    {
        QFETCH(float, total);
        QFETCH(QByteArray, content);
        QFETCH(QList<float>, expected);
        append(content);
        ProgressThread thread(total, mPath);
        collect(thread);
        thread.start();
        QVERIFY(thread.wait(5000)); // the end line ends it without stopThread()
        QCoreApplication::processEvents();
        QCOMPARE(mValues, expected);
        QVERIFY(!QFile::exists(mPath));
    }

    void followsAGrowingFileLineByLine()
    {
        ProgressThread thread(4000.0f, mPath);
        collect(thread);
        thread.start();
        append("frame=1\nprogress=continue\nout_time_us=10");
        append("00000\n"); // a line written in two pieces counts once, whole
        QTRY_COMPARE(mValues, QList<float>{0.25f});
        append("out_time_us=2000000\n");
        QTRY_COMPARE(mValues, (QList<float>{0.25f, 0.5f}));
        QVERIFY(thread.isRunning());
        append("progress=end\n");
        QVERIFY(thread.wait(5000));
        QVERIFY(!QFile::exists(mPath));
    }

    void stopBeforeTheFileExists()
    {
        ProgressThread thread(1000.0f, mPath);
        thread.start();
        QVERIFY(thread.isRunning());
        append("out_time_us=1\n"); // created meanwhile: still removed at the end
        thread.stopThread();
        QVERIFY(thread.wait(5000));
        QVERIFY(!QFile::exists(mPath));
    }
};

QTEST_GUILESS_MAIN(TestProgressThread)
#include "tst_progressthread.moc"
