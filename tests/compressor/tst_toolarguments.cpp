// Turning parameter lists into argument lists, and keeping request values from becoming arguments.

#include <compressor/ToolArguments.h>

#include <QtTest>

class TestToolArguments : public QObject
{
    Q_OBJECT

private slots:
    void fromParamList_data();
    void fromParamList();
    void requestValues_data();
    void requestValues();
};

void TestToolArguments::fromParamList_data()
{
    QTest::addColumn<QStringList>("params");
    QTest::addColumn<QStringList>("arguments");

    QTest::newRow("encoder line") << QStringList{"-outfile", "\"/t/out.jpg\"", "-quality",
                                                 "75",       "-baseline",      "\"/t/in.jpg\""}
                                  << QStringList{"-outfile", "/t/out.jpg", "-quality",
                                                 "75",       "-baseline",  "/t/in.jpg"};
    QTest::newRow("several words in one element")
        << QStringList{"-c:v libx264", "-map 0:v:0 -map 0:a", "-vf", "scale=960:540"}
        << QStringList{"-c:v", "libx264", "-map", "0:v:0", "-map", "0:a", "-vf", "scale=960:540"};
    QTest::newRow("empty elements vanish")
        << QStringList{"-crf", "", "  ", "-y"} << QStringList{"-crf", "-y"};
    QTest::newRow("paths keep every character")
        << QStringList{"\"/t/my photo \"quoted\" ünï.jpg\"", "\"/t/tab\there\""}
        << QStringList{"/t/my photo \"quoted\" ünï.jpg", "/t/tab\there"};
    QTest::newRow("a lone quote is a word") << QStringList{"\""} << QStringList{"\""};
}

void TestToolArguments::fromParamList()
{
    QFETCH(QStringList, params);
    QFETCH(QStringList, arguments);
    QCOMPARE(ToolArguments::fromParamList(params), arguments);
}

void TestToolArguments::requestValues_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("safe");
    QTest::newRow("number") << "75" << true;
    QTest::newRow("empty") << "" << true;
    QTest::newRow("preset word") << "veryfast" << true;
    QTest::newRow("inner dash") << "65-80" << true;
    QTest::newRow("blank") << "75 -outfile" << false;
    QTest::newRow("tab") << "75\t1" << false;
    QTest::newRow("newline") << "75\n" << false;
    QTest::newRow("quote") << "75\"" << false;
    QTest::newRow("option") << "-progressive" << false;
}

void TestToolArguments::requestValues()
{
    QFETCH(QString, value);
    QFETCH(bool, safe);
    QCOMPARE(ToolArguments::isSafeRequestValue(value), safe);
    QCOMPARE(ToolArguments::areSafeRequestValues({"1", value}), safe);
}

QTEST_GUILESS_MAIN(TestToolArguments)
#include "tst_toolarguments.moc"
