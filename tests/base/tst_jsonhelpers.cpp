// Guards JSON text, whole-file writes that never leave a half-written file, and timeline files.

#include <base/JsonHelpers.h>

#include "MediaFixtures.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>

namespace {

const QString kPreviewParam = QStringLiteral("preview_param");
const QString kTimelineDir = QStringLiteral("timeline_dir");

// Lowers the largest file this process may write, as a full disk would, until it goes out of scope.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        mOk = getrlimit(RLIMIT_FSIZE, &mPrevious) == 0;
        mPreviousHandler = std::signal(SIGXFSZ, SIG_IGN); // the write fails with EFBIG instead
        rlimit lowered = mPrevious;
        lowered.rlim_cur = bytes;
        mOk = mOk && setrlimit(RLIMIT_FSIZE, &lowered) == 0;
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &mPrevious);
        std::signal(SIGXFSZ, mPreviousHandler);
    }
    bool ok() const { return mOk; }

private:
    rlimit mPrevious{};
    void (*mPreviousHandler)(int) = nullptr;
    bool mOk = false;
};

QVariantMap sampleMap()
{
    return QVariantMap{
        {QStringLiteral("名前"), QStringLiteral("Größe € 😀 \"quoted\" \\ back")},
        {QStringLiteral("flag"), true},
        {QStringLiteral("ratio"), 0.5},
        {QStringLiteral("list"), QVariantList{QStringLiteral("ä"), 2.0, false}},
        {QStringLiteral("nested"), QVariantMap{{QStringLiteral("ключ"), QStringLiteral("значение")}}},
    };
}

} // namespace

class TestJsonHelpers : public QObject
{
    Q_OBJECT

private slots:
    void objectOrArray_data();
    void objectOrArray();
    void mapRoundTripKeepsNonAsciiText();
    void fileRoundTrip_data();
    void fileRoundTrip();
    void failedSaveLeavesTheFileAlone_data();
    void failedSaveLeavesTheFileAlone();
    void unreadableFileIsEmpty();
    void timelineDir_data();
    void timelineDir();
    void missingTimelineFile();
    void firstClipPath_data();
    void firstClipPath();
};

void TestJsonHelpers::objectOrArray_data()
{
    QTest::addColumn<QString>("json");
    QTest::addColumn<int>("mapSize");
    QTest::addColumn<int>("listSize");

    QTest::newRow("array of two numbers") << "[1, 2]" << 0 << 2;
    QTest::newRow("object") << "{\"a\": 1, \"b\": [1, 2, 3]}" << 2 << 0;
    QTest::newRow("not JSON") << "hello" << 0 << 0;
    QTest::newRow("cut short") << "{\"a\": [1, 2" << 0 << 0;
    QTest::newRow("trailing garbage") << "{\"a\": 1} x" << 0 << 0;
}

void TestJsonHelpers::objectOrArray()
{
    QFETCH(QString, json);
    QFETCH(int, mapSize);
    QFETCH(int, listSize);
    QCOMPARE(Nerova::jsonToVariantMap(json).size(), mapSize);
    QCOMPARE(Nerova::jsonToVariantList(json).size(), listSize);
}

void TestJsonHelpers::mapRoundTripKeepsNonAsciiText()
{
    const QVariantMap one{{QStringLiteral("key"), QStringLiteral("value")}};
    QCOMPARE(Nerova::variantMapToJson(one, false), QStringLiteral("{\"key\":\"value\"}"));
    QCOMPARE(Nerova::variantMapToJson(one, true), QStringLiteral("{\n    \"key\": \"value\"\n}\n"));
    const QVariantMap map = sampleMap();
    const QString json = Nerova::variantMapToJson(map, false);
    QVERIFY(json.contains(QStringLiteral("😀"))); // written as text, not escaped
    QCOMPARE(Nerova::jsonToVariantMap(json), map);

    const QVariantList list = Nerova::jsonToVariantList(QStringLiteral("[\"Ωμέγα\", {\"k\": \"日本\"}]"));
    QCOMPARE(list.size(), 2);
    QCOMPARE(list.at(0).toString(), QStringLiteral("Ωμέγα"));
    QCOMPARE(list.at(1).toMap().value(QStringLiteral("k")).toString(), QStringLiteral("日本"));
}

void TestJsonHelpers::fileRoundTrip_data()
{
    QTest::addColumn<QString>("content");
    QTest::newRow("non-ASCII") << "Größe ≥ 5 € — 日本語 😀\nzweite Zeile\n";
    QTest::newRow("JSON") << Nerova::variantMapToJson(sampleMap(), true);
}

void TestJsonHelpers::fileRoundTrip()
{
    QFETCH(QString, content);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("Datei ä.json"));

    Nerova::saveToFile(QString(5000, QLatin1Char('x')), path); // a longer file is replaced as a whole
    Nerova::saveToFile(content, path);
    QCOMPARE(Nerova::getFileContent(path), content);
    // Plain UTF-8 on disk, no byte-order mark.
    QCOMPARE(MediaFixtures::readAll(path), content.toUtf8());
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("Datei ä.json")});
}

void TestJsonHelpers::failedSaveLeavesTheFileAlone_data()
{
    QTest::addColumn<QString>("fault");
    QTest::newRow("disk full") << "disk full";
    QTest::newRow("path is a folder") << "path is a folder";
    QTest::newRow("empty path") << "empty path";
}

