// Reads arbitrary tokens with decryptString and validateExportChecksum: as raw token text, and as
// enciphered bytes wrapped in Base64 so that mutations reach the padding and UTF-8 checks behind the
// cipher. Texts the suite enciphers itself must come back.
#include "FuzzWorkspace.h"

#include <base/ExportChecksum.h>
#include <base/StringEncryption.h>

#include <QStringList>
#include <QTextCodec>

namespace {

QString cutAtNull(const QString& text)
{
    const int end = text.indexOf(QChar(0));
    return end < 0 ? text : text.left(end);
}

} // namespace

// The first byte chooses how the rest is read: bit 0 clear, the rest is the token text; set, the rest
// is the enciphered bytes of a token. Bit 1 makes the payload checked against the token's own.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const uint8_t selector = data[0];
    const QByteArray rest(reinterpret_cast<const char*>(data + 1), int(size - 1));
    const QString token = (selector & 1) ? QString::fromLatin1(rest.toBase64()) : QString::fromUtf8(rest);

    const QString text = Nerova::decryptString(token);
    // A readable token holds no U+0000 (the text is cut there) and gives the same text twice.
    check(!text.contains(QChar(0)));
    check(text == Nerova::decryptString(token));

    const int comma = text.indexOf(QLatin1Char(','));
    const QString payload = (selector & 2) && comma >= 0 ? text.mid(comma + 1) : QStringLiteral("payload");
    if (Nerova::validateExportChecksum(token, payload)) {
        const QStringList parts = text.split(QLatin1Char(','));
        check(parts.size() == 2 && parts.at(1) == payload);
    }

    // Any text the suite enciphers reads back, cut at its first U+0000.
    // Decoded without header handling, so that a leading U+FEFF is part of the text.
    QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
    const QString plain = QTextCodec::codecForMib(106)->toUnicode(rest.constData(), rest.size(), &state);
    check(Nerova::decryptString(Nerova::encryptString(plain)) == cutAtNull(plain));
    // A fresh checksum over a payload without "," or U+0000 is accepted, and not for another payload.
    const QString fresh = cutAtNull(plain);
    if (!fresh.contains(QLatin1Char(','))) {
        const QString checksum = Nerova::genExportChecksum(fresh);
        check(Nerova::validateExportChecksum(checksum, fresh));
        check(!Nerova::validateExportChecksum(checksum, fresh + QLatin1Char('x')));
    }
    return 0;
}
