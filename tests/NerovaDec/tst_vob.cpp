// VOB chapter scanning and the VOB demuxer on real program streams made with ffmpeg and joined byte for
// byte, so that timestamps restart inside one file.

#include <NerovaDec/FFDemuxer.h>
#include <NerovaDec/FFVobDemuxer.h>
#include <NerovaDec/VobEntry.h>
#include <base/Config.h>

#include "MediaFixtures.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/avutil.h>
#include <libavutil/log.h>
#include <libavutil/mathematics.h>
}

#include <QElapsedTimer>
#include <QHash>
#include <QRandomGenerator>
#include <QtTest>

#include <algorithm>
#include <map>
#include <utility>

using namespace Nerova;

namespace {

// One separately encoded program stream of a fixture.
struct Segment
{
    double seconds;
    bool video;
};

// A fixture: its segments, joined in this order.
struct Fixture
{
    QString name;
    QVector<Segment> segments;
};

const QVector<Fixture>& fixtures()
{
    static const QVector<Fixture> all{
        {QStringLiteral("joined.vob"), {{3.0, true}, {2.0, true}, {1.6, true}}},
        {QStringLiteral("audio.vob"), {{2.0, false}, {1.5, false}}},
        {QStringLiteral("single.vob"), {{2.4, true}}},
    };
    return all;
}

constexpr qint64 kVideoFrameMs = 40; // 25 frames per second
constexpr qint64 kAudioFrameMs = 35; // 1536 AC-3 samples at 44.1 kHz
constexpr qint64 kRoundingMs = 2;    // each chapter's length is rounded to whole milliseconds

qint64 toMs(qint64 value, AVRational timeBase)
{
    return av_rescale_q(value, timeBase, AVRational{1, 1000});
}

// Per-stream chapter counts of an entry.
std::map<int, int> chapterCounts(const VobEntry& entry)
{
    std::map<int, int> counts;
    for (const VobChapterItem& chapter : entry.chapterItems)
        ++counts[chapter.streamIndex];
    return counts;
}

} // namespace

class TestVob : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void scanFindsChapters_data();
    void scanFindsChapters();
    void dtsRiseAcrossJoins_data();
    void dtsRiseAcrossJoins();
    void missingTimestampsKeepTheirMarker();
    void seekLandsInEachChapter_data();
    void seekLandsInEachChapter();
    void cacheKeepsEntryUntilCleared();
    void memoryFileScansLikeTheFile();
    void factoryGivesContinuousDuration();
    void missingFileGivesNoEntry();
    void damagedFilesNeverHang_data();
    void damagedFilesNeverHang();

private:
    QString fixture(const QString& name) const { return mDir.filePath(name); }
    // The segments' lengths from their first to their last frame's time, as chapters are measured.
    static qint64 segmentsMs(const Fixture& fixture);

    QTemporaryDir mDir;
};

qint64 TestVob::segmentsMs(const Fixture& fixture)
{
    qint64 total = 0;
    for (const Segment& segment : fixture.segments)
        total += qRound64(segment.seconds * 1000.0) - (segment.video ? kVideoFrameMs : kAudioFrameMs);
    return total;
}

void TestVob::initTestCase()
{
    // Damaged files make libavformat complain about every packet; the results are what is checked.
    av_log_set_level(AV_LOG_QUIET);
    QVERIFY(mDir.isValid());
    int part = 0;
    for (const Fixture& made : fixtures()) {
        QByteArray joined;
        for (const Segment& segment : made.segments) {
            const QString path = mDir.filePath(QStringLiteral("part%1.vob").arg(++part));
            const QString seconds = QString::number(segment.seconds);
            QStringList arguments{QStringLiteral("-nostdin"), QStringLiteral("-v"), QStringLiteral("error"),
                                  QStringLiteral("-y")};
            if (segment.video) {
                arguments << QStringLiteral("-f") << QStringLiteral("lavfi") << QStringLiteral("-i")
                          << QStringLiteral("testsrc2=size=320x240:rate=25");
            }
            arguments << QStringLiteral("-f") << QStringLiteral("lavfi") << QStringLiteral("-i")
                      << QStringLiteral("sine=frequency=%1:sample_rate=44100").arg(300 + 100 * part)
                      << QStringLiteral("-t") << seconds;
            // At a constant rate like a DVD's, so that byte positions keep pace with time.
            if (segment.video) {
                arguments << QStringLiteral("-c:v") << QStringLiteral("mpeg2video") << QStringLiteral("-b:v")
                          << QStringLiteral("1500k") << QStringLiteral("-minrate") << QStringLiteral("1500k")
                          << QStringLiteral("-maxrate") << QStringLiteral("1500k")
                          << QStringLiteral("-bufsize") << QStringLiteral("224k");
            }
            arguments << QStringLiteral("-c:a") << QStringLiteral("ac3") << QStringLiteral("-f")
                      << QStringLiteral("vob") << path;
            QVERIFY2(MediaFixtures::run(MediaFixtures::ffmpeg(), arguments), qPrintable(path));
            const QByteArray bytes = MediaFixtures::readAll(path);
            QVERIFY(!bytes.isEmpty());
            joined += bytes;
        }
        QVERIFY(MediaFixtures::writeAll(fixture(made.name), joined));
    }
}

