// Guards the AES codec: known answers for every level, mode and engine, the three paddings and their
// removal, refused keys and IVs, short blocks, and agreement with the openssl program.
#include "OpenSslTool.h"

#include <base/AESCodec.h>
#include <base/AesBlockCipher.h>

#include <QRandomGenerator>
#include <QtTest>

using Nerova::AesBlockCipher;
using Nerova::AESCodec;

Q_DECLARE_METATYPE(AESCodec::Aes)
Q_DECLARE_METATYPE(AESCodec::Mode)
Q_DECLARE_METATYPE(AESCodec::Padding)
Q_DECLARE_METATYPE(AesBlockCipher::Engine)

namespace {

QByteArray hex(const char* text)
{
    return QByteArray::fromHex(text);
}

const std::uint8_t* bytes(const QByteArray& a)
{
    return reinterpret_cast<const std::uint8_t*>(a.constData());
}

std::uint8_t* bytes(QByteArray& a)
{
    return reinterpret_cast<std::uint8_t*>(a.data());
}

int keyBytes(AESCodec::Aes level)
{
    return level == AESCodec::AES_256 ? 32 : level == AESCodec::AES_192 ? 24 : 16;
}

const char* levelName(AESCodec::Aes level)
{
    return level == AESCodec::AES_256 ? "256" : level == AESCodec::AES_192 ? "192" : "128";
}

const char* modeName(AESCodec::Mode mode)
{
    switch (mode) {
    case AESCodec::ECB:
        return "ecb";
    case AESCodec::CBC:
        return "cbc";
    case AESCodec::CFB:
        return "cfb";
    case AESCodec::OFB:
        return "ofb";
    }
    return "?";
}

const char* paddingName(AESCodec::Padding padding)
{
    return padding == AESCodec::PKCS7 ? "pkcs7" : padding == AESCodec::ISO ? "iso" : "zero";
}

QByteArray randomBytes(QRandomGenerator& random, int size)
{
    QByteArray data(size, Qt::Uninitialized);
    for (char& c : data)
        c = static_cast<char>(random.bounded(256));
    return data;
}

// The padding rules written out independently of the codec.
QByteArray padded(const QByteArray& text, AESCodec::Padding padding)
{
    const int size = (16 - text.size() % 16) % 16;
    if (padding == AESCodec::PKCS7) {
        const int count = size == 0 ? 16 : size;
        return text + QByteArray(count, char(count));
    }
    if (padding == AESCodec::ISO && size > 0)
        return text + char(0x80) + QByteArray(size - 1, '\0');
    return text + QByteArray(size, '\0');
}

const QByteArray kNistPlain = hex("6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
                                  "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710");
const QByteArray kNistIv = hex("000102030405060708090a0b0c0d0e0f");

QByteArray nistKey(AESCodec::Aes level)
{
    switch (level) {
    case AESCodec::AES_192:
        return hex("8e73b0f7da0e6452c810f32b809079e562f8ead2522c6b7b");
    case AESCodec::AES_256:
        return hex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");
    default:
        return hex("2b7e151628aed2a6abf7158809cf4f3c");
    }
}

struct NistVector
{
    AESCodec::Aes level;
    AESCodec::Mode mode;
    const char* cipherText;
};

// Known-answer results for the four-block example text.
const NistVector kNistVectors[] = {
    {AESCodec::AES_128, AESCodec::ECB,
     "3ad77bb40d7a3660a89ecaf32466ef97f5d3d58503b9699de785895a96fdbaaf"
     "43b1cd7f598ece23881b00e3ed0306887b0c785e27e8ad3f8223207104725dd4"},
    {AESCodec::AES_192, AESCodec::ECB,
     "bd334f1d6e45f25ff712a214571fa5cc974104846d0ad3ad7734ecb3ecee4eef"
     "ef7afd2270e2e60adce0ba2face6444e9a4b41ba738d6c72fb16691603c18e0e"},
    {AESCodec::AES_256, AESCodec::ECB,
     "f3eed1bdb5d2a03c064b5a7e3db181f8591ccb10d410ed26dc5ba74a31362870"
     "b6ed21b99ca6f4f9f153e7b1beafed1d23304b7a39f9f3ff067d8d8f9e24ecc7"},
    {AESCodec::AES_128, AESCodec::CBC,
     "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
     "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7"},
    {AESCodec::AES_192, AESCodec::CBC,
     "4f021db243bc633d7178183a9fa071e8b4d9ada9ad7dedf4e5e738763f69145a"
     "571b242012fb7ae07fa9baac3df102e008b0e27988598881d920a9e64f5615cd"},
    {AESCodec::AES_256, AESCodec::CBC,
     "f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d"
     "39f23369a9d9bacfa530e26304231461b2eb05e2c39be9fcda6c19078c6a9d1b"},
    {AESCodec::AES_128, AESCodec::CFB,
     "3b3fd92eb72dad20333449f8e83cfb4ac8a64537a0b3a93fcde3cdad9f1ce58b"
     "26751f67a3cbb140b1808cf187a4f4dfc04b05357c5d1c0eeac4c66f9ff7f2e6"},
    {AESCodec::AES_192, AESCodec::CFB,
     "cdc80d6fddf18cab34c25909c99a417467ce7f7f81173621961a2b70171d3d7a"
     "2e1e8a1dd59b88b1c8e60fed1efac4c9c05f9f9ca9834fa042ae8fba584b09ff"},
    {AESCodec::AES_256, AESCodec::CFB,
     "dc7e84bfda79164b7ecd8486985d386039ffed143b28b1c832113c6331e5407b"
     "df10132415e54b92a13ed0a8267ae2f975a385741ab9cef82031623d55b1e471"},
    {AESCodec::AES_128, AESCodec::OFB,
     "3b3fd92eb72dad20333449f8e83cfb4a7789508d16918f03f53c52dac54ed825"
     "9740051e9c5fecf64344f7a82260edcc304c6528f659c77866a510d9c1d6ae5e"},
    {AESCodec::AES_192, AESCodec::OFB,
     "cdc80d6fddf18cab34c25909c99a4174fcc28b8d4c63837c09e81700c1100401"
     "8d9a9aeac0f6596f559c6d4daf59a5f26d9f200857ca6c3e9cac524bd9acc92a"},
    {AESCodec::AES_256, AESCodec::OFB,
     "dc7e84bfda79164b7ecd8486985d38604febdc6740d20b3ac88f6ad82a4fb08d"
     "71ab47a086e86eedf39d1c5bba97c4080126141d67f37be8538f5a8be740e484"},
};

// Runs one mode of the engine over a text; iv carries the chain on to a following call.
QByteArray runChained(const AesBlockCipher& cipher, AESCodec::Mode mode, bool encrypt, const QByteArray& in,
                      QByteArray& iv)
{
    QByteArray out(in.size(), Qt::Uninitialized);
    const auto blocks = static_cast<std::size_t>(in.size() / 16);
    const auto size = static_cast<std::size_t>(in.size());
    switch (mode) {
    case AESCodec::ECB:
        encrypt ? cipher.encryptEcb(bytes(in), bytes(out), blocks)
                : cipher.decryptEcb(bytes(in), bytes(out), blocks);
        break;
    case AESCodec::CBC:
        encrypt ? cipher.encryptCbc(bytes(in), bytes(out), blocks, bytes(iv))
                : cipher.decryptCbc(bytes(in), bytes(out), blocks, bytes(iv));
        break;
    case AESCodec::CFB:
        encrypt ? cipher.encryptCfb(bytes(in), bytes(out), size, bytes(iv))
                : cipher.decryptCfb(bytes(in), bytes(out), size, bytes(iv));
        break;
    case AESCodec::OFB:
        cipher.cryptOfb(bytes(in), bytes(out), size, bytes(iv));
        break;
    }
    return out;
}

QByteArray runEngine(const AesBlockCipher& cipher, AESCodec::Mode mode, bool encrypt, const QByteArray& in,
                     QByteArray iv)
{
    return runChained(cipher, mode, encrypt, in, iv);
}

} // namespace

