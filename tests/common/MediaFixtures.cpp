// Makes test media with the real ffmpeg and exiftool and reads results back (see MediaFixtures.h).
#include "MediaFixtures.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QVector>
#include <QtEndian>

namespace MediaFixtures {

bool run(const QString& program, const QStringList& arguments, QByteArray* output, int timeoutMs)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(program, arguments);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return false;
    }
    if (output)
        *output = process.readAll();
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

ProgramRun runProgram(const QString& program, const QStringList& arguments, const QString& workDir,
                      int timeoutMs)
{
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    process.setWorkingDirectory(workDir);
    process.start(program, arguments);
    ProgramRun result;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    if (process.exitStatus() == QProcess::NormalExit)
        result.exitCode = process.exitCode();
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

QString ffmpeg()
{
    return QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
}

QString ffprobe()
{
    return QStandardPaths::findExecutable(QStringLiteral("ffprobe"));
}

bool makeImage(const QString& path, const QString& source, const QStringList& extraOutputArguments)
{
    QStringList arguments{QStringLiteral("-v"),
                          QStringLiteral("error"),
                          QStringLiteral("-y"),
                          QStringLiteral("-f"),
                          QStringLiteral("lavfi"),
                          QStringLiteral("-i"),
                          source,
                          QStringLiteral("-frames:v"),
                          QStringLiteral("1")};
    arguments << extraOutputArguments << path;
    return run(ffmpeg(), arguments);
}

bool makeVideo(const QString& path, const QString& size, int seconds, const QStringList& extraOutputArguments)
{
    QStringList arguments{"-v",
                          "error",
                          "-y",
                          "-f",
                          "lavfi",
                          "-i",
                          QStringLiteral("testsrc2=size=%1:rate=25:duration=%2").arg(size).arg(seconds),
                          "-pix_fmt",
                          "yuv420p",
                          "-c:v",
                          "libx264",
                          "-preset",
                          "ultrafast",
                          "-crf",
                          "10"};
    arguments << extraOutputArguments << path;
    return run(ffmpeg(), arguments);
}

bool makeCompressible(const QString& path, const QString& pattern)
{
    const QString suffix = QFileInfo(path).suffix();
    if (suffix == QLatin1String("mp4"))
        return makeVideo(path);
    if (suffix == QLatin1String("jpg"))
        return makeImage(path, pattern, {QStringLiteral("-q:v"), QStringLiteral("1")});
    if (suffix == QLatin1String("webp"))
        return makeImage(path, pattern, {QStringLiteral("-lossless"), QStringLiteral("1")});
    return makeImage(path, pattern);
}

double ssim(const QString& reference, const QString& distorted)
{
    QByteArray output;
    // Compared on luma: chroma subsampling is a JPEG's designed loss, not a fault.
    const QStringList arguments{
        QStringLiteral("-v"),     QStringLiteral("info"),
        QStringLiteral("-i"),     reference,
        QStringLiteral("-i"),     distorted,
        QStringLiteral("-lavfi"), QStringLiteral("[0:v]format=gray[a];[1:v]format=gray[b];[a][b]ssim"),
        QStringLiteral("-f"),     QStringLiteral("null"),
        QStringLiteral("-")};
    if (!run(ffmpeg(), arguments, &output))
        return -1;
    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral("All:([0-9.]+)")).match(QString::fromUtf8(output));
    return match.hasMatch() ? match.captured(1).toDouble() : -1;
}