void TestVob::cleanup()
{
    for (const Fixture& made : fixtures())
        VobEntryManager::sharedInstance()->clearEntry(fixture(made.name));
    getConfig().remove(QString::fromLatin1(kVob_DeMux_Enabled));
}

void TestVob::scanFindsChapters_data()
{
    QTest::addColumn<int>("which");
    for (int i = 0; i < fixtures().size(); ++i)
        QTest::newRow(qPrintable(fixtures().at(i).name)) << i;
}

void TestVob::scanFindsChapters()
{
    QFETCH(int, which);
    const Fixture& known = fixtures().at(which);
    const QString path = fixture(known.name);

    const QSharedPointer<VobEntry> entry = VobEntryManager::sharedInstance()->scanVobEntry(path);
    QVERIFY(entry);
    FFDemuxer demuxer;
    QVERIFY(demuxer.open(path));
    const QSharedPointer<ContainerInfo> info = demuxer.containerInfo();
    QVERIFY(info);

    // Every stream that has packets has one chapter per joined segment.
    const bool hasVideo = known.segments.first().video;
    QCOMPARE(info->streams.size(), hasVideo ? 2 : 1);
    const std::map<int, int> counts = chapterCounts(*entry);
    QCOMPARE(int(counts.size()), info->streams.size());
    for (const auto& [stream, count] : counts)
        QCOMPARE(count, known.segments.size());

    // Chapters finished by a backward step come first, then the last chapter of each stream by index.
    const int streams = int(counts.size());
    const int total = entry->chapterItems.size();
    for (int i = total - streams; i < total; ++i)
        QCOMPARE(entry->chapterItems.at(i).streamIndex, i - (total - streams));

    // Each chapter continues the previous one of its stream: same pts, one tick more dts.
    QHash<int, VobChapterItem> previous;
    for (const VobChapterItem& chapter : entry->chapterItems) {
        QVERIFY(chapter.headPosInFile >= 0);
        QVERIFY(chapter.tailPosInFile >= chapter.headPosInFile);
        if (previous.contains(chapter.streamIndex)) {
            const VobChapterItem& before = previous.value(chapter.streamIndex);
            QCOMPARE(chapter.headPts, before.headPts + (before.lastPts - before.firstPts));
            QCOMPARE(chapter.headDts, before.headDts + (before.lastDts - before.firstDts) + 1);
            QVERIFY(chapter.headPosInFile > before.tailPosInFile);
        } else {
            QCOMPARE(chapter.headPts, chapter.firstPts);
            QCOMPARE(chapter.headDts, chapter.firstDts);
        }
        previous.insert(chapter.streamIndex, chapter);
    }
    QVERIFY(!entry->audioPtsMissing);

    // The duration: the video chapters' sum, else the longest audio stream's.
    qint64 expected = 0;
    for (const VobChapterItem& chapter : entry->chapterItems) {
        if (chapter.mediaType == (hasVideo ? AVMEDIA_TYPE_VIDEO : AVMEDIA_TYPE_AUDIO))
            expected += qMax<qint64>(
                1, toMs(chapter.lastPts - chapter.firstPts, info->getStreamTimeBase(chapter.streamIndex)));
    }
    const qint64 duration = entry->durationMs(&demuxer);
    QCOMPARE(duration, expected);
    const qint64 frameMs = hasVideo ? kVideoFrameMs : kAudioFrameMs;
    const qint64 slack = known.segments.size() * (frameMs + kRoundingMs);
    QVERIFY2(qAbs(duration - segmentsMs(known)) <= slack,
             qPrintable(QStringLiteral("%1 vs %2").arg(duration).arg(segmentsMs(known))));

    // The chapter axis: 0 is the first chapter, its end still that chapter, beyond all of them nothing.
    const std::optional<VobChapterItem> first = entry->getChapterItem(0, &demuxer);
    QVERIFY(first);
    QCOMPARE(first->headPosInFile, entry->chapterItems.first().headPosInFile);
    QVERIFY(!entry->getChapterItem(-1, &demuxer));
    qint64 sum = 0;
    for (const VobChapterItem& chapter : entry->chapterItems)
        sum += chapter.durationMs(info->getStreamTimeBase(chapter.streamIndex));
    QVERIFY(entry->getChapterItem(sum, &demuxer));
    QVERIFY(!entry->getChapterItem(sum + 1, &demuxer));
}

