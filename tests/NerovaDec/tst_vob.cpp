// VOB files whose timestamps restart inside them read as one continuous timeline: chapters, re-timing, seeks.
#include <NerovaDec/FFDemuxer.h>
#include <NerovaDec/FFVobDemuxer.h>
#include <NerovaDec/VobEntry.h>
#include <base/Config.h>

#include "MediaFixtures.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/avutil.h>
}

#include <QtTest>

#include <algorithm>
#include <map>
#include <numeric>

using namespace Nerova;

namespace {

// A fixture: program streams encoded one by one (seconds each; video and audio, or audio only), joined
// byte for byte so that timestamps restart inside one file.
struct Fixture
{
    QString name;
    QVector<double> segments;
    bool video;
};

const QVector<Fixture>& fixtures()
{
    static const QVector<Fixture> all{
        {QStringLiteral("joined.vob"), {3.0, 2.0, 1.6}, true},
        {QStringLiteral("audio.vob"), {2.0, 1.5}, false},
    };
    return all;
}

qint64 toMs(qint64 value, AVRational timeBase)
{
    return av_rescale_q(value, timeBase, AVRational{1, 1000});
}

} // namespace

class TestVob : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void chaptersMakeOneTimeline_data();
    void chaptersMakeOneTimeline();
    void handMadePacketsFollowTheirChapter();
    void seekLandsInEachChapter_data();
    void seekLandsInEachChapter();
    void factoryAndCache();
    void damagedFilesNeverHang();

private:
    QString fixture(const QString& name) const { return mDir.filePath(name); }

    QTemporaryDir mDir;
};

