#include "base/AESCodec.h"

#include "base/AesBlockCipher.h"

#include <cstring>
#include <limits>

namespace Nerova {
namespace {

const std::uint8_t* bytes(const QByteArray& array)
{
    return reinterpret_cast<const std::uint8_t*>(array.constData());
}

std::uint8_t* bytes(QByteArray& array)
{
    return reinterpret_cast<std::uint8_t*>(array.data());
}

} // namespace

AESCodec::AESCodec(Aes level, Mode mode, Padding padding) : mLevel(level), mMode(mode), mPadding(padding)
{
    switch (level) {
    case AES_192:
        mNk = 6;
        break;
    case AES_256:
        mNk = 8;
        break;
    default:
        mLevel = AES_128;
        mNk = 4;
        break;
    }
    mKeyLen = 4 * mNk;
    mNr = mNk + 6;
}

QByteArray AESCodec::Crypt(Aes level, Mode mode, const QByteArray& rawText, const QByteArray& key,
                           const QByteArray& iv, Padding padding)
{
    return AESCodec(level, mode, padding).encode(rawText, key, iv);
}

QByteArray AESCodec::Decrypt(Aes level, Mode mode, const QByteArray& rawText, const QByteArray& key,
                             const QByteArray& iv, Padding padding)
{
    return AESCodec(level, mode, padding).decode(rawText, key, iv);
}

QByteArray AESCodec::ExpandKey(Aes level, Mode mode, const QByteArray& key)
{
    return AESCodec(level, mode, ISO).expandKey(key);
}

QByteArray AESCodec::RemovePadding(const QByteArray& rawText, Padding padding)
{
    if (rawText.isEmpty())
        return rawText;
    switch (padding) {
    case ISO: {
        int marker = rawText.size() - 1;
        while (marker >= 0 && rawText.at(marker) == '\0')
            --marker;
        if (marker >= 0 && static_cast<unsigned char>(rawText.at(marker)) == 0x80)
            return rawText.left(marker);
        return rawText;
    }
    case PKCS7: {
        const int count = static_cast<signed char>(rawText.at(rawText.size() - 1));
        if (count >= 1 && count <= rawText.size())
            return rawText.left(rawText.size() - count);
        return rawText;
    }
    case ZERO: {
        int end = rawText.size();
        while (end > 0 && rawText.at(end - 1) == '\0')
            --end;
        return rawText.left(end);
    }
    }
    return rawText;
}

QByteArray AESCodec::encode(const QByteArray& rawText, const QByteArray& key, const QByteArray& iv) const
{
    if (mMode != ECB && iv.size() != mBlockLen)
        return {};
    if (mMode < ECB || mMode > OFB || key.size() < mKeyLen)
        return {};
    // The padding adds up to one block; refuse what could not hold it.
    if (rawText.size() > std::numeric_limits<int>::max() - 64)
        return {};

    const AesBlockCipher cipher(bytes(key), mNk);
    // Whole blocks are read from the text in place; only its short end and the padding are copied.
    const int whole = rawText.size() - rawText.size() % mBlockLen;
    const QByteArray tail = rawText.mid(whole) + getPadding(rawText.size(), mBlockLen);
    QByteArray out(whole + tail.size(), Qt::Uninitialized);
    std::uint8_t chain[16] = {};
    if (mMode != ECB)
        std::memcpy(chain, iv.constData(), sizeof chain);

    const std::uint8_t* in = bytes(rawText);
    std::uint8_t* target = bytes(out);
    const auto wholeBlocks = static_cast<std::size_t>(whole / mBlockLen);
    const auto tailBlocks = static_cast<std::size_t>(tail.size() / mBlockLen);
    switch (mMode) {
    case ECB:
        cipher.encryptEcb(in, target, wholeBlocks);
        cipher.encryptEcb(bytes(tail), target + whole, tailBlocks);
        break;
    case CBC:
        cipher.encryptCbc(in, target, wholeBlocks, chain);
        cipher.encryptCbc(bytes(tail), target + whole, tailBlocks, chain);
        break;
    case CFB:
        cipher.encryptCfb(in, target, whole, chain);
        cipher.encryptCfb(bytes(tail), target + whole, tail.size(), chain);
        break;
    case OFB:
        cipher.cryptOfb(in, target, whole, chain);
        cipher.cryptOfb(bytes(tail), target + whole, tail.size(), chain);
        break;
    }
    return out;
}

QByteArray AESCodec::decode(const QByteArray& rawText, const QByteArray& key, const QByteArray& iv) const
{
    if (mMode != ECB && iv.size() != mBlockLen)
        return {};
    if (mMode < ECB || mMode > OFB || key.size() < mKeyLen)
        return {};
    // A short last block cannot be deciphered on its own.
    if ((mMode == ECB || mMode == CBC) && rawText.size() % mBlockLen != 0)
        return {};

    const AesBlockCipher cipher(bytes(key), mNk);
    QByteArray out(rawText.size(), Qt::Uninitialized);
    std::uint8_t chain[16] = {};
    if (mMode != ECB)
        std::memcpy(chain, iv.constData(), sizeof chain);

    const std::uint8_t* in = bytes(rawText);
    std::uint8_t* target = bytes(out);
    const auto size = static_cast<std::size_t>(rawText.size());
    switch (mMode) {
    case ECB:
        cipher.decryptEcb(in, target, size / mBlockLen);
        break;
    case CBC:
        cipher.decryptCbc(in, target, size / mBlockLen, chain);
        break;
    case CFB:
        cipher.decryptCfb(in, target, size, chain);
        break;
    case OFB:
        cipher.cryptOfb(in, target, size, chain);
        break;
    }
    return out;
}

QByteArray AESCodec::removePadding(const QByteArray& rawText) const
{
    return RemovePadding(rawText, mPadding);
}

QByteArray AESCodec::expandKey(const QByteArray& key) const
{
    if (key.size() < mKeyLen)
        return {};
    QByteArray expanded(4 * mNb * (mNr + 1), Qt::Uninitialized);
    AesBlockCipher::expandKey(bytes(key), mNk, bytes(expanded));
    // Key bytes beyond the key length take no part; they stay behind the round keys.
    expanded += key.mid(mKeyLen);
    return expanded;
}

QByteArray AESCodec::getPadding(int currentSize, int alignment) const
{
    const int size = (alignment - currentSize % alignment) % alignment;
    switch (mPadding) {
    case ISO:
        if (size == 0)
            return {};
        return QByteArray(1, char(0x80)) + QByteArray(size - 1, '\0');
    case PKCS7: {
        const int count = size == 0 ? alignment : size;
        return QByteArray(count, char(count));
    }
    case ZERO:
        break;
    }
    return QByteArray(size, '\0');
}

} // namespace Nerova