void TestVob::dtsRiseAcrossJoins_data()
{
    scanFindsChapters_data();
}

void TestVob::dtsRiseAcrossJoins()
{
    QFETCH(int, which);
    const QString path = fixture(fixtures().at(which).name);
    const QSharedPointer<FFDemuxer> demuxer = FFDemuxer::createDemuxer(path, true);
    QVERIFY(qobject_cast<FFVobDemuxer*>(demuxer.data()));
    QVERIFY(demuxer->open(path));
    // The same file as stored, read in step.
    FFDemuxer stored;
    QVERIFY(stored.open(path));

    QHash<int, qint64> lastDts;
    QHash<int, qint64> lastPts;
    QHash<int, qint64> lastShift;
    QHash<int, qint64> lastPtsShift;
    int packets = 0;
    int withoutPosition = 0;
    int joins = 0;
    while (const QSharedPointer<AVPacket> packet = demuxer->readPacket()) {
        const QSharedPointer<AVPacket> original = stored.readPacket();
        QVERIFY(original);
        QCOMPARE(packet->pos, original->pos);
        ++packets;
        if (packet->pos < 0)
            ++withoutPosition;
        // A missing pts stays missing rather than becoming a shifted marker.
        QCOMPARE(packet->pts == AV_NOPTS_VALUE, original->pts == AV_NOPTS_VALUE);
        QVERIFY(packet->dts != AV_NOPTS_VALUE);
        const int stream = packet->stream_index;
        const qint64 shift = packet->dts - original->dts;
        // Inside a chapter pts move as far as dts do at its first packet (the chapter's two shifts differ).
        if (packet->pts != AV_NOPTS_VALUE) {
            const qint64 ptsShift = packet->pts - original->pts;
            if (lastPtsShift.contains(stream) && lastShift.value(stream) == shift)
                QCOMPARE(ptsShift, lastPtsShift.value(stream));
            lastPtsShift.insert(stream, ptsShift);
        }
        if (lastDts.contains(stream)) {
            QVERIFY2(packet->dts > lastDts.value(stream),
                     qPrintable(QStringLiteral("stream %1 packet %2: dts %3 after %4")
                                    .arg(stream)
                                    .arg(packets)
                                    .arg(packet->dts)
                                    .arg(lastDts.value(stream))));
            // Nor do pts jump back at a join (video pts run at most a frame or two out of order).
            if (packet->pts != AV_NOPTS_VALUE && lastPts.contains(stream))
                QVERIFY(packet->pts >= lastPts.value(stream) - 2 * 3600);
            if (shift != lastShift.value(stream))
                ++joins;
        } else {
            // The first chapter keeps the stored timestamps.
            QCOMPARE(shift, qint64(0));
        }
        lastDts.insert(stream, packet->dts);
        lastShift.insert(stream, shift);
        if (packet->pts != AV_NOPTS_VALUE)
            lastPts.insert(stream, packet->pts);
    }
    QVERIFY(!stored.readPacket());
    QVERIFY(packets > 50);
    // Every stream moves once at every join, and only there.
    QCOMPARE(joins, lastDts.size() * (fixtures().at(which).segments.size() - 1));
    // The parsers' packets without a byte position are part of what is being tested.
    QVERIFY(withoutPosition > 0);
}

