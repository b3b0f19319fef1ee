// Writes the seed corpora of the fuzz targets that take no media: one folder per target below the folder
// named on the command line. The media seeds are made with ffmpeg by the build.
#include <base/AESCodec.h>
#include <base/ExportChecksum.h>
#include <base/StringEncryption.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>
#include <QString>

#include <cstdio>

using Nerova::AESCodec;

namespace {

void dropMessage(QtMsgType, const QMessageLogContext&, const QString&) {}

bool writeSeeds(const QString& folder, const QList<QByteArray>& seeds)
{
    if (!QDir().mkpath(folder))
        return false;
    for (int i = 0; i < seeds.size(); ++i) {
        QFile file(QDir(folder).filePath(QStringLiteral("seed-%1").arg(i, 3, 10, QLatin1Char('0'))));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            file.write(seeds.at(i)) != seeds.at(i).size())
            return false;
    }
    return true;
}

// Header bytes as the aes target reads them: level, mode, padding, key length, IV choice (below 0xC0:
// a 16-byte IV), then key, IV and cipher text.
QList<QByteArray> aesSeeds()
{
    const QByteArray key = QByteArrayLiteral("0123456789abcdefghijklmnopqrstuv");
    const QByteArray iv = QByteArrayLiteral("fedcba9876543210");
    const QList<QByteArray> plains{QByteArray(), QByteArrayLiteral("short"),
                                   QByteArrayLiteral("exactly 16 bytes"),
                                   QByteArrayLiteral("a text that spans a few blocks of the cipher\x80")};
    QList<QByteArray> seeds;
    for (int level = AESCodec::AES_128; level <= AESCodec::AES_256; ++level) {
        const int keySize = 16 + 8 * level;
        for (int mode = AESCodec::ECB; mode <= AESCodec::OFB; ++mode) {
            for (int padding = AESCodec::ZERO; padding <= AESCodec::ISO; ++padding) {
                const QByteArray& plain = plains.at((level + mode + padding) % plains.size());
                const AESCodec codec{AESCodec::Aes(level), AESCodec::Mode(mode), AESCodec::Padding(padding)};
                QByteArray seed;
                seed.append(char(level)).append(char(mode)).append(char(padding)).append(char(keySize));
                seed.append(char(0));
                seed += key.left(keySize) + iv + codec.encode(plain, key, iv);
                seeds.append(seed);
            }
        }
    }
    return seeds;
}

// Selector byte as the tokens target reads it: bit 0 set, the rest is enciphered bytes; bit 1 set, the
// token's own payload is checked.
QList<QByteArray> tokenSeeds()
{
    QList<QByteArray> seeds;
    for (const QString& text : {QStringLiteral("hello"), QStringLiteral("Grüße, 世界"), QString(),
                                QString(QChar(0xFEFF)) + QStringLiteral("after U+FEFF")}) {
        seeds.append(QByteArray(1, '\0') + Nerova::encryptString(text).toLatin1());
        seeds.append(QByteArray(1, '\1') + QByteArray::fromBase64(Nerova::encryptString(text).toLatin1()));
    }
    const QByteArray checksum = Nerova::genExportChecksum(QStringLiteral("payload")).toLatin1();
    seeds.append(QByteArray(1, '\0') + checksum);
    seeds.append(QByteArray(1, '\3') + QByteArray::fromBase64(checksum));
    // Blanks and line breaks inside a token are ignored.
    seeds.append(QByteArray(1, '\2') + checksum.left(10) + " \n" + checksum.mid(10));
    return seeds;
}

QList<QByteArray> utf8Seeds()
{
    return {QByteArrayLiteral("plain ASCII text, long enough for the eight-byte steps"),
            QByteArrayLiteral("Gr\xC3\xBC\xC3\x9F\x65 \xE4\xB8\x96\xE7\x95\x8C \xF0\x9F\x98\x80"),
            QByteArrayLiteral("\xEF\xBB\xBF\xEF\xBF\xBE\xF4\x8F\xBF\xBF"),
            QByteArrayLiteral("\xC0\xAF"),
            QByteArrayLiteral("\xED\xA0\x80"),
            QByteArrayLiteral("\xF4\x90\x80\x80"),
            QByteArrayLiteral("\xE0\x80\x80"),
            QByteArrayLiteral("abc\xE2\x82")};
}

QList<QByteArray> jsonSeeds()
{
    return {
        QByteArrayLiteral("{\"preview_param\":{\"timeline_dir\":\".\",\"fps\":25},"
                          "\"clips\":[{\"file_path\":\"a.mp4\",\"in\":0,\"out\":1.5}]}"),
        QByteArrayLiteral("{\"preview_param\":{\"timeline_dir\":\"/tmp\"},\"clips\":[]}"),
        QByteArrayLiteral("[1, 2.5e300, -0, true, false, null, \"\\u00e9\\ud83d\\ude00\", {\"a\": [[]]}]"),
        QByteArrayLiteral("{\"k\": \"\\\"escaped\\\\\", \"n\": 9007199254740993, \"o\": {\"p\": {}}}"),
        QByteArrayLiteral("\xEF\xBB\xBF{\"bom\": 1}"),
        QByteArrayLiteral("{\"dup\": 1, \"dup\": 2}")};
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s SEED_FOLDER\n", argv[0]);
        return 2;
    }
    qInstallMessageHandler(dropMessage);
    const QDir root(QFile::decodeName(argv[1]));
    const bool written = writeSeeds(root.filePath(QStringLiteral("aes")), aesSeeds()) &&
                         writeSeeds(root.filePath(QStringLiteral("tokens")), tokenSeeds()) &&
                         writeSeeds(root.filePath(QStringLiteral("utf8")), utf8Seeds()) &&
                         writeSeeds(root.filePath(QStringLiteral("json")), jsonSeeds());
    if (!written) {
        std::fprintf(stderr, "cannot write the seeds below %s\n", argv[1]);
        return 1;
    }
    return 0;
}