class TestAesCodec : public QObject
{
    Q_OBJECT

private slots:
    void nistVectors_data();
    void nistVectors();
    void enginesAgree_data();
    void enginesAgree();
    void keyExpansion_data();
    void keyExpansion();
    void padding_data();
    void padding();
    void removePadding_data();
    void removePadding();
    void roundTrips();
    void badIv();
    void keyLength();
    void partialBlocks();
    void valuesOutsideEnumerations();
    void matchesOpenSsl_data();
    void matchesOpenSsl();
};

void TestAesCodec::nistVectors_data()
{
    QTest::addColumn<AESCodec::Aes>("level");
    QTest::addColumn<AESCodec::Mode>("mode");
    QTest::addColumn<QByteArray>("cipherText");
    QTest::addColumn<AesBlockCipher::Engine>("engine");
    for (const NistVector& v : kNistVectors) {
        for (auto engine : {AesBlockCipher::Engine::Portable, AesBlockCipher::Engine::AesNi}) {
            const QByteArray name = QByteArray(modeName(v.mode)) + levelName(v.level) +
                                    (engine == AesBlockCipher::Engine::AesNi ? "/aesni" : "/portable");
            QTest::newRow(name.constData()) << v.level << v.mode << hex(v.cipherText) << engine;
        }
    }
}