void TestVob::missingTimestampsKeepTheirMarker()
{
    // Packets made by hand, as FFmpeg may hand them out, re-timed against a real file's chapters.
    const QString path = fixture(fixtures().first().name);
    FFVobDemuxer demuxer;
    QVERIFY(demuxer.open(path));
    const QSharedPointer<VobEntry> entry = VobEntryManager::sharedInstance()->scanVobEntry(path);
    QVERIFY(entry);
    // A chapter after a join, where re-timing moves timestamps.
    const auto later =
        std::find_if(entry->chapterItems.cbegin(), entry->chapterItems.cend(),
                     [](const VobChapterItem& chapter) { return chapter.headPts != chapter.firstPts; });
    QVERIFY(later != entry->chapterItems.cend());
    const VobChapterItem second = *later;
    const auto packet = [](int stream, qint64 pos, qint64 pts, qint64 dts) {
        QSharedPointer<AVPacket> made(av_packet_alloc(), [](AVPacket* p) { av_packet_free(&p); });
        made->stream_index = stream;
        made->pos = pos;
        made->pts = pts;
        made->dts = dts;
        return made;
    };

    // Inside a later chapter: no dts, or no pts, stays so; the other timestamp moves.
    QSharedPointer<AVPacket> noDts =
        packet(second.streamIndex, second.headPosInFile, second.firstPts + 10, AV_NOPTS_VALUE);
    demuxer.adjustPacketPtsDts(noDts);
    QCOMPARE(noDts->dts, qint64(AV_NOPTS_VALUE));
    QCOMPARE(noDts->pts, second.headPts + 10);
    QSharedPointer<AVPacket> noPts =
        packet(second.streamIndex, second.headPosInFile, AV_NOPTS_VALUE, second.firstDts + 20);
    demuxer.adjustPacketPtsDts(noPts);
    QCOMPARE(noPts->pts, qint64(AV_NOPTS_VALUE));
    QCOMPARE(noPts->dts, second.headDts + 20);

    // Without a byte position a packet follows the previous packet of its stream.
    QSharedPointer<AVPacket> noPosition =
        packet(second.streamIndex, -1, second.firstPts + 30, second.firstDts + 30);
    demuxer.adjustPacketPtsDts(noPosition);
    QCOMPARE(noPosition->dts, second.headDts + 30);
    QCOMPARE(noPosition->pts, second.headPts + 30);
    // A packet of a stream the file does not have keeps its timestamps.
    QSharedPointer<AVPacket> stranger = packet(7, -1, 1234, 1234);
    demuxer.adjustPacketPtsDts(stranger);
    QCOMPARE(stranger->pts, qint64(1234));
    QCOMPARE(stranger->dts, qint64(1234));
    demuxer.adjustPacketPtsDts({});
}

void TestVob::seekLandsInEachChapter_data()
{
    QTest::addColumn<int>("which");
    QTest::newRow("joined.vob") << 0;
    QTest::newRow("audio.vob") << 1;
}

void TestVob::seekLandsInEachChapter()
{
    QFETCH(int, which);
    const QString path = fixture(fixtures().at(which).name);
    FFVobDemuxer demuxer;
    QVERIFY(demuxer.open(path));
    const QSharedPointer<ContainerInfo> info = demuxer.containerInfo();
    QVERIFY(info);
    const QSharedPointer<VobEntry> entry = VobEntryManager::sharedInstance()->scanVobEntry(path);
    QVERIFY(entry);
    const int stream =
        info->videoStreams.isEmpty() ? info->audioStreams.first()->index : info->videoStreams.first()->index;
    const AVRational timeBase = info->getStreamTimeBase(stream);

    // The chapters of the stream the duration is measured on, laid end to end from 0.
    QVector<VobChapterItem> chapters;
    for (const VobChapterItem& chapter : entry->chapterItems) {
        if (chapter.streamIndex == stream)
            chapters << chapter;
    }
    QCOMPARE(chapters.size(), fixtures().at(which).segments.size());
    const qint64 startMs = toMs(chapters.first().headPts, timeBase);

    qint64 acc = 0;
    for (const VobChapterItem& chapter : chapters) {
        const qint64 length = chapter.durationMs(timeBase);
        for (const qint64 into : {qint64(100), qint64(700), length / 2, length - 100}) {
            const qint64 target = acc + into;
            demuxer.seek(target);
            QSharedPointer<AVPacket> packet;
            do {
                packet = demuxer.readPacket(stream);
            } while (packet && packet->pts == AV_NOPTS_VALUE);
            QVERIFY(packet);
            const qint64 landedMs = toMs(packet->pts, timeBase) - startMs;
            // Reading goes on from the chapter's head or after it, never from an earlier chapter.
            if (packet->pos >= 0)
                QVERIFY(packet->pos >= chapter.headPosInFile);
            QVERIFY2(qAbs(landedMs - target) <= 1000,
                     qPrintable(QStringLiteral("target %1 landed %2").arg(target).arg(landedMs)));
        }
        acc += length;
    }

    // Half a second early, except within the chapter's first half second.
    const VobChapterItem& first = chapters.first();
    const qint64 bytesPerMs = first.avgBytesPerMs(timeBase);
    for (const auto& [rel, back] : {std::pair<qint64, qint64>{300, 300}, {500, 500}, {800, 300}}) {
        demuxer.seek(rel);
        QSharedPointer<AVPacket> packet;
        do {
            packet = demuxer.readPacket();
        } while (packet && packet->pos < 0);
        QVERIFY(packet);
        const qint64 wanted = first.headPosInFile + back * bytesPerMs;
        // The demuxer reads on from the next pack after the byte sought.
        QVERIFY2(packet->pos >= wanted && packet->pos < wanted + 8192,
                 qPrintable(QStringLiteral("rel %1: %2 for %3").arg(rel).arg(packet->pos).arg(wanted)));
    }

    // Times no chapter holds leave the read position alone.
    demuxer.seek(acc / 2);
    const QSharedPointer<AVPacket> expected = demuxer.readPacket();
    QVERIFY(expected);
    for (const qint64 nowhere : {qint64(-1), acc + 1000}) {
        demuxer.seek(acc / 2);
        demuxer.seek(nowhere);
        const QSharedPointer<AVPacket> packet = demuxer.readPacket();
        QVERIFY(packet);
        QCOMPARE(packet->pos, expected->pos);
    }
    // The stream index does not matter to a chapter seek.
    demuxer.seekByStream(acc / 2, 99);
    const QSharedPointer<AVPacket> packet = demuxer.readPacket();
    QVERIFY(packet);
    QCOMPARE(packet->pos, expected->pos);
}

