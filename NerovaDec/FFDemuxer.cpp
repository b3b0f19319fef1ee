#include "FFDemuxer.h"

#include "AsfFamily.h"
#include "FFVobDemuxer.h"
#include "TimestampMath.h"

#include <base/Config.h>

#include <MediaGlue/FFmpegDeleters.h>
#include <MediaGlue/MediaGlue.h>
#include <NerovaBase/NerovaBase.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>

#include <limits>
#include <memory>

namespace Nerova {

namespace {

constexpr const char* kLogFile = "NerovaDec/FFDemuxer";

// The largest container duration in microseconds to which the rounding allowance can still be added.
constexpr int64_t kMaxRoundableDuration = std::numeric_limits<int64_t>::max() - 4999;

void writeLog(const Record& record)
{
    NerovaBaseEntry()->logSink()->write(record);
}

qint64 msToUs(qint64 ms)
{
    return TimestampMath::mul(ms, 1000);
}

// The first record of the list that describes the stream at streamIndex, or none.
template <typename Record>
QSharedPointer<Record> findStream(const QVector<QSharedPointer<Record>>& records, int streamIndex)
{
    for (const QSharedPointer<Record>& record : records) {
        if (record->index == streamIndex)
            return record;
    }
    return {};
}

// A time after the start of the presentation as a time on the container's clock, in milliseconds.
qint64 presentationTarget(const AVFormatContext* context, qint64 ms)
{
    if (ms > 0 && context->start_time > 0)
        return TimestampMath::add(ms, context->start_time / 1000);
    return ms;
}

// Whether path is to be read by the VOB demuxer, which lays a VOB file's restarting timestamps onto one
// timeline.
bool wantsVobDemuxer(const QString& path, bool forceVob)
{
    if (forceVob)
        return true;
    if (QFileInfo(path).suffix().toLower() != QLatin1String("vob"))
        return false;
    return getConfig().value(QString::fromLatin1(kVob_DeMux_Enabled)).toBool();
}

// The in-memory files by path; a QByteArray shares its bytes, so every open reads the same memory.
struct MemoryFiles
{
    QMutex mutex;
    QHash<QString, QByteArray> files;
};

MemoryFiles& memoryFiles()
{
    static MemoryFiles instance;
    return instance;
}

// A device over the in-memory file at path, or none when path is not one.
QSharedPointer<QIODevice> openMemoryFile(const QString& path)
{
    MemoryFiles& memory = memoryFiles();
    QMutexLocker lock(&memory.mutex);
    const auto found = memory.files.constFind(path);
    if (found == memory.files.cend())
        return {};
    auto buffer = QSharedPointer<QBuffer>::create();
    buffer->setData(*found);
    buffer->open(QIODevice::ReadOnly);
    return buffer;
}

} // namespace

int qrc_read_packet(void* opaque, uint8_t* buffer, int size)
{
    auto* device = static_cast<QIODevice*>(opaque);
    if (!device)
        return -1;
    const qint64 count = device->read(reinterpret_cast<char*>(buffer), size);
    if (count > 0)
        return int(count);
    // The end of the data must read as end of file: libavformat takes any other code for a read error,
    // and readers that tell the two apart (the cover-picture test) would see every resource fail.
    return count == 0 && device->atEnd() ? AVERROR_EOF : -1;
}

int64_t qrc_seek(void* opaque, int64_t offset, int whence)
{
    auto* device = static_cast<QIODevice*>(opaque);
    if (!device)
        return -1;
    qint64 target = 0;
    switch (whence) {
    case SEEK_SET:
        target = offset;
        break;
    case SEEK_CUR:
        target = TimestampMath::add(offset, device->pos());
        break;
    case SEEK_END:
        target = TimestampMath::add(offset, device->size());
        break;
    default:
        // The size query (AVSEEK_SIZE) and forced seeks are not answered.
        return -1;
    }
    if (!device->seek(target))
        return -1;
    return device->pos();
}

FFDemuxer::FFDemuxer(QObject* parent) : BasicObject(parent) {}

FFDemuxer::~FFDemuxer() = default;

bool FFDemuxer::open(const QString& path)
{
    assertOwnThread();
    if (path.isEmpty())
        return false;
    mCoverVerdict.store(-1);
    if (!openContainer(path, Q_FUNC_INFO))
        return false;

    if (avformat_find_stream_info(mFormatCtx.data(), nullptr) < 0) {
        writeLog(Record(Q_FUNC_INFO, __LINE__, kLogFile, nullptr, 0)
                 << "---demux--- avformat_find_stream_info failed");
        mFormatCtx.reset();
        return false;
    }

    mFilePath = path;
    return true;
}

bool FFDemuxer::openContainer(const QString& path, const char* caller)
{
    int result = 0;
    if (QSharedPointer<QIODevice> memory = openMemoryFile(path)) {
        mQrcFile = memory;
        result = openResource();
    } else if (!path.startsWith(QLatin1Char(':'))) {
        AVFormatContext* context = nullptr;
        result = avformat_open_input(&context, path.toUtf8().constData(), nullptr, nullptr);
        mFormatCtx = makeAVFormatContextPtr(context);
    } else {
        mQrcFile.reset(new QFile(path));
        if (!mQrcFile->open(QIODevice::ReadOnly)) {
            writeLog(Record(caller, __LINE__, kLogFile, nullptr, 0) << "mQrcFile->open failed.");
            return false;
        }
        result = openResource();
    }

    if (result != 0) {
        writeLog(Record(caller, __LINE__, kLogFile, nullptr, 0)
                 << "---demux--- avformat_open_input: " << result << ": " << ffmpegErrorText(result));
        writeLog(Record(caller, __LINE__, kLogFile, nullptr, 0)
                 << "---demux--- Could not open the file . fileSize :" << QFileInfo(path).size());
        mFormatCtx.reset();
        return false;
    }
    return true;
}

// Opens mQrcFile (a Qt resource or an in-memory file) through a custom I/O context and makes the result
// mFormatCtx. The I/O context and the file belong to the format context's owner: they are freed after the
// context is closed, whoever holds it last. Returns avformat_open_input's code.
int FFDemuxer::openResource()
{
    // Destroyed by the last holder of the format context: it closes the context first, then frees the
    // I/O context and lets the file go.
    struct ResourceInput
    {
        QSharedPointer<QIODevice> file;
        AVIOContextPtr io;
        QSharedPointer<AVFormatContext> context;

        ~ResourceInput()
        {
            context.reset();
            io.reset();
        }
    };
    auto input = std::make_shared<ResourceInput>();
    input->file = mQrcFile;

    // No buffer of our own: libavformat gives the context one sized for probing on its first read.
    input->io.reset(avio_alloc_context(nullptr, 0, 0, mQrcFile.data(), qrc_read_packet, nullptr, qrc_seek));
    if (!input->io)
        return AVERROR(ENOMEM);

    AVFormatContext* context = avformat_alloc_context();
    if (!context)
        return AVERROR(ENOMEM);
    context->pb = input->io.get();
    context->flags |= AVFMT_FLAG_CUSTOM_IO;

    // On failure libavformat frees the context itself and leaves the custom I/O context to us.
    const int result = avformat_open_input(&context, nullptr, nullptr, nullptr);
    if (result != 0)
        return result;

    // The pointer handed out owns the whole input; the context itself is closed through the glue's pointer.
    input->context = makeAVFormatContextPtr(context);
    mFormatCtx = QSharedPointer<AVFormatContext>(context, [input](AVFormatContext*) {});
    return 0;
}

void FFDemuxer::close()
{
    mFormatCtx.reset();
    mCoverVerdict.store(-1);
}

void FFDemuxer::seek(qint64 ms)
{
    if (!mFormatCtx)
        return;
    AVFormatContext* context = mFormatCtx.data();
    const qint64 target = presentationTarget(context, ms);
    avformat_flush(context);
    const int result = av_seek_frame(context, -1, msToUs(target), AVSEEK_FLAG_BACKWARD);
    if (result < 0) {
        writeLog(Record(Q_FUNC_INFO, __LINE__, kLogFile, nullptr, 0)
                 << "---player--- av_seek_frame: " << result << ": " << ffmpegErrorText(result));
    }
}

void FFDemuxer::seekByStream(qint64 ms, int streamIndex)
{
    if (streamIndex < 0 || !mFormatCtx || streamIndex >= int(mFormatCtx->nb_streams))
        return;
    AVFormatContext* context = mFormatCtx.data();
    const qint64 target = presentationTarget(context, ms);
    avformat_flush(context);
    const int64_t timestamp =
        av_rescale_q(target, AVRational{1, 1000}, context->streams[streamIndex]->time_base);
    const int result = av_seek_frame(context, streamIndex, timestamp, AVSEEK_FLAG_BACKWARD);
    if (result < 0) {
        // Some demuxers cannot seek on one stream but can over all of them.
        av_seek_frame(context, -1, msToUs(target), AVSEEK_FLAG_BACKWARD);
        writeLog(Record(Q_FUNC_INFO, __LINE__, kLogFile, nullptr, 0)
                 << "---player--- seekByStream streamIndex: " << streamIndex << ",res : " << result << ": "
                 << ffmpegErrorText(result));
    }
}

void FFDemuxer::seekByFilePos(qint64 bytePos)
{
    if (!mFormatCtx)
        return;
    AVFormatContext* context = mFormatCtx.data();
    avformat_flush(context);
    const int result = av_seek_frame(context, -1, bytePos, AVSEEK_FLAG_BYTE);
    if (result < 0) {
        writeLog(Record(Q_FUNC_INFO, __LINE__, kLogFile, nullptr, 0)
                 << "---player--- seekByFilePos av_seek_frame: " << result << ": "
                 << ffmpegErrorText(result));
    }
}

QSharedPointer<AVPacket> FFDemuxer::readPacket()
{
    if (!mFormatCtx)
        return {};
    QSharedPointer<AVPacket> packet = makeAVPacketPtr(av_packet_alloc());
    if (!packet)
        return {};
    // A packet of size 0 ends reading just as the end of the file does.
    if (av_read_frame(mFormatCtx.data(), packet.data()) != 0 || packet->size <= 0)
        return {};
    return packet;
}

QSharedPointer<AVPacket> FFDemuxer::readPacket(int streamIndex)
{
    for (;;) {
        QSharedPointer<AVPacket> packet = readPacket();
        if (!packet || packet->stream_index == streamIndex)
            return packet;
    }
}

qint64 FFDemuxer::durationMs()
{
    if (!mFormatCtx)
        return 0;
    const int64_t duration = mFormatCtx->duration;
    return duration > 0 ? duration / 1000 : 0;
}

QSharedPointer<AVFormatContext> FFDemuxer::formatCtx() const
{
    return mFormatCtx;
}

QSharedPointer<ContainerInfo> FFDemuxer::containerInfo() const
{
    if (!mFormatCtx)
        return {};
    const AVFormatContext* context = mFormatCtx.data();

    auto info = QSharedPointer<ContainerInfo>::create();
    // Rounded up by 5 ms, unless that would overflow a duration near the 64-bit limit.
    const int64_t duration = context->duration;
    info->durationMs = (duration < kMaxRoundableDuration ? duration + 5000 : duration) / 1000;
    info->startTimeSec = static_cast<qint64>(static_cast<float>(context->start_time) / 1000000.0f);
    info->bitRate = context->bit_rate;
    if (context->iformat && context->iformat->long_name)
        info->formatName = QString::fromUtf8(context->iformat->long_name);

    for (unsigned int i = 0; i < context->nb_streams; ++i) {
        AVStream* stream = context->streams[i];
        const int index = int(i);
        switch (stream->codecpar->codec_type) {
        case AVMEDIA_TYPE_VIDEO: {
            QSharedPointer<CVideoStreamInfo> video = makeVideoStreamInfo(stream, index);
            // The cover check opens the file again; it can only say yes for this demuxer's own
            // format when that is ASF-family, so every other file is spared the second open, and its
            // verdict holds until the next open.
            if (info->videoStreams.isEmpty() && !video->isAttachedPic && isAsfFamily(context)) {
                int verdict = mCoverVerdict.load();
                if (verdict < 0) {
                    verdict = isCoverStream(mFilePath, index) ? 1 : 0;
                    mCoverVerdict.store(verdict);
                }
                video->isAttachedPic = verdict == 1;
            }
            info->videoStreams.append(video);
            break;
        }
        case AVMEDIA_TYPE_AUDIO:
            info->audioStreams.append(makeAudioStreamInfo(stream, index));
            break;
        case AVMEDIA_TYPE_SUBTITLE: {
            auto subtitle = QSharedPointer<CSubtitleStreamInfo>::create();
            subtitle->index = index;
            const AVCodecID codecId = stream->codecpar->codec_id;
            if (codecId != AV_CODEC_ID_NONE) {
                if (const AVCodecDescriptor* descriptor = avcodec_descriptor_get(codecId))
                    subtitle->isTextSub = (descriptor->props & AV_CODEC_PROP_TEXT_SUB) != 0;
            }
            info->subtitleStreams.append(subtitle);
            break;
        }
        default:
            break;
        }
        info->streams.append(makeStreamInfo(stream, index));
    }
    return info;
}

QSharedPointer<CVideoStreamInfo> FFDemuxer::videoStreamInfo(int streamIndex) const
{
    const QSharedPointer<ContainerInfo> info = containerInfo();
    return info ? findStream(info->videoStreams, streamIndex) : nullptr;
}

QSharedPointer<CAudioStreamInfo> FFDemuxer::audioStreamInfo(int streamIndex) const
{
    const QSharedPointer<ContainerInfo> info = containerInfo();
    return info ? findStream(info->audioStreams, streamIndex) : nullptr;
}

QSharedPointer<FFDemuxer> FFDemuxer::createDemuxer(const QString& path, bool forceVob)
{
    if (wantsVobDemuxer(path, forceVob))
        return QSharedPointer<FFDemuxer>(new FFVobDemuxer());
    return QSharedPointer<FFDemuxer>(new FFDemuxer());
}

void FFDemuxer::addMemoryFile(const QString& path, const QByteArray& bytes)
{
    MemoryFiles& memory = memoryFiles();
    QMutexLocker lock(&memory.mutex);
    memory.files.insert(path, bytes);
}

void FFDemuxer::removeMemoryFile(const QString& path)
{
    MemoryFiles& memory = memoryFiles();
    QMutexLocker lock(&memory.mutex);
    memory.files.remove(path);
}

} // namespace Nerova