void TestAesCodec::nistVectors()
{
    QFETCH(AESCodec::Aes, level);
    QFETCH(AESCodec::Mode, mode);
    QFETCH(QByteArray, cipherText);
    QFETCH(AesBlockCipher::Engine, engine);
    if (engine == AesBlockCipher::Engine::AesNi && !AesBlockCipher::hasAesNi())
        QSKIP("this processor has no AES instructions");
    const QByteArray key = nistKey(level);
    const QByteArray iv = mode == AESCodec::ECB ? QByteArray() : kNistIv;

    const AesBlockCipher cipher(bytes(key), key.size() / 4, engine);
    QCOMPARE(cipher.engine(), engine);
    QCOMPARE(runEngine(cipher, mode, true, kNistPlain, kNistIv), cipherText);
    QCOMPARE(runEngine(cipher, mode, false, cipherText, kNistIv), kNistPlain);

    // The same through the codec (it takes the engine the processor offers).
    QCOMPARE(AESCodec::Crypt(level, mode, kNistPlain, key, iv, AESCodec::ZERO), cipherText);
    QCOMPARE(AESCodec::Decrypt(level, mode, cipherText, key, iv, AESCodec::ZERO), kNistPlain);
    // PKCS #7 appends a whole block; the four example blocks stay as they are.
    const QByteArray withPad = AESCodec::Crypt(level, mode, kNistPlain, key, iv, AESCodec::PKCS7);
    QCOMPARE(withPad.size(), 80);
    QCOMPARE(withPad.left(64), cipherText);
}

void TestAesCodec::enginesAgree_data()
{
    QTest::addColumn<AESCodec::Aes>("level");
    QTest::addColumn<AESCodec::Mode>("mode");
    for (auto level : {AESCodec::AES_128, AESCodec::AES_192, AESCodec::AES_256}) {
        for (auto mode : {AESCodec::ECB, AESCodec::CBC, AESCodec::CFB, AESCodec::OFB})
            QTest::newRow((QByteArray(modeName(mode)) + levelName(level)).constData()) << level << mode;
    }
}

void TestAesCodec::enginesAgree()
{
    QFETCH(AESCodec::Aes, level);
    QFETCH(AESCodec::Mode, mode);
    if (!AesBlockCipher::hasAesNi())
        QSKIP("this processor has no AES instructions");
    QRandomGenerator random(0x5eed0000u + 16u * level + mode);
    const bool stream = mode == AESCodec::CFB || mode == AESCodec::OFB;
    // Sizes around the engines' eight-block batches, and a large one.
    for (int blocks : {0, 1, 7, 8, 9, 17, 4099}) {
        for (int extra : {0, 5}) {
            if (extra != 0 && !stream)
                continue;
            const QByteArray key = randomBytes(random, keyBytes(level));
            const QByteArray iv = randomBytes(random, 16);
            const QByteArray text = randomBytes(random, 16 * blocks + extra);
            const AesBlockCipher portable(bytes(key), key.size() / 4, AesBlockCipher::Engine::Portable);
            const AesBlockCipher aesNi(bytes(key), key.size() / 4, AesBlockCipher::Engine::AesNi);
            for (bool encrypt : {true, false}) {
                const QByteArray expected = runEngine(portable, mode, encrypt, text, iv);
                QCOMPARE(runEngine(aesNi, mode, encrypt, text, iv), expected);
                // Continuing a chain over two calls gives the bytes of one call.
                const int split = 16 * (blocks / 2);
                for (const AesBlockCipher* cipher : {&portable, &aesNi}) {
                    QByteArray chain = iv;
                    QByteArray joined = runChained(*cipher, mode, encrypt, text.left(split), chain);
                    joined += runChained(*cipher, mode, encrypt, text.mid(split), chain);
                    QCOMPARE(joined, expected);
                }
            }
        }
    }
}