void TestJsonHelpers::failedSaveLeavesTheFileAlone()
{
    QFETCH(QString, fault);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString good = dir.filePath(QStringLiteral("good.json"));
    const QByteArray goodBytes = "{\"kept\": true}\n";
    QVERIFY(MediaFixtures::writeAll(good, goodBytes));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder")));
    const QString newContent = QString(256 * 1024, QLatin1Char('n'));

    if (fault == QLatin1String("disk full")) {
        FileSizeLimit limit(4096);
        QVERIFY(limit.ok());
        Nerova::saveToFile(newContent, good);
    } else if (fault == QLatin1String("empty path")) {
        Nerova::saveToFile(newContent, QString());
    } else {
        Nerova::saveToFile(newContent, dir.filePath(QStringLiteral("folder")));
        QVERIFY(QFileInfo(dir.filePath(QStringLiteral("folder"))).isDir());
    }
    QCOMPARE(MediaFixtures::readAll(good), goodBytes);
    // Nothing half-written is left beside it either.
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             (QStringList{QStringLiteral("folder"), QStringLiteral("good.json")}));
    QVERIFY(QDir(dir.filePath(QStringLiteral("folder"))).isEmpty());
}

void TestJsonHelpers::unreadableFileIsEmpty()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QCOMPARE(Nerova::getFileContent(dir.filePath(QStringLiteral("missing.json"))), QString());
    QCOMPARE(Nerova::getFileContent(dir.path()), QString());
    QCOMPARE(Nerova::getFileContent(QString()), QString());
}

void TestJsonHelpers::timelineDir_data()
{
    QTest::addColumn<QVariant>("timelineDir"); // invalid: no "timeline_dir" member
    QTest::addColumn<bool>("hasPreviewParam");
    QTest::addColumn<bool>("replaced");

    QTest::newRow(".") << QVariant(QStringLiteral(".")) << true << true;
    QTest::newRow("..") << QVariant(QStringLiteral("..")) << true << false;
    QTest::newRow("missing timeline_dir") << QVariant() << true << false;
    QTest::newRow("missing preview_param") << QVariant() << false << false;
}

void TestJsonHelpers::timelineDir()
{
    QFETCH(QVariant, timelineDir);
    QFETCH(bool, hasPreviewParam);
    QFETCH(bool, replaced);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("Zeitleiste ü")));
    const QString folder = dir.filePath(QStringLiteral("Zeitleiste ü"));
    const QString path = folder + QStringLiteral("/project.json");

    QVariantMap previewParam{{QStringLiteral("width"), 1920.0},
                             {QStringLiteral("title"), QStringLiteral("Ferien ☀")}};
    if (timelineDir.isValid())
        previewParam.insert(kTimelineDir, timelineDir);
    QVariantMap timeline{{QStringLiteral("clips"),
                          QVariantList{QVariantMap{{QStringLiteral("file_path"), QStringLiteral("a.mp4")}}}},
                         {QStringLiteral("version"), 3.0}};
    if (hasPreviewParam)
        timeline.insert(kPreviewParam, previewParam);
    // Written by hand, compact, so the result visibly comes from the writer and not from the file.
    QVERIFY(MediaFixtures::writeAll(path, Nerova::variantMapToJson(timeline, false).toUtf8()));

    const QString loaded = Nerova::loadTimelineJsonFromPath(path);
    QVERIFY(loaded.contains(QStringLiteral("\n    ")));

    QVariantMap expected = timeline;
    if (replaced) {
        previewParam.insert(kTimelineDir, QDir(folder).absolutePath());
        expected.insert(kPreviewParam, previewParam);
    }
    const QVariantMap result = Nerova::jsonToVariantMap(loaded);
    QCOMPARE(result, expected);
    QCOMPARE(result.contains(kPreviewParam), hasPreviewParam);
    if (hasPreviewParam)
        QCOMPARE(result.value(kPreviewParam).toMap().contains(kTimelineDir), timelineDir.isValid());
}

void TestJsonHelpers::missingTimelineFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QCOMPARE(Nerova::loadTimelineJsonFromPath(dir.filePath(QStringLiteral("none.json"))),
             QStringLiteral("{\n}\n"));
    const QString notJson = dir.filePath(QStringLiteral("broken.json"));
    QVERIFY(MediaFixtures::writeAll(notJson, "{\"preview_param\": "));
    QCOMPARE(Nerova::loadTimelineJsonFromPath(notJson), QStringLiteral("{\n}\n"));
}

void TestJsonHelpers::firstClipPath_data()
{
    QTest::addColumn<QVariantMap>("timeline");
    QTest::addColumn<QString>("expected");

    auto clip = [](const QString& path) {
        return QVariantMap{{QStringLiteral("file_path"), path}};
    };
    const QString clips = QStringLiteral("clips");
    QTest::newRow("no clips") << QVariantMap{} << QString();
    QTest::newRow("two clips") << QVariantMap{{clips, QVariantList{clip(QStringLiteral("/v/первый.mp4")),
                                                                   clip(QStringLiteral("/v/b.mp4"))}}}
                               << QStringLiteral("/v/первый.mp4");
    QTest::newRow("first clip without file_path")
        << QVariantMap{{clips, QVariantList{QVariantMap{}, clip(QStringLiteral("/v/b.mp4"))}}} << QString();
    QTest::newRow("from parsed JSON")
        << Nerova::jsonToVariantMap(QStringLiteral("{\"clips\": [{\"file_path\": \"c.mov\"}, {}]}"))
        << QStringLiteral("c.mov");
}

void TestJsonHelpers::firstClipPath()
{
    QFETCH(QVariantMap, timeline);
    QFETCH(QString, expected);
    const QVariantMap before = timeline;
    QCOMPARE(Nerova::getTimelineFirstClipPath(timeline), expected);
    QCOMPARE(timeline, before);
}

QTEST_GUILESS_MAIN(TestJsonHelpers)
#include "tst_jsonhelpers.moc"