void TestVob::cacheKeepsEntryUntilCleared()
{
    const QString path = fixture(fixtures().first().name);
    VobEntryManager* manager = VobEntryManager::sharedInstance();
    QCOMPARE(manager, VobEntryManager::sharedInstance());
    QVERIFY(!manager->existEntry(path));

    const QSharedPointer<VobEntry> first = manager->scanVobEntry(path);
    QVERIFY(first);
    QVERIFY(manager->existEntry(path));
    QCOMPARE(manager->scanVobEntry(path), first);

    // A demuxer of the path takes the cached entry and keeps it after the cache lets go.
    FFVobDemuxer demuxer;
    QVERIFY(demuxer.open(path));
    const qint64 duration = demuxer.durationMs();
    QCOMPARE(duration, first->durationMs(&demuxer));

    // The key is the path exactly as given.
    const QString other = QDir(mDir.path()).filePath(QStringLiteral("./") + fixtures().first().name);
    QVERIFY(!manager->existEntry(other));

    manager->clearEntry(path);
    QVERIFY(!manager->existEntry(path));
    QCOMPARE(demuxer.durationMs(), duration);
    const QSharedPointer<VobEntry> second = manager->scanVobEntry(path);
    QVERIFY(second);
    QVERIFY(second != first);
    QCOMPARE(second->chapterItems.size(), first->chapterItems.size());

    // Closed, the demuxer reports the container's own duration again.
    demuxer.close();
    QCOMPARE(demuxer.durationMs(), qint64(0));
}

void TestVob::memoryFileScansLikeTheFile()
{
    const QString path = fixture(fixtures().first().name);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString memory = fixture(QStringLiteral("memory/") + fixtures().first().name);
    FFDemuxer::addMemoryFile(memory, file.readAll());

    // The scan and the demuxer both read the registered bytes; the timeline is the file's.
    FFVobDemuxer fromFile;
    QVERIFY(fromFile.open(path));
    FFVobDemuxer fromMemory;
    QVERIFY(fromMemory.open(memory));
    QCOMPARE(fromMemory.durationMs(), fromFile.durationMs());
    VobEntryManager* manager = VobEntryManager::sharedInstance();
    QCOMPARE(manager->scanVobEntry(memory)->chapterItems.size(),
             manager->scanVobEntry(path)->chapterItems.size());
    int packets = 0;
    while (fromMemory.readPacket())
        ++packets;
    int expected = 0;
    while (fromFile.readPacket())
        ++expected;
    QCOMPARE(packets, expected);

    FFDemuxer::removeMemoryFile(memory);
    manager->clearEntry(memory);
    QVERIFY(!FFVobDemuxer().open(memory));
}

