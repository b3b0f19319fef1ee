// Guards the base service stand-in: defaults under the user's saved settings, saving, and the log sink.
#include <NerovaBase/NerovaBase.h>
#include <base/Config.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

class TestNerovaBase : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { NerovaBaseEntry()->reloadConfig(); }
    void init()
    {
        mWork = std::make_unique<QTemporaryDir>();
        QVERIFY(mWork->isValid());
        mSettings = mWork->filePath(QStringLiteral("settings/NerovaBase.json"));
        qputenv(Nerova::NerovaBaseService::configFileVariable(), QFile::encodeName(mSettings));
        NerovaBaseEntry()->reloadConfig();
    }

    void savedSettingsOverlayTheDefaults_data()
    {
        QTest::addColumn<QByteArray>("saved"); // null: no settings file
        QTest::addColumn<QString>("ffmpegPath");
        QTest::addColumn<bool>("vobDemux");
        QTest::newRow("no file") << QByteArray() << QString() << true;
        QTest::newRow("saved") << QByteArray(R"({"kFFmpegPath": "/ff", "kVob_DeMux_Enabled": false})")
                               << "/ff" << false;
        QTest::newRow("damaged") << QByteArray("{ not json") << QString() << true;
    }

    void savedSettingsOverlayTheDefaults()
    {
        QFETCH(QByteArray, saved);
        QFETCH(QString, ffmpegPath);
        QFETCH(bool, vobDemux);
        if (!saved.isNull()) {
            QVERIFY(QDir().mkpath(QFileInfo(mSettings).path()));
            QFile file(mSettings);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(saved) == saved.size());
        }
        if (saved.startsWith("{ not"))
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Ignoring a damaged settings file"));
        const QVariantMap& config = Nerova::getConfig();
        QCOMPARE(config.value(kFFmpegPath).toString(), ffmpegPath);
        QCOMPARE(config.value(kVob_DeMux_Enabled).toBool(), vobDemux);
        QCOMPARE(config.value(kProduct).toString(), QStringLiteral("Converter"));
        // Defaults registered after the first read still appear.
        Nerova::getDefaultConfig()["lateKey"] = 5;
        QCOMPARE(Nerova::getConfig().value("lateKey").toInt(), 5);
        Nerova::getDefaultConfig().remove("lateKey");
    }

    void saveWritesTheWholeMap()
    {
        Nerova::getConfig()[kFFmpegPath] = QStringLiteral("/usr/local/bin");
        Nerova::saveConfig();
        QFile file(mSettings);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QJsonObject saved = QJsonDocument::fromJson(file.readAll()).object();
        QCOMPARE(saved.value("kFFmpegPath").toString(), QStringLiteral("/usr/local/bin"));
        QCOMPARE(saved.value("kProduct").toString(), QStringLiteral("Converter"));
        NerovaBaseEntry()->reloadConfig();
        QCOMPARE(Nerova::getConfig().value(kFFmpegPath).toString(), QStringLiteral("/usr/local/bin"));
        QCOMPARE(QDir(QFileInfo(mSettings).path()).entryList(QDir::Files), QStringList{"NerovaBase.json"});
    }

    void logSinkWritesTheLogFolder()
    {
        Nerova::getConfig()[kLogDirPath] = mWork->path();
        Nerova::Record record(Q_FUNC_INFO, __LINE__, "NerovaDec/FFDemuxer", nullptr, 0);
        record << "---demux--- avformat_open_input: " << -2 << ": " << QString("No such file") << qint64(0);
        NerovaBaseEntry()->logSink()->write(record);
        QFile log(mWork->filePath(Nerova::LogSink::logFileName()));
        QVERIFY(log.open(QIODevice::ReadOnly));
        QVERIFY(log.readAll().contains("---demux--- avformat_open_input: -2: No such file0"));
    }

private:
    std::unique_ptr<QTemporaryDir> mWork;
    QString mSettings;
};

QTEST_GUILESS_MAIN(TestNerovaBase)
#include "tst_nerovabase.moc"
