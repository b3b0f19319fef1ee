// The base service stand-in: configuration defaults, the user's saved settings, and the log sink.

#include <NerovaBase/NerovaBase.h>
#include <base/Config.h>

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

class TestNerovaBase : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void defaultsAreRegisteredAtLoad();
    void keysAreTheirOwnNames();
    void currentMapOverlaysSavedSettings();
    void damagedSettingsFallBackToDefaults();
    void saveWritesTheWholeMap();
    void logSinkCapturesAndWritesFile();

private:
    std::unique_ptr<QTemporaryDir> mWork;
    QString mSettings;
};

void TestNerovaBase::init()
{
    mWork = std::make_unique<QTemporaryDir>();
    QVERIFY(mWork->isValid());
    mSettings = mWork->filePath("settings/NerovaBase.json");
    qputenv(Nerova::NerovaBaseService::configFileVariable(), QFile::encodeName(mSettings));
    NerovaBaseEntry()->reloadConfig();
}

void TestNerovaBase::cleanup()
{
    NerovaBaseEntry()->reloadConfig();
    mWork.reset();
}

void TestNerovaBase::defaultsAreRegisteredAtLoad()
{
    const QVariantMap& defaults = Nerova::getDefaultConfig();
    const QVariantMap expected{{"kLogDirPath", QString()},
                               {"kTimeline_Recording_Enabled", false},
                               {"kMediaInfo_Force_IPC_Mode_Enabled", false},
                               {"kMediaInfo_Force_IPC_Mode_Disabled", false},
                               {"kPlayer_AntiAliasing_Enabled", true},
                               {"kPlayer_D3D_Decoder_Enabled", false},
                               {"kExport_AntiAliasing_Enabled", true},
                               {"kExport_OriginalTaskParamToFile_Enabled", false},
                               {"kExport_InnerTaskParamToFile_Enabled", false},
                               {"kExport_RenderYU12_Enabled", true},
                               {"kExport_Use_RenderYU12_V2_First", true},
                               {"kProduct", QString("Converter")},
                               {"kExport_WriteSdkVersionToMetaData_Enabled", false},
                               {"kConvert_Use_ConvertMode_First", true},
                               {"kConvert_GpuMode_Enabled", true},
                               {"kVob_DeMux_Enabled", true},
                               {"twoPassEncoding", true},
                               {"kBrennePath", QString()},
                               {"kTolvasPath", QString()},
                               {"kFFmpegPath", QString()}};
    QCOMPARE(defaults, expected);
    for (auto it = expected.cbegin(); it != expected.cend(); ++it)
        QCOMPARE(defaults.value(it.key()).userType(), it.value().userType());
    QCOMPARE(Nerova::getConfig(), expected); // no saved settings: the defaults
}

void TestNerovaBase::keysAreTheirOwnNames()
{
    QCOMPARE(QString(kFFmpegPath), QString("kFFmpegPath"));
    QCOMPARE(QString(kVob_DeMux_Enabled), QString("kVob_DeMux_Enabled"));
    QCOMPARE(QString(twoPassEncoding), QString("twoPassEncoding"));
}

void TestNerovaBase::currentMapOverlaysSavedSettings()
{
    QVERIFY(QDir().mkpath(QFileInfo(mSettings).path()));
    QFile file(mSettings);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(R"({"kFFmpegPath": "/opt/ffmpeg/bin", "kVob_DeMux_Enabled": false, "userKey": 7})");
    file.close();

    QVariantMap& config = Nerova::getConfig();
    QCOMPARE(config.value(kFFmpegPath).toString(), QString("/opt/ffmpeg/bin"));
    QCOMPARE(config.value(kVob_DeMux_Enabled).toBool(), false);
    QCOMPARE(config.value("userKey").toInt(), 7);
    QCOMPARE(config.value(kProduct).toString(), QString("Converter"));
    // Defaults registered after the first read still appear.
    Nerova::getDefaultConfig()["lateKey"] = 5;
    QCOMPARE(Nerova::getConfig().value("lateKey").toInt(), 5);
    Nerova::getDefaultConfig().remove("lateKey");
}

void TestNerovaBase::damagedSettingsFallBackToDefaults()
{
    QVERIFY(QDir().mkpath(QFileInfo(mSettings).path()));
    QFile file(mSettings);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("{ not json");
    file.close();
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Ignoring a damaged settings file"));
    QCOMPARE(Nerova::getConfig().value(kVob_DeMux_Enabled).toBool(), true);
}

void TestNerovaBase::saveWritesTheWholeMap()
{
    Nerova::getConfig()[kFFmpegPath] = QString("/usr/local/bin");
    Nerova::saveConfig();
    QFile file(mSettings);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QJsonObject saved = QJsonDocument::fromJson(file.readAll()).object();
    QCOMPARE(saved.value("kFFmpegPath").toString(), QString("/usr/local/bin"));
    QCOMPARE(saved.value("kProduct").toString(), QString("Converter"));

    NerovaBaseEntry()->reloadConfig();
    QCOMPARE(Nerova::getConfig().value(kFFmpegPath).toString(), QString("/usr/local/bin"));
    QCOMPARE(QDir(QFileInfo(mSettings).path()).entryList(QDir::Files), QStringList{"NerovaBase.json"});
}

void TestNerovaBase::logSinkCapturesAndWritesFile()
{
    Nerova::LogSink* sink = NerovaBaseEntry()->logSink();
    sink->setCaptureEnabled(true);
    Nerova::getConfig()[kLogDirPath] = mWork->path();

    Nerova::Record record(Q_FUNC_INFO, __LINE__, "NerovaDec/FFDemuxer", nullptr, 0);
    record << "---demux--- avformat_open_input: " << -2 << ": " << QString("No such file") << qint64(0);
    sink->write(record);

    const QList<Nerova::Record> captured = sink->takeCaptured();
    QCOMPARE(captured.size(), 1);
    QCOMPARE(captured.first().message(), QString("---demux--- avformat_open_input: -2: No such file0"));
    QCOMPARE(captured.first().file(), QString("NerovaDec/FFDemuxer"));
    QVERIFY(captured.first().function().contains("logSinkCapturesAndWritesFile"));
    sink->setCaptureEnabled(false);

    QFile log(mWork->filePath(Nerova::LogSink::logFileName()));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(QString::fromUtf8(log.readAll()).contains("---demux--- avformat_open_input: -2"));
}

QTEST_GUILESS_MAIN(TestNerovaBase)
#include "tst_nerovabase.moc"