void TestVob::factoryGivesContinuousDuration()
{
    // The video task opens its source through the factory: with the key on, a VOB in any letter case
    // gets the VOB demuxer and with it the whole file's continuous duration.
    const Fixture& known = fixtures().first();
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString upper = dir.filePath(QStringLiteral("SOURCE.VoB"));
    QVERIFY(QFile::copy(fixture(known.name), upper));

    getConfig().insert(QString::fromLatin1(kVob_DeMux_Enabled), true);
    const QSharedPointer<FFDemuxer> demuxer = FFDemuxer::createDemuxer(upper, false);
    QVERIFY(qobject_cast<FFVobDemuxer*>(demuxer.data()));
    QVERIFY(demuxer->open(upper));
    const qint64 duration = demuxer->durationMs();
    QVERIFY2(qAbs(duration - segmentsMs(known)) <= known.segments.size() * (kVideoFrameMs + kRoundingMs),
             qPrintable(QString::number(duration)));

    // The container alone knows only part of it: its timestamps restart twice.
    FFDemuxer plain;
    QVERIFY(plain.open(upper));
    QVERIFY(plain.durationMs() < duration - 1000);

    getConfig().insert(QString::fromLatin1(kVob_DeMux_Enabled), false);
    QVERIFY(!qobject_cast<FFVobDemuxer*>(FFDemuxer::createDemuxer(upper, false).data()));
    VobEntryManager::sharedInstance()->clearEntry(upper);
}

void TestVob::missingFileGivesNoEntry()
{
    const QString missing = mDir.filePath(QStringLiteral("missing.vob"));
    VobEntryManager* manager = VobEntryManager::sharedInstance();
    QVERIFY(!manager->scanVobEntry(missing));
    QVERIFY(!manager->existEntry(missing));

    FFVobDemuxer demuxer;
    QVERIFY(!demuxer.open(missing));
    QCOMPARE(demuxer.durationMs(), qint64(0));
    QVERIFY(!demuxer.readPacket());
    demuxer.seek(1000);
    demuxer.seekByStream(1000, 0);
}

void TestVob::damagedFilesNeverHang_data()
{
    QTest::addColumn<int>("which");
    QTest::addColumn<QString>("damage");
    for (int i = 0; i < fixtures().size(); ++i) {
        for (const char* damage : {"truncated", "flipped"})
            QTest::newRow(qPrintable(fixtures().at(i).name + QLatin1Char(' ') + QLatin1String(damage)))
                << i << QString::fromLatin1(damage);
    }
}

void TestVob::damagedFilesNeverHang()
{
    QFETCH(int, which);
    QFETCH(QString, damage);
    const QByteArray original = MediaFixtures::readAll(fixture(fixtures().at(which).name));
    QVERIFY(!original.isEmpty());
    QTemporaryDir dir;
    QVERIFY(dir.isValid());

    QVector<QByteArray> copies;
    QRandomGenerator random(quint32(qHash(damage) + which));
    if (damage == QLatin1String("truncated")) {
        for (const double fraction : {0.0005, 0.01, 0.3, 0.55, 0.999})
            copies << original.left(int(original.size() * fraction));
    } else {
        for (const int flips : {16, 256, 4096}) {
            for (int round = 0; round < 3; ++round) {
                QByteArray copy = original;
                for (int i = 0; i < flips; ++i)
                    copy[random.bounded(copy.size())] = char(random.bounded(256));
                copies << copy;
            }
        }
    }

    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < copies.size(); ++i) {
        const QString path = dir.filePath(QStringLiteral("damaged%1.vob").arg(i));
        QVERIFY(MediaFixtures::writeAll(path, copies.at(i)));
        const QSharedPointer<VobEntry> entry = VobEntryManager::sharedInstance()->scanVobEntry(path);
        FFVobDemuxer demuxer;
        if (demuxer.open(path)) {
            int packets = 0;
            while (demuxer.readPacket())
                ++packets;
            QVERIFY(packets < original.size());
            const qint64 duration = demuxer.durationMs();
            for (const qint64 ms : {qint64(-5), qint64(0), duration / 2, duration, duration + 10000}) {
                demuxer.seek(ms);
                demuxer.readPacket();
            }
        }
        if (entry) {
            for (const VobChapterItem& chapter : entry->chapterItems)
                QVERIFY(chapter.durationMs(AVRational{1, 90000}) >= 1);
        }
        VobEntryManager::sharedInstance()->clearEntry(path);
    }
    QVERIFY2(timer.elapsed() < 60000, qPrintable(QString::number(timer.elapsed())));
}

QTEST_GUILESS_MAIN(TestVob)
#include "tst_vob.moc"
