#include "base/StringEncryption.h"

#include "base/AESCodec.h"

#include <QTextCodec>

namespace Nerova {
namespace {

// Shared by every copy of the suite: changing either makes all existing tokens unreadable.
const QByteArray& tokenKey()
{
    static const QByteArray key = QByteArrayLiteral("%&:;MAPLE=+(]}-/");
    return key;
}

const QByteArray& tokenIv()
{
    static const QByteArray iv = QByteArrayLiteral(")!/,<>[{MAPLE$#=");
    return iv;
}

constexpr int kBlockLen = 16;

// Every token we make ends in a full PKCS #7 pad; a damaged last block almost never does.
bool hasIntactPadding(const QByteArray& plain)
{
    if (plain.isEmpty())
        return false;
    const int count = static_cast<unsigned char>(plain.at(plain.size() - 1));
    if (count < 1 || count > kBlockLen || count > plain.size())
        return false;
    for (int i = plain.size() - count; i < plain.size(); ++i) {
        if (static_cast<unsigned char>(plain.at(i)) != count)
            return false;
    }
    return true;
}

// Texts are enciphered as UTF-8, so anything else comes from a damaged block.
bool isValidUtf8(const QByteArray& bytes)
{
    QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
    QTextCodec::codecForMib(106)->toUnicode(bytes.constData(), bytes.size(), &state);
    return state.invalidChars == 0 && state.remainingChars == 0;
}

} // namespace

QString encryptString(const QString& text)
{
    const AESCodec codec(AESCodec::AES_128, AESCodec::CBC, AESCodec::PKCS7);
    return QString::fromLatin1(codec.encode(text.toUtf8(), tokenKey(), tokenIv()).toBase64());
}

QString decryptString(const QString& token)
{
    const QByteArray cipherText = QByteArray::fromBase64(token.toUtf8());
    if (cipherText.isEmpty() || cipherText.size() % kBlockLen != 0)
        return {};
    const AESCodec codec(AESCodec::AES_128, AESCodec::CBC, AESCodec::PKCS7);
    const QByteArray padded = codec.decode(cipherText, tokenKey(), tokenIv());
    if (!hasIntactPadding(padded))
        return {};
    QByteArray plain = AESCodec::RemovePadding(padded, AESCodec::PKCS7);
    if (!isValidUtf8(plain))
        return {};
    const int end = plain.indexOf('\0');
    if (end >= 0)
        plain.truncate(end);
    // Without header handling: a text that starts with U+FEFF keeps it, where QString::fromUtf8 would take
    // it for a byte order mark and drop it.
    QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
    return QTextCodec::codecForMib(106)->toUnicode(plain.constData(), plain.size(), &state);
}

} // namespace Nerova
