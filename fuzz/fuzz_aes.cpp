// Deciphers arbitrary bytes with every level, mode and padding of the AES codec, strips the padding, and
// checks each result against what the codec promises: the argument rules, the lengths, and that anything
// it enciphered comes back.
#include "FuzzWorkspace.h"

#include <base/AESCodec.h>

using Nerova::AESCodec;

namespace {

// Mostly a value of the enumeration; a few bytes give values beside it, which the codec must survive too.
int pickEnum(uint8_t byte, int count)
{
    if (byte < 0xE0)
        return byte % count;
    if (byte < 0xF0)
        return count + (byte & 0x0F);
    return -1 - (byte & 0x0F);
}

int keyLength(int level)
{
    switch (level) {
    case AESCodec::AES_192:
        return 24;
    case AESCodec::AES_256:
        return 32;
    default:
        return 16;
    }
}

QByteArray expectedUnpadded(const QByteArray& plain, int padding)
{
    switch (padding) {
    case AESCodec::PKCS7:
        return plain;
    case AESCodec::ZERO:
        return AESCodec::RemovePadding(plain, AESCodec::ZERO);
    case AESCodec::ISO:
        // Only a short last block gets a pad; a whole one that looks padded loses its look-alike pad.
        return plain.size() % 16 != 0 ? plain : AESCodec::RemovePadding(plain, AESCodec::ISO);
    default:
        return {};
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 5)
        return 0;
    const int level = pickEnum(data[0], 3);
    const int mode = pickEnum(data[1], 4);
    const int padding = pickEnum(data[2], 3);
    const int keySize = data[3] % 48;
    const int ivSize = data[4] < 0xC0 ? 16 : data[4] % 32;
    data += 5;
    size -= 5;
    if (size < size_t(keySize + ivSize))
        return 0;
    const QByteArray key(reinterpret_cast<const char*>(data), keySize);
    const QByteArray iv(reinterpret_cast<const char*>(data + keySize), ivSize);
    const QByteArray text(reinterpret_cast<const char*>(data + keySize + ivSize),
                          int(size) - keySize - ivSize);

    const auto aes = static_cast<AESCodec::Aes>(level);
    const auto aesMode = static_cast<AESCodec::Mode>(mode);
    const auto aesPadding = static_cast<AESCodec::Padding>(padding);
    const AESCodec codec(aes, aesMode, aesPadding);
    const int needed = keyLength(level);
    const bool modeKnown = mode >= AESCodec::ECB && mode <= AESCodec::OFB;
    const bool usable = modeKnown && key.size() >= needed && (mode == AESCodec::ECB || iv.size() == 16);
    const bool blockMode = mode == AESCodec::ECB || mode == AESCodec::CBC;

    // Deciphering: empty exactly when the arguments are refused, otherwise as long as the input.
    const QByteArray decoded = codec.decode(text, key, iv);
    const bool decodable = usable && !(blockMode && text.size() % 16 != 0);
    check(decoded.size() == (decodable ? text.size() : 0));
    check(decoded == AESCodec::Decrypt(aes, aesMode, text, key, iv, aesPadding));
    // Key bytes beyond the level's key length take no part.
    if (decodable)
        check(decoded == codec.decode(text, key.left(needed), iv));

    // Removing a pad only ever cuts the end off.
    for (const QByteArray& padded : {decoded, text}) {
        const QByteArray unpadded = AESCodec::RemovePadding(padded, aesPadding);
        check(unpadded == codec.removePadding(padded));
        check(unpadded.size() <= padded.size() && padded.startsWith(unpadded));
    }

    // Whatever is enciphered comes back, and loses exactly its pad.
    const QByteArray encoded = codec.encode(text, key, iv);
    check(encoded == AESCodec::Crypt(aes, aesMode, text, key, iv, aesPadding));
    if (!usable) {
        check(encoded.isEmpty());
    } else {
        const int rest = text.size() % 16;
        const int padded =
            padding == AESCodec::PKCS7 ? text.size() - rest + 16 : text.size() + (rest ? 16 - rest : 0);
        check(encoded.size() == padded);
        const QByteArray back = codec.decode(encoded, key, iv);
        check(back.size() == encoded.size() && back.startsWith(text));
        if (padding >= AESCodec::ZERO && padding <= AESCodec::ISO)
            check(codec.removePadding(back) == expectedUnpadded(text, padding));
    }

    // Round keys: (rounds + 1) blocks, then the unused key bytes.
    const QByteArray expanded = AESCodec::ExpandKey(aes, aesMode, key);
    if (key.size() < needed)
        check(expanded.isEmpty());
    else
        check(expanded.size() == 16 * (needed / 4 + 7) + key.size() - needed &&
              expanded.endsWith(key.mid(needed)));
    return 0;
}