QString frameSize(const QString& path)
{
    QByteArray output;
    const QStringList arguments{
        QStringLiteral("-v"),  QStringLiteral("error"),         QStringLiteral("-select_streams"),
        QStringLiteral("v:0"), QStringLiteral("-show_entries"), QStringLiteral("stream=width,height"),
        QStringLiteral("-of"), QStringLiteral("csv=s=x:p=0"),   path};
    if (!run(ffprobe(), arguments, &output))
        return {};
    return QString::fromUtf8(output).trimmed();
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeAll(const QString& path, const QByteArray& data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

bool setMp4Rotation(const QString& path, int degrees)
{
    // The 3x3 matrix of the 'tkhd' box in 16.16 fixed point: a b u / c d v / x y w.
    static const QMap<int, QVector<qint32>> matrices{{0, {0x10000, 0, 0, 0x10000}},
                                                     {90, {0, 0x10000, -0x10000, 0}},
                                                     {180, {-0x10000, 0, 0, -0x10000}},
                                                     {270, {0, -0x10000, 0x10000, 0}}};
    if (!matrices.contains(degrees))
        return false;
    QByteArray data = readAll(path);
    const int box = data.indexOf("tkhd");
    if (box < 0 || data.at(box + 4) != 0) // version 0 only
        return false;
    const int matrix = box + 44;
    const QVector<qint32>& values = matrices.value(degrees);
    const int offsets[] = {0, 4, 12, 16}; // a, b, c, d
    for (int i = 0; i < 4; ++i) {
        const quint32 value = quint32(values.at(i));
        for (int byte = 0; byte < 4; ++byte)
            data[matrix + offsets[i] + byte] = char((value >> (24 - 8 * byte)) & 0xff);
    }
    return writeAll(path, data);
}

namespace {

quint32 crc32(const QByteArray& data)
{
    quint32 crc = 0xFFFFFFFFu;
    for (const char byte : data) {
        crc ^= quint8(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

} // namespace

// One PNG chunk: length, type, payload and the CRC over type and payload.
static QByteArray pngChunk(const QByteArray& type, const QByteArray& payload)
{
    QByteArray chunk(4, '\0');
    qToBigEndian(quint32(payload.size()), chunk.data());
    chunk += type + payload;
    QByteArray crc(4, '\0');
    qToBigEndian(crc32(type + payload), crc.data());
    return chunk + crc;
}

QByteArray hugePng(quint32 width, quint32 height)
{
    QByteArray header(13, '\0');
    qToBigEndian(width, header.data());
    qToBigEndian(height, header.data() + 4);
    header[8] = 8; // bit depth
    header[9] = 2; // RGB
    const QByteArray rows(8 * (1 + 3 * int(width)), '\0');
    const QByteArray zlib = qCompress(rows).mid(4); // qCompress prefixes the raw size
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", header) + pngChunk("IDAT", zlib);
}

QByteArray withJpegFrameSize(const QByteArray& jpeg, quint16 width, quint16 height)
{
    QByteArray data = jpeg;
    for (int i = 2; i + 9 < data.size(); ++i) {
        const quint8 marker = quint8(data[i + 1]);
        if (quint8(data[i]) == 0xFF && (marker == 0xC0 || marker == 0xC1 || marker == 0xC2)) {
            qToBigEndian(height, data.data() + i + 5);
            qToBigEndian(width, data.data() + i + 7);
            return data;
        }
    }
    return {};
}

QString photo(const QString& fileName)
{
    return QStringLiteral(TEST_DATA_DIR "/photos/") + fileName;
}

bool photoWithLocation(const QString& path)
{
    QFile::remove(path);
    if (!QFile::copy(photo(QStringLiteral("landscape_6.jpg")), path))
        return false;
    QFile(path).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    return run(QStringLiteral("exiftool"),
               {QStringLiteral("-q"), QStringLiteral("-overwrite_original"),
                QStringLiteral("-GPSLatitude=48.8577"), QStringLiteral("-GPSLatitudeRef=N"),
                QStringLiteral("-GPSLongitude=2.2950"), QStringLiteral("-GPSLongitudeRef=E"),
                QStringLiteral("-XMP-exif:GPSLatitude=48.8577N"),
                QStringLiteral("-XMP-exif:GPSLongitude=2.2950E"), QStringLiteral("-XMP-photoshop:City=Paris"),
                QStringLiteral("-IPTC:City=Paris"), QStringLiteral("-IPTC:Keywords=tower"),
                QStringLiteral("-XMP-dc:Title=Tower"), QStringLiteral("-Comment=taken on the tower"), path});
}

QVariantMap metadataTags(const QString& path)
{
    QProcess process;
    process.start(QStringLiteral("exiftool"), {QStringLiteral("-j"), QStringLiteral("-a"),
                                               QStringLiteral("-G1"), QStringLiteral("-s"), path});
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return {};
    const QJsonArray files = QJsonDocument::fromJson(process.readAllStandardOutput()).array();
    return files.isEmpty() ? QVariantMap() : files.first().toObject().toVariantMap();
}

QStringList metadataGroups(const QVariantMap& tags)
{
    static const QStringList structure{QStringLiteral("ExifTool"), QStringLiteral("System"),
                                       QStringLiteral("File"),     QStringLiteral("Composite"),
                                       QStringLiteral("JFIF"),     QStringLiteral("RIFF"),
                                       QStringLiteral("PNG"),      QStringLiteral("PNG-pHYs")};
    QStringList groups;
    for (auto it = tags.cbegin(); it != tags.cend(); ++it) {
        const QString group = it.key().section(QLatin1Char(':'), 0, 0);
        if (it.key().contains(QLatin1Char(':')) && !structure.contains(group) && !groups.contains(group))
            groups << group;
    }
    groups.sort();
    return groups;
}

QStringList entriesStartingWith(const QString& dir, const QString& prefix)
{
    return QDir(dir).entryList({prefix + QLatin1Char('*')},
                               QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
}

QVector<JpegSegment> jpegSegmentsOf(const QByteArray& jpeg)
{
    QVector<JpegSegment> segments;
    if (!jpeg.startsWith("\xFF\xD8"))
        return segments;
    int pos = 2;
    while (pos + 4 <= jpeg.size() && uchar(jpeg[pos]) == 0xFF) {
        const int marker = uchar(jpeg[pos + 1]);
        const int length = (uchar(jpeg[pos + 2]) << 8) | uchar(jpeg[pos + 3]);
        if (length < 2 || pos + 2 + length > jpeg.size())
            break;
        segments.append({marker, jpeg.mid(pos + 4, length - 2)});
        if (marker == 0xDA)
            break;
        pos += 2 + length;
    }
    return segments;
}

QByteArray jpegApp1(const QVector<JpegSegment>& segments, const QByteArray& prefix)
{
    for (const JpegSegment& s : segments)
        if (s.marker == 0xE1 && s.payload.startsWith(prefix))
            return s.payload;
    return QByteArray();
}

int exifPayloadOrientation(const QByteArray& exif)
{
    const QByteArray tiff = exif.mid(6);
    const bool little = tiff.startsWith("II");
    auto u16 = [&](int at) {
        if (at < 0 || at + 2 > tiff.size())
            return -1;
        return little ? uchar(tiff[at]) | uchar(tiff[at + 1]) << 8
                      : uchar(tiff[at]) << 8 | uchar(tiff[at + 1]);
    };
    const int ifd = u16(little ? 4 : 6); // offsets are small in these files
    const int count = u16(ifd);
    for (int i = 0; i < count; ++i)
        if (u16(ifd + 2 + 12 * i) == 0x0112)
            return u16(ifd + 2 + 12 * i + 8);
    return -1;
}

} // namespace MediaFixtures
