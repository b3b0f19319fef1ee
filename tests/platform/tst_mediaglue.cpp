// Guards the FFmpeg helper stand-in: shared pointers that free what they own, and FFmpeg's error texts.
#include <MediaGlue/FFmpegDeleters.h>
#include <MediaGlue/MediaGlue.h>

#include <QtTest>

class TestMediaGlue : public QObject
{
    Q_OBJECT

private slots:
    void pointersAndErrorTexts()
    {
        QVERIFY(Nerova::makeAVFormatContextPtr(nullptr).isNull());
        QVERIFY(Nerova::makeAVPacketPtr(nullptr).isNull());
        QVERIFY(Nerova::makeAVFormatContextPtr(avformat_alloc_context()));
        QSharedPointer<AVPacket> holder;
        {
            const QSharedPointer<AVPacket> packet = Nerova::makeAVPacketPtr(av_packet_alloc());
            QCOMPARE(av_new_packet(packet.data(), 64), 0);
            holder = packet;
        }
        // Freed only with the last reference; the sanitizer build checks the rest.
        QCOMPARE(holder->size, 64);
        QCOMPARE(Nerova::ffmpegErrorText(AVERROR(ENOENT)), QString("No such file or directory"));
        QCOMPARE(Nerova::ffmpegErrorText(AVERROR_EOF), QString("End of file"));
    }
};

QTEST_GUILESS_MAIN(TestMediaGlue)
#include "tst_mediaglue.moc"