void TestAesCodec::keyExpansion_data()
{
    QTest::addColumn<AESCodec::Aes>("level");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("firstNewWord");
    QTest::addColumn<QByteArray>("lastWord");
    QTest::newRow("128") << AESCodec::AES_128 << nistKey(AESCodec::AES_128) << hex("a0fafe17")
                         << hex("b6630ca6");
    QTest::newRow("192") << AESCodec::AES_192 << nistKey(AESCodec::AES_192) << hex("fe0c91f7")
                         << hex("01002202");
    QTest::newRow("256") << AESCodec::AES_256 << nistKey(AESCodec::AES_256) << hex("9ba35411")
                         << hex("706c631e");
}

void TestAesCodec::keyExpansion()
{
    QFETCH(AESCodec::Aes, level);
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, firstNewWord);
    QFETCH(QByteArray, lastWord);
    const AESCodec codec(level, AESCodec::CBC, AESCodec::PKCS7);
    const QByteArray expanded = codec.expandKey(key);
    QCOMPARE(expanded.size(), 16 * (key.size() / 4 + 7));
    QCOMPARE(expanded.left(key.size()), key);
    QCOMPARE(expanded.mid(key.size(), 4), firstNewWord);
    QCOMPARE(expanded.right(4), lastWord);
    QCOMPARE(AESCodec::ExpandKey(level, AESCodec::ECB, key), expanded);

    // Surplus key bytes take no part and end up behind the round keys.
    const QByteArray longKey = key + hex("deadbeef");
    QCOMPARE(codec.expandKey(longKey), expanded + hex("deadbeef"));
}

void TestAesCodec::padding_data()
{
    QTest::addColumn<AESCodec::Padding>("padding");
    QTest::addColumn<int>("textSize");
    QTest::addColumn<QByteArray>("pad");
    QTest::newRow("pkcs7 16") << AESCodec::PKCS7 << 16 << QByteArray(16, 0x10);
    QTest::newRow("pkcs7 13") << AESCodec::PKCS7 << 13 << hex("030303");
    QTest::newRow("iso 13") << AESCodec::ISO << 13 << hex("800000");
    QTest::newRow("iso 16") << AESCodec::ISO << 16 << QByteArray();
    QTest::newRow("zero 13") << AESCodec::ZERO << 13 << hex("000000");
    QTest::newRow("outside enumeration 13") << AESCodec::Padding(5) << 13 << hex("000000");
}

void TestAesCodec::padding()
{
    QFETCH(AESCodec::Padding, padding);
    QFETCH(int, textSize);
    QFETCH(QByteArray, pad);
    const QByteArray key = nistKey(AESCodec::AES_128);
    const QByteArray text(textSize, 'a');
    for (auto mode : {AESCodec::ECB, AESCodec::CBC, AESCodec::CFB, AESCodec::OFB}) {
        const AESCodec codec(AESCodec::AES_128, mode, padding);
        const QByteArray cipherText = codec.encode(text, key, kNistIv);
        QCOMPARE(cipherText.size(), textSize + pad.size());
        // Decoding leaves the padding in place.
        QCOMPARE(codec.decode(cipherText, key, kNistIv), text + pad);
    }
}

void TestAesCodec::removePadding_data()
{
    QTest::addColumn<AESCodec::Padding>("padding");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("iso marker and zeros") << AESCodec::ISO << hex("41800000") << hex("41");
    QTest::newRow("iso marker only") << AESCodec::ISO << hex("800000") << QByteArray("");
    QTest::newRow("iso marker not last") << AESCodec::ISO << hex("80410000") << hex("80410000");
    QTest::newRow("iso all zero") << AESCodec::ISO << hex("000000") << hex("000000");
    QTest::newRow("pkcs7 two") << AESCodec::PKCS7 << hex("41420202") << hex("4142");
    QTest::newRow("pkcs7 others unchecked") << AESCodec::PKCS7 << hex("41424302") << hex("4142");
    QTest::newRow("pkcs7 zero") << AESCodec::PKCS7 << hex("4100") << hex("4100");
    QTest::newRow("pkcs7 0xff") << AESCodec::PKCS7 << hex("41ff") << hex("41ff");
    QTest::newRow("pkcs7 beyond length") << AESCodec::PKCS7 << hex("4105") << hex("4105");
    QTest::newRow("zero trailing") << AESCodec::ZERO << hex("41000000") << hex("41");
    QTest::newRow("zero all zero") << AESCodec::ZERO << hex("000000") << QByteArray("");
    QTest::newRow("outside enumeration") << AESCodec::Padding(7) << hex("41000000") << hex("41000000");
}