void TestVob::initTestCase()
{
    // Damaged files make libavformat complain about every packet; the results are what is checked.
    av_log_set_level(AV_LOG_QUIET);
    QVERIFY(mDir.isValid());
    int segment = 0;
    for (const Fixture& made : fixtures()) {
        QByteArray joined;
        for (const double seconds : made.segments) {
            const QString path = mDir.filePath(QStringLiteral("segment%1.vob").arg(++segment));
            // Video at a constant rate like a DVD's, so that byte positions keep pace with time.
            const QString line =
                QStringLiteral(
                    "-nostdin -v error %1 -f lavfi -i sine=frequency=%2:sample_rate=44100 -t %3 %4 -c:a "
                    "ac3 -f vob")
                    .arg(made.video ? QStringLiteral("-f lavfi -i testsrc2=size=320x240:rate=25") : QString())
                    .arg(300 + 100 * segment)
                    .arg(seconds)
                    .arg(made.video
                             ? QStringLiteral("-c:v mpeg2video -b:v 1500k -minrate 1500k -maxrate 1500k "
                                              "-bufsize 224k")
                             : QString());
            const QStringList arguments = line.split(QLatin1Char(' '), Qt::SkipEmptyParts) << path;
            QVERIFY2(MediaFixtures::run(MediaFixtures::ffmpeg(), arguments), qPrintable(path));
            joined += MediaFixtures::readAll(path);
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

void TestVob::chaptersMakeOneTimeline_data()
{
    QTest::addColumn<int>("which");
    for (int i = 0; i < fixtures().size(); ++i)
        QTest::newRow(qPrintable(fixtures().at(i).name)) << i;
}

void TestVob::chaptersMakeOneTimeline()
{
    QFETCH(int, which);
    const Fixture& known = fixtures().at(which);
    const QString path = fixture(known.name);
    const QSharedPointer<FFDemuxer> demuxer = FFDemuxer::createDemuxer(path, true);
    QVERIFY(qobject_cast<FFVobDemuxer*>(demuxer.data()));
    QVERIFY(demuxer->open(path));
    const QSharedPointer<VobEntry> entry = VobEntryManager::sharedInstance()->scanVobEntry(path);
    QVERIFY(entry);
    FFDemuxer stored; // the same file as stored, read in step
    QVERIFY(stored.open(path));
    const QSharedPointer<ContainerInfo> info = stored.containerInfo();

    // Every stream has one chapter per joined segment; each continues the previous one of its stream:
    // same pts, one tick more dts, later bytes.
    std::map<int, int> counts;
    QHash<int, VobChapterItem> previous;
    for (const VobChapterItem& chapter : entry->chapterItems) {
        ++counts[chapter.streamIndex];
        QVERIFY(chapter.tailPosInFile >= chapter.headPosInFile && chapter.headPosInFile >= 0);
        const VobChapterItem before = previous.value(chapter.streamIndex, chapter);
        if (previous.contains(chapter.streamIndex)) {
            QCOMPARE(chapter.headPts, before.headPts + (before.lastPts - before.firstPts));
            QCOMPARE(chapter.headDts, before.headDts + (before.lastDts - before.firstDts) + 1);
            QVERIFY(chapter.headPosInFile > before.tailPosInFile);
        } else {
            QVERIFY(chapter.headPts == chapter.firstPts && chapter.headDts == chapter.firstDts);
        }
        previous.insert(chapter.streamIndex, chapter);
    }
    QCOMPARE(int(counts.size()), info->streams.size());
    for (const auto& [stream, count] : counts)
        QCOMPARE(count, known.segments.size());
    QVERIFY(!entry->audioPtsMissing);

    // The duration: the video chapters' sum, else the longest audio stream's; about the segments' sum.
    qint64 expected = 0;
    qint64 all = 0;
    for (const VobChapterItem& chapter : entry->chapterItems) {
        const qint64 length = chapter.durationMs(info->getStreamTimeBase(chapter.streamIndex));
        all += length;
        if (chapter.mediaType == (known.video ? AVMEDIA_TYPE_VIDEO : AVMEDIA_TYPE_AUDIO))
            expected += length;
    }
    QCOMPARE(demuxer->durationMs(), expected);
    // Each segment is measured from its first to its last frame (40 ms video, 35 ms audio frames).
    const double seconds = std::accumulate(known.segments.cbegin(), known.segments.cend(), 0.0);
    QVERIFY2(qAbs(expected - qRound64(seconds * 1000.0) + 40 * known.segments.size()) <=
                 50 * known.segments.size(),
             qPrintable(QString::number(expected)));
    // The chapter axis: 0 is the first chapter, the end of the last one still a chapter, beyond it none.
    QCOMPARE(entry->getChapterItem(0, &stored)->headPosInFile, entry->chapterItems.first().headPosInFile);
    QVERIFY(!entry->getChapterItem(-1, &stored));
    QVERIFY(entry->getChapterItem(all, &stored));
    QVERIFY(!entry->getChapterItem(all + 1, &stored));

    // Read: dts keep rising, every stream moves once at every join and only there, the first chapter
    // keeps its stored timestamps, and a missing pts stays missing rather than becoming a shifted marker.
    QHash<int, qint64> lastDts;
    QHash<int, qint64> lastShift;
    int packets = 0;
    int withoutPosition = 0;
    int joins = 0;
    while (const QSharedPointer<AVPacket> packet = demuxer->readPacket()) {
        const QSharedPointer<AVPacket> original = stored.readPacket();
        QVERIFY(original);
        QCOMPARE(packet->pos, original->pos);
        ++packets;
        withoutPosition += packet->pos < 0 ? 1 : 0;
        QCOMPARE(packet->pts == AV_NOPTS_VALUE, original->pts == AV_NOPTS_VALUE);
        const int stream = packet->stream_index;
        const qint64 shift = packet->dts - original->dts;
        QVERIFY2(packet->dts > lastDts.value(stream, AV_NOPTS_VALUE),
                 qPrintable(QStringLiteral("stream %1 packet %2").arg(stream).arg(packets)));
        joins += shift != lastShift.value(stream, 0) ? 1 : 0;
        lastDts.insert(stream, packet->dts);
        lastShift.insert(stream, shift);
    }
    QVERIFY(!stored.readPacket());
    QVERIFY(packets > 50);
    QCOMPARE(joins, lastDts.size() * (known.segments.size() - 1));
    // The parsers' packets without a byte position are among what is tested.
    QVERIFY(withoutPosition > 0);
}

void TestVob::handMadePacketsFollowTheirChapter()
{
    // Packets made by hand, as FFmpeg may hand them out, re-timed against a real file's chapters.
    const QString path = fixture(fixtures().first().name);
    const QSharedPointer<VobEntry> entry = VobEntryManager::sharedInstance()->scanVobEntry(path);
    QVERIFY(entry);
    FFVobDemuxer demuxer;
    QVERIFY(demuxer.open(path));
    const QVector<VobChapterItem>& chapters = entry->chapterItems;
    // A chapter after a join, where re-timing moves timestamps, and the chapter before it in its stream.
    const auto later = std::find_if(chapters.cbegin(), chapters.cend(), [](const VobChapterItem& chapter) {
        return chapter.headPts != chapter.firstPts;
    });
    QVERIFY(later != chapters.cend());
    const VobChapterItem second = *later;
    const VobChapterItem first = *std::find_if(chapters.cbegin(), chapters.cend(), [&](const auto& chapter) {
        return chapter.streamIndex == second.streamIndex;
    });
    QVERIFY(first.headPts == first.firstPts && second.firstDts + 100 < first.lastDts);

    // Each packet is re-timed in turn, so the demuxer knows the one before; gives its (pts, dts).
    using Times = std::pair<qint64, qint64>;
    const auto retimed = [&demuxer](const VobChapterItem& chapter, qint64 pos, qint64 pts, qint64 dts) {
        QSharedPointer<AVPacket> packet(av_packet_alloc(), [](AVPacket* p) { av_packet_free(&p); });
        packet->stream_index = chapter.streamIndex;
        packet->pos = pos;
        packet->pts = pts;
        packet->dts = dts;
        demuxer.adjustPacketPtsDts(packet);
        return Times(packet->pts, packet->dts);
    };
    constexpr qint64 none = AV_NOPTS_VALUE;
    // No dts, or no pts, stays so; the other timestamp moves.
    QCOMPARE(retimed(second, second.headPosInFile, second.firstPts + 10, none),
             Times(second.headPts + 10, none));
    QCOMPARE(retimed(second, second.headPosInFile, none, second.firstDts + 20),
             Times(none, second.headDts + 20));
    // Without a byte position a packet follows the previous packet of its stream...
    QCOMPARE(retimed(second, -1, second.firstPts + 30, second.firstDts + 30),
             Times(second.headPts + 30, second.headDts + 30));
    // ...unless its dts stepped back: then it opens the stream's next chapter.
    QCOMPARE(retimed(first, first.tailPosInFile, first.lastPts, first.lastDts),
             Times(first.lastPts, first.lastDts));
    QCOMPARE(retimed(second, -1, second.firstPts + 40, second.firstDts + 40),
             Times(second.headPts + 40, second.headDts + 40));
    demuxer.adjustPacketPtsDts({});

    // Where audio began without pts, a later audio chapter's packet without one takes its moved dts
    // (the demuxer shares the cached entry; cleanup() drops it).
    const auto audio = std::find_if(chapters.cbegin(), chapters.cend(), [](const VobChapterItem& chapter) {
        return chapter.mediaType == AVMEDIA_TYPE_AUDIO && chapter.headDts != chapter.firstDts;
    });
    QVERIFY(audio != chapters.cend());
    entry->audioPtsMissing = true;
    QCOMPARE(retimed(*audio, audio->headPosInFile, none, audio->firstDts + 50),
             Times(audio->headDts + 50, audio->headDts + 50));
}

void TestVob::seekLandsInEachChapter_data()
{
    chaptersMakeOneTimeline_data();
}

void TestVob::seekLandsInEachChapter()
{
    QFETCH(int, which);
    const QString path = fixture(fixtures().at(which).name);
    FFVobDemuxer demuxer;
    QVERIFY(demuxer.open(path));
    const QSharedPointer<ContainerInfo> info = demuxer.containerInfo();
    const QSharedPointer<VobEntry> entry = VobEntryManager::sharedInstance()->scanVobEntry(path);
    QVERIFY(info && entry);
    const int stream =
        info->videoStreams.isEmpty() ? info->audioStreams.first()->index : info->videoStreams.first()->index;
    const AVRational timeBase = info->getStreamTimeBase(stream);

    // The chapters of the stream the duration is measured on, laid end to end from 0.
    QVector<VobChapterItem> chapters;
    for (const VobChapterItem& chapter : entry->chapterItems) {
        if (chapter.streamIndex == stream)
            chapters << chapter;
    }
    const qint64 startMs = toMs(chapters.first().headPts, timeBase);
    qint64 acc = 0;
    for (const VobChapterItem& chapter : chapters) {
        const qint64 length = chapter.durationMs(timeBase);
        for (const qint64 into : {qint64(100), length / 2, length - 100}) {
            const qint64 target = acc + into;
            demuxer.seek(target);
            QSharedPointer<AVPacket> packet;
            do {
                packet = demuxer.readPacket(stream);
            } while (packet && packet->pts == AV_NOPTS_VALUE);
            QVERIFY(packet);
            // Reading goes on from the chapter's head or after it, never from an earlier chapter.
            QVERIFY(packet->pos < 0 || packet->pos >= chapter.headPosInFile);
            const qint64 landedMs = toMs(packet->pts, timeBase) - startMs;
            QVERIFY2(qAbs(landedMs - target) <= 1000,
                     qPrintable(QStringLiteral("target %1 landed %2").arg(target).arg(landedMs)));
        }
        acc += length;
    }

    // Times no chapter holds leave the read position alone; the stream index does not matter.
    demuxer.seek(acc / 2);
    const QSharedPointer<AVPacket> expected = demuxer.readPacket();
    for (const qint64 nowhere : {qint64(-1), acc + 1000}) {
        demuxer.seek(acc / 2);
        demuxer.seek(nowhere);
        QCOMPARE(demuxer.readPacket()->pos, expected->pos);
    }
    demuxer.seekByStream(acc / 2, 99); // the stream index does not matter
    QCOMPARE(demuxer.readPacket()->pos, expected->pos);
}

void TestVob::factoryAndCache()
{
    // With the key on, a VOB in any letter case gets the VOB demuxer and the whole file's duration, which
    // it keeps after the cache lets the entry go.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString upper = dir.filePath(QStringLiteral("SOURCE.VoB"));
    QVERIFY(QFile::copy(fixture(fixtures().first().name), upper));
    VobEntryManager* manager = VobEntryManager::sharedInstance();

    getConfig().insert(QString::fromLatin1(kVob_DeMux_Enabled), true);
    const QSharedPointer<FFDemuxer> demuxer = FFDemuxer::createDemuxer(upper, false);
    QVERIFY(qobject_cast<FFVobDemuxer*>(demuxer.data()));
    QVERIFY(demuxer->open(upper));
    QVERIFY(manager->existEntry(upper));
    const qint64 duration = demuxer->durationMs();
    QVERIFY2(duration > 6000, qPrintable(QString::number(duration))); // the container alone knows 3 s
    manager->clearEntry(upper);
    QVERIFY(!manager->existEntry(upper));
    QCOMPARE(demuxer->durationMs(), duration);
    demuxer->close();
    QCOMPARE(demuxer->durationMs(), qint64(0));

    getConfig().insert(QString::fromLatin1(kVob_DeMux_Enabled), false);
    QVERIFY(!qobject_cast<FFVobDemuxer*>(FFDemuxer::createDemuxer(upper, false).data()));
}

void TestVob::damagedFilesNeverHang()
{
    // Cut short or with bytes overwritten: scanning, reading and seeking end, and chapters stay measurable.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QRandomGenerator random(7);
    for (const Fixture& made : fixtures()) {
        const QByteArray original = MediaFixtures::readAll(fixture(made.name));
        for (const int damage : {1, 50, 999, -16, -256, -4096}) {
            QByteArray copy =
                original.left(damage > 0 ? int(original.size() * (damage / 1000.0)) : original.size());
            for (int i = 0; i < -damage; ++i)
                copy[random.bounded(copy.size())] = char(random.bounded(256));
            const QString path = dir.filePath(QStringLiteral("damaged%1.vob").arg(damage));
            QVERIFY(MediaFixtures::writeAll(path, copy));
            const QSharedPointer<VobEntry> entry = VobEntryManager::sharedInstance()->scanVobEntry(path);
            FFVobDemuxer demuxer;
            if (demuxer.open(path)) {
                int packets = 0;
                while (demuxer.readPacket())
                    ++packets;
                QVERIFY(packets < original.size());
                for (const qint64 ms : {qint64(-5), demuxer.durationMs() / 2, demuxer.durationMs() + 10000}) {
                    demuxer.seek(ms);
                    demuxer.readPacket();
                }
            }
            for (const VobChapterItem& chapter : entry ? entry->chapterItems : QVector<VobChapterItem>())
                QVERIFY(chapter.durationMs(AVRational{1, 90000}) >= 1);
            VobEntryManager::sharedInstance()->clearEntry(path);
        }
    }
}

QTEST_GUILESS_MAIN(TestVob)
#include "tst_vob.moc"
