// The FFmpeg helper stand-in: shared pointers that free what they own, and FFmpeg's error texts.

#include <MediaGlue/FFmpegDeleters.h>
#include <MediaGlue/MediaGlue.h>

#include <QtTest>

class TestMediaGlue : public QObject
{
    Q_OBJECT

private slots:
    void nullGivesEmptyPointer();
    void packetLivesWhileReferenced();
    void formatContextIsFreed();
    void errorText();
};

void TestMediaGlue::nullGivesEmptyPointer()
{
    QVERIFY(Nerova::makeAVFormatContextPtr(nullptr).isNull());
    QVERIFY(Nerova::makeAVPacketPtr(nullptr).isNull());
}

void TestMediaGlue::packetLivesWhileReferenced()
{
    QSharedPointer<AVPacket> holder;
    {
        const QSharedPointer<AVPacket> packet = Nerova::makeAVPacketPtr(av_packet_alloc());
        QVERIFY(packet);
        QCOMPARE(av_new_packet(packet.data(), 64), 0);
        holder = packet;
    }
    QCOMPARE(holder->size, 64); // freed only with the last reference (the sanitizer build checks the rest)
}

void TestMediaGlue::formatContextIsFreed()
{
    const QSharedPointer<AVFormatContext> context = Nerova::makeAVFormatContextPtr(avformat_alloc_context());
    QVERIFY(context);
    QVERIFY(context->pb == nullptr);
}

void TestMediaGlue::errorText()
{
    QCOMPARE(Nerova::ffmpegErrorText(AVERROR(ENOENT)), QString("No such file or directory"));
    QCOMPARE(Nerova::ffmpegErrorText(AVERROR_EOF), QString("End of file"));
}

QTEST_GUILESS_MAIN(TestMediaGlue)
#include "tst_mediaglue.moc"