void TestAesCodec::removePadding()
{
    QFETCH(AESCodec::Padding, padding);
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, expected);
    QCOMPARE(AESCodec::RemovePadding(text, padding), expected);
    QCOMPARE(AESCodec(AESCodec::AES_128, AESCodec::CBC, padding).removePadding(text), expected);
}

void TestAesCodec::roundTrips()
{
    QRandomGenerator random(20240605);
    for (auto level : {AESCodec::AES_128, AESCodec::AES_192, AESCodec::AES_256}) {
        for (auto mode : {AESCodec::ECB, AESCodec::CBC, AESCodec::CFB, AESCodec::OFB}) {
            const AESCodec codec(level, mode, AESCodec::PKCS7);
            for (int size : {0, 15, 16, 17, 1000}) {
                const QByteArray key = randomBytes(random, keyBytes(level));
                const QByteArray iv = randomBytes(random, 16);
                const QByteArray text = randomBytes(random, size);
                const QByteArray cipherText = codec.encode(text, key, iv);
                QCOMPARE(cipherText.size(), (size / 16 + 1) * 16);
                QCOMPARE(codec.removePadding(codec.decode(cipherText, key, iv)), text);
                // No chaining state is carried from one call to the next.
                QCOMPARE(codec.encode(text, key, iv), cipherText);
            }
        }
    }
}

void TestAesCodec::badIv()
{
    const QByteArray key = nistKey(AESCodec::AES_128);
    for (auto mode : {AESCodec::CBC, AESCodec::CFB, AESCodec::OFB}) {
        for (int size : {0, 15, 17}) {
            const AESCodec codec(AESCodec::AES_128, mode, AESCodec::PKCS7);
            QVERIFY(codec.encode(kNistPlain, key, QByteArray(size, 'v')).isEmpty());
            QVERIFY(codec.decode(kNistPlain, key, QByteArray(size, 'v')).isEmpty());
        }
    }
    // ECB does not look at the IV.
    const AESCodec ecb(AESCodec::AES_128, AESCodec::ECB, AESCodec::PKCS7);
    QCOMPARE(ecb.encode(kNistPlain, key, "iv"), ecb.encode(kNistPlain, key, QByteArray()));
}

void TestAesCodec::keyLength()
{
    for (auto level : {AESCodec::AES_128, AESCodec::AES_192, AESCodec::AES_256}) {
        for (auto mode : {AESCodec::ECB, AESCodec::CBC, AESCodec::CFB, AESCodec::OFB}) {
            const AESCodec codec(level, mode, AESCodec::PKCS7);
            const QByteArray key = nistKey(level);
            // Too few key words for the expansion: nothing is read past the key.
            for (int size : {0, keyBytes(level) - 1}) {
                const QByteArray shortKey = key.left(size);
                QVERIFY(codec.encode(kNistPlain, shortKey, kNistIv).isEmpty());
                QVERIFY(codec.decode(kNistPlain, shortKey, kNistIv).isEmpty());
                QVERIFY(codec.expandKey(shortKey).isEmpty());
            }
            // Only the first key-length bytes count.
            const QByteArray longKey = key + QByteArray("surplus");
            QCOMPARE(codec.encode(kNistPlain, longKey, kNistIv), codec.encode(kNistPlain, key, kNistIv));
            QCOMPARE(codec.decode(kNistPlain, longKey, kNistIv), codec.decode(kNistPlain, key, kNistIv));
        }
    }
}

void TestAesCodec::partialBlocks()
{
    const QByteArray key = nistKey(AESCodec::AES_256);
    for (auto mode : {AESCodec::ECB, AESCodec::CBC}) {
        const AESCodec codec(AESCodec::AES_256, mode, AESCodec::ZERO);
        for (int size : {1, 15, 17, 63})
            QVERIFY(codec.decode(kNistPlain.left(size), key, kNistIv).isEmpty());
        QVERIFY(codec.decode(QByteArray(), key, kNistIv).isEmpty());
    }
    // CFB and OFB decipher a short last segment like a stream cipher.
    for (auto mode : {AESCodec::CFB, AESCodec::OFB}) {
        const AESCodec codec(AESCodec::AES_256, mode, AESCodec::ZERO);
        const QByteArray cipherText = codec.encode(kNistPlain, key, kNistIv);
        for (int size : {0, 1, 15, 16, 17, 37, 63})
            QCOMPARE(codec.decode(cipherText.left(size), key, kNistIv), kNistPlain.left(size));
    }
}

