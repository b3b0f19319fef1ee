#pragma once

#include <base/NerovaGlobal.h>

#include <QByteArray>
#include <QObject>

namespace Nerova {

// AES (128, 192 or 256-bit keys) over byte arrays in ECB, CBC, CFB-128 or OFB mode with zero, PKCS #7 or
// ISO/IEC 7816-4 padding. Failures give an empty array; a codec holds no state between calls.
class NEROVA_EXPORT AESCodec : public QObject
{
    Q_OBJECT

public:
    // Fixed to int so that any int value is a defined level, mode or padding.
    enum Aes : int { AES_128 = 0, AES_192 = 1, AES_256 = 2 };
    enum Mode : int { ECB = 0, CBC = 1, CFB = 2, OFB = 3 };
    enum Padding : int { ZERO = 0, PKCS7 = 1, ISO = 2 };

    // A level outside Aes works as AES_128.
    AESCodec(Aes level, Mode mode, Padding padding);
    ~AESCodec() override = default;

    static QByteArray Crypt(Aes level, Mode mode, const QByteArray& rawText, const QByteArray& key,
                            const QByteArray& iv, Padding padding);
    static QByteArray Decrypt(Aes level, Mode mode, const QByteArray& rawText, const QByteArray& key,
                              const QByteArray& iv, Padding padding);
    static QByteArray ExpandKey(Aes level, Mode mode, const QByteArray& key);
    static QByteArray RemovePadding(const QByteArray& rawText, Padding padding);

    // Pads the text, then enciphers it. Empty when the key is shorter than the level's key length, or,
    // outside ECB, when the IV is not 16 bytes long; only the first key-length bytes of the key are used.
    QByteArray encode(const QByteArray& rawText, const QByteArray& key, const QByteArray& iv) const;
    // Deciphers without removing the padding. Besides the cases of encode, empty in ECB and CBC when the
    // text is not a whole number of blocks.
    QByteArray decode(const QByteArray& rawText, const QByteArray& key, const QByteArray& iv) const;
    QByteArray removePadding(const QByteArray& rawText) const;
    // The round keys of the key for this level, followed by any key bytes beyond the key length; empty
    // when the key is too short.
    QByteArray expandKey(const QByteArray& key) const;

private:
    QByteArray getPadding(int currentSize, int alignment) const;

    int mNb = 4;
    int mBlockLen = 16;
    Aes mLevel = AES_128;
    Mode mMode = ECB;
    int mNk = 4;
    int mKeyLen = 16;
    int mNr = 10;
    Padding mPadding = ISO;
};

} // namespace Nerova
