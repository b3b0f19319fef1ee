// Guards JSON text, whole-file writes that never leave a half-written file, and timeline files.
#include <base/JsonHelpers.h>

#include "MediaFixtures.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>

namespace {

// Lowers the largest file this process may write, as a full disk would, until it goes out of scope.
struct FileSizeLimit
{
    rlimit previous{};
    explicit FileSizeLimit(rlim_t bytes)
    {
        std::signal(SIGXFSZ, SIG_IGN); // the write fails with EFBIG instead
        getrlimit(RLIMIT_FSIZE, &previous);
        const rlimit lowered{bytes, previous.rlim_max};
        ok = setrlimit(RLIMIT_FSIZE, &lowered) == 0;
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &previous); }
    bool ok = false;
};

} // namespace

class TestJsonHelpers : public QObject
{
    Q_OBJECT

private slots:
    void textRoundTrips()
    {
        const QVariantMap one{{QStringLiteral("key"), QStringLiteral("value")}};
        QCOMPARE(Nerova::variantMapToJson(one, false), QStringLiteral("{\"key\":\"value\"}"));
        QCOMPARE(Nerova::variantMapToJson(one, true), QStringLiteral("{\n    \"key\": \"value\"\n}\n"));
        const QVariantMap map{
            {QStringLiteral("名前"), QStringLiteral("Größe € 😀 \"quoted\" \\ back\n")},
            {QStringLiteral("numbers"), QVariantList{0.5, -1e300, 2.0, false}},
            {QStringLiteral("nested"), QVariantMap{{QStringLiteral("ключ"), QStringLiteral("значение")}}},
        };
        const QString json = Nerova::variantMapToJson(map, true);
        QVERIFY(json.contains(QStringLiteral("😀"))); // written as text, not escaped
        QCOMPARE(Nerova::jsonToVariantMap(json), map);
        QCOMPARE(Nerova::jsonToVariantList(QStringLiteral("[1, {\"k\": 2}]")).size(), 2);
        // The first clip's path, or none when that clip has none.
        const char* clips = R"({"clips": [{"file_path": "/v/первый.mp4"}, {}]})";
        QCOMPARE(Nerova::getTimelineFirstClipPath(Nerova::jsonToVariantMap(clips)),
                 QStringLiteral("/v/первый.mp4"));
        QCOMPARE(Nerova::getTimelineFirstClipPath(
                     Nerova::jsonToVariantMap(R"({"clips": [{}, {"file_path": "b"}]})")),
                 QString());
        // Anything else than a whole object, or array, reads as empty.
        QVERIFY(Nerova::jsonToVariantMap(QStringLiteral("[1]")).isEmpty());
        for (const char* bad : {"hello", "{\"a\": [1, 2", "{\"a\": 1} x"})
            QVERIFY(Nerova::jsonToVariantMap(bad).isEmpty() && Nerova::jsonToVariantList(bad).isEmpty());

        // Files are plain UTF-8 without a byte-order mark, and a longer file is replaced as a whole.
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath(QStringLiteral("Datei ä.json"));
        Nerova::saveToFile(QString(5000, QLatin1Char('x')), path);
        Nerova::saveToFile(json, path);
        QCOMPARE(Nerova::getFileContent(path), json);
        QCOMPARE(MediaFixtures::readAll(path), json.toUtf8());
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("Datei ä.json")});
        // Unreadable files read as empty.
        QCOMPARE(Nerova::getFileContent(dir.filePath(QStringLiteral("missing.json"))), QString());
        QCOMPARE(Nerova::getFileContent(dir.path()), QString());
    }

    void failedSaveLeavesTheFileAlone_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::newRow("disk full") << "full";
        QTest::newRow("path is a folder") << "folder";
        QTest::newRow("empty path") << "";
    }

    void failedSaveLeavesTheFileAlone()
    {
        QFETCH(QString, fault);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString good = dir.filePath(QStringLiteral("good.json"));
        const QByteArray goodBytes = "{\"kept\": true}\n";
        QVERIFY(MediaFixtures::writeAll(good, goodBytes));
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder")));
        const QString newContent = QString(256 * 1024, QLatin1Char('n'));
        if (fault == QLatin1String("full")) {
            FileSizeLimit limit(4096);
            QVERIFY(limit.ok);
            Nerova::saveToFile(newContent, good);
        } else {
            Nerova::saveToFile(newContent, fault.isEmpty() ? QString() : dir.filePath(fault));
        }
        QCOMPARE(MediaFixtures::readAll(good), goodBytes);
        // Nothing half-written is left beside it either.
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 (QStringList{QStringLiteral("folder"), QStringLiteral("good.json")}));
        QVERIFY(QDir(dir.filePath(QStringLiteral("folder"))).isEmpty());
    }

    void timelineDir_data()
    {
        QTest::addColumn<QString>("content"); // the file as written; empty for no file
        QTest::addColumn<bool>("replaced");   // whether "timeline_dir" reads as the file's own folder
        QTest::newRow(".") << R"({"clips": [], "preview_param": {"timeline_dir": ".", "w": 1}})" << true;
        QTest::newRow("..") << R"({"preview_param": {"timeline_dir": ".."}})" << false;
        QTest::newRow("missing timeline_dir") << R"({"preview_param": {"w": 1}})" << false;
        QTest::newRow("no file") << QString() << false;
        QTest::newRow("not JSON") << R"({"preview_param": )" << false;
    }

    void timelineDir()
    {
        QFETCH(QString, content);
        QFETCH(bool, replaced);
        QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/Zeitleiste ü-XXXXXX"));
        QVERIFY(dir.isValid());
        const QString path = dir.filePath(QStringLiteral("project.json"));
        QVERIFY(content.isEmpty() || MediaFixtures::writeAll(path, content.toUtf8()));
        const QString loaded = Nerova::loadTimelineJsonFromPath(path);
        QVERIFY(loaded.startsWith(QStringLiteral("{\n"))); // indented
        QVariantMap expected = Nerova::jsonToVariantMap(content);
        if (replaced) {
            QVariantMap previewParam = expected.value(QStringLiteral("preview_param")).toMap();
            previewParam.insert(QStringLiteral("timeline_dir"), QDir(dir.path()).absolutePath());
            expected.insert(QStringLiteral("preview_param"), previewParam);
        }
        QCOMPARE(Nerova::jsonToVariantMap(loaded), expected);
    }
};

QTEST_GUILESS_MAIN(TestJsonHelpers)
#include "tst_jsonhelpers.moc"