void TestAesCodec::valuesOutsideEnumerations()
{
    // An unknown level works as AES-128.
    const QByteArray key = hex("000102030405060708090a0b0c0d0e0f");
    const QByteArray plain = hex("00112233445566778899aabbccddeeff");
    QCOMPARE(AESCodec::Crypt(AESCodec::Aes(3), AESCodec::ECB, plain, key, QByteArray(), AESCodec::ZERO),
             hex("69c4e0d86a7b0430d8cdb78070b4c55a"));
    QCOMPARE(AESCodec::ExpandKey(AESCodec::Aes(-1), AESCodec::ECB, key).size(), 176);
    // An unknown mode gives nothing.
    for (int mode : {-1, 4, 99}) {
        const AESCodec codec(AESCodec::AES_128, AESCodec::Mode(mode), AESCodec::PKCS7);
        QVERIFY(codec.encode(plain, key, kNistIv).isEmpty());
        QVERIFY(codec.decode(plain, key, kNistIv).isEmpty());
    }
}

void TestAesCodec::matchesOpenSsl_data()
{
    QTest::addColumn<AESCodec::Aes>("level");
    QTest::addColumn<AESCodec::Mode>("mode");
    QTest::addColumn<AESCodec::Padding>("padding");
    for (auto level : {AESCodec::AES_128, AESCodec::AES_192, AESCodec::AES_256}) {
        for (auto mode : {AESCodec::ECB, AESCodec::CBC, AESCodec::CFB, AESCodec::OFB}) {
            for (auto padding : {AESCodec::ZERO, AESCodec::PKCS7, AESCodec::ISO}) {
                const QByteArray name =
                    QByteArray(modeName(mode)) + levelName(level) + "/" + paddingName(padding);
                QTest::newRow(name.constData()) << level << mode << padding;
            }
        }
    }
}

void TestAesCodec::matchesOpenSsl()
{
    QFETCH(AESCodec::Aes, level);
    QFETCH(AESCodec::Mode, mode);
    QFETCH(AESCodec::Padding, padding);
    if (!OpenSslTool::available())
        QSKIP("no openssl program");
    QRandomGenerator random(1000u + 100u * level + 10u * mode + padding);
    const QByteArray key = randomBytes(random, keyBytes(level));
    const QByteArray iv = randomBytes(random, 16);
    const QByteArray text = randomBytes(random, 1 + int(random.bounded(300)));

    const QString cipherName = QStringLiteral("-aes-%1-%2").arg(levelName(level), modeName(mode));
    QStringList arguments{QStringLiteral("enc"), cipherName, QStringLiteral("-K"),
                          QString::fromLatin1(key.toHex())};
    if (mode != AESCodec::ECB)
        arguments << QStringLiteral("-iv") << QString::fromLatin1(iv.toHex());

    // openssl pads with PKCS #7 in ECB and CBC only; every other case gets the padded text and -nopad.
    const bool opensslPads = padding == AESCodec::PKCS7 && (mode == AESCodec::ECB || mode == AESCodec::CBC);
    const QByteArray expected =
        opensslPads ? OpenSslTool::run(arguments, text)
                    : OpenSslTool::run(arguments + QStringList{"-nopad"}, padded(text, padding));
    QVERIFY(!expected.isNull());
    QCOMPARE(AESCodec::Crypt(level, mode, text, key, iv, padding), expected);

    // And the other way: our decoding of openssl's output, here of a foreign ciphertext.
    const QByteArray foreign = randomBytes(random, 16 * int(1 + random.bounded(20)));
    const QByteArray plain = OpenSslTool::run(arguments + QStringList{"-d", "-nopad"}, foreign);
    QVERIFY(!plain.isNull());
    QCOMPARE(AESCodec::Decrypt(level, mode, foreign, key, iv, padding), plain);
    if (mode == AESCodec::CFB || mode == AESCodec::OFB) {
        const QByteArray odd = foreign.left(foreign.size() - 7);
        QCOMPARE(AESCodec::Decrypt(level, mode, odd, key, iv, padding),
                 OpenSslTool::run(arguments + QStringList{"-d", "-nopad"}, odd));
    }
}

QTEST_GUILESS_MAIN(TestAesCodec)
#include "tst_aescodec.moc"
