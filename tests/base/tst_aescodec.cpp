// Guards the AES codec against openssl, its two engines against each other, padding removal and refusals.
#include <base/AESCodec.h>
#include <base/AesBlockCipher.h>

#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QtTest>

using Nerova::AesBlockCipher;
using Nerova::AESCodec;

Q_DECLARE_METATYPE(AESCodec::Aes)
Q_DECLARE_METATYPE(AESCodec::Mode)
Q_DECLARE_METATYPE(AESCodec::Padding)

namespace {

const AESCodec::Aes kLevels[] = {AESCodec::AES_128, AESCodec::AES_192, AESCodec::AES_256};
const AESCodec::Mode kModes[] = {AESCodec::ECB, AESCodec::CBC, AESCodec::CFB, AESCodec::OFB};

QByteArray hex(const char* text)
{
    return QByteArray::fromHex(text);
}

const char* const kModeNames[] = {"ecb", "cbc", "cfb", "ofb"};

QByteArray name(AESCodec::Aes level, AESCodec::Mode mode)
{
    return QByteArray(kModeNames[mode]) + QByteArray::number(128 + 64 * level);
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
    if (padding == AESCodec::PKCS7)
        return text + QByteArray(size == 0 ? 16 : size, char(size == 0 ? 16 : size));
    if (padding == AESCodec::ISO && size > 0)
        return text + char(0x80) + QByteArray(size - 1, '\0');
    return text + QByteArray(size, '\0');
}

// Runs one mode of the engine over a text; iv carries the chain on to a following call.
QByteArray runEngine(const AesBlockCipher& cipher, AESCodec::Mode mode, bool encrypt, const QByteArray& in,
                     QByteArray& iv)
{
    QByteArray out(in.size(), Qt::Uninitialized);
    const auto n = static_cast<std::size_t>(in.size());
    const auto* i = reinterpret_cast<const std::uint8_t*>(in.constData());
    auto* o = reinterpret_cast<std::uint8_t*>(out.data());
    auto* v = reinterpret_cast<std::uint8_t*>(iv.data());
    if (mode == AESCodec::ECB)
        encrypt ? cipher.encryptEcb(i, o, n / 16) : cipher.decryptEcb(i, o, n / 16);
    else if (mode == AESCodec::CBC)
        encrypt ? cipher.encryptCbc(i, o, n / 16, v) : cipher.decryptCbc(i, o, n / 16, v);
    else if (mode == AESCodec::CFB)
        encrypt ? cipher.encryptCfb(i, o, n, v) : cipher.decryptCfb(i, o, n, v);
    else
        cipher.cryptOfb(i, o, n, v);
    return out;
}

// The output of the openssl program, the independent reference; a null array when it failed.
QByteArray openssl(const QStringList& arguments, const QByteArray& input)
{
    QProcess process;
    process.start(QStringLiteral("openssl"), arguments);
    if (!process.waitForStarted())
        return {};
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return {};
    const QByteArray output = process.readAllStandardOutput();
    return output.isNull() ? QByteArray("") : output; // empty, not failed
}

// An engine for the key.
AesBlockCipher engine(const QByteArray& key, AesBlockCipher::Engine kind)
{
    return AesBlockCipher(reinterpret_cast<const std::uint8_t*>(key.constData()), key.size() / 4, kind);
}

} // namespace

class TestAesCodec : public QObject
{
    Q_OBJECT

private slots:
    void enginesAgree()
    {
        if (!AesBlockCipher::hasAesNi())
            QSKIP("this processor has no AES instructions");
        QRandomGenerator random(0x5eed);
        for (auto level : kLevels) {
            const QByteArray key = randomBytes(random, 16 + 8 * level);
            const AesBlockCipher portable = engine(key, AesBlockCipher::Engine::Portable);
            const AesBlockCipher aesNi = engine(key, AesBlockCipher::Engine::AesNi);
            QCOMPARE(aesNi.engine(), AesBlockCipher::Engine::AesNi);
            for (auto mode : kModes) {
                // Sizes around the engines' eight-block batches, and a large one; stream modes end short.
                for (int blocks : {1, 7, 8, 9, 17, 4099}) {
                    const QByteArray iv = randomBytes(random, 16);
                    const QByteArray text = randomBytes(random, 16 * blocks + (mode >= AESCodec::CFB) * 5);
                    const int split = 16 * (blocks / 2);
                    for (bool encrypt : {true, false}) {
                        QByteArray chain = iv;
                        const QByteArray expected = runEngine(portable, mode, encrypt, text, chain);
                        // Continuing a chain over two calls gives the bytes of one call.
                        for (const AesBlockCipher* cipher : {&portable, &aesNi}) {
                            chain = iv;
                            QByteArray joined = runEngine(*cipher, mode, encrypt, text.left(split), chain);
                            joined += runEngine(*cipher, mode, encrypt, text.mid(split), chain);
                            QVERIFY2(joined == expected, name(level, mode).constData());
                        }
                    }
                }
            }
        }
    }

    void matchesOpenSsl_data()
    {
        QTest::addColumn<AESCodec::Aes>("level");
        QTest::addColumn<AESCodec::Mode>("mode");
        QTest::addColumn<AESCodec::Padding>("padding");
        static const char* const paddings[] = {"/zero", "/pkcs7", "/iso"};
        for (auto level : kLevels) {
            for (auto mode : kModes) {
                for (auto padding : {AESCodec::ZERO, AESCodec::PKCS7, AESCodec::ISO})
                    QTest::newRow((name(level, mode) + paddings[padding]).constData())
                        << level << mode << padding;
            }
        }
    }

    void matchesOpenSsl()
    {
        QFETCH(AESCodec::Aes, level);
        QFETCH(AESCodec::Mode, mode);
        QFETCH(AESCodec::Padding, padding);
        if (QStandardPaths::findExecutable(QStringLiteral("openssl")).isEmpty())
            QSKIP("no openssl program");
        QRandomGenerator random(1000u + 100u * level + 10u * mode + padding);
        const QByteArray key = randomBytes(random, 16 + 8 * level);
        const QByteArray iv = randomBytes(random, 16);
        QStringList arguments{
            QStringLiteral("enc"), QStringLiteral("-aes-%1-%2").arg(128 + 64 * level).arg(kModeNames[mode]),
            QStringLiteral("-nopad"), QStringLiteral("-K"), QString::fromLatin1(key.toHex())};
        if (mode != AESCodec::ECB)
            arguments << QStringLiteral("-iv") << QString::fromLatin1(iv.toHex());

        // Whole blocks under 128-bit keys, which PKCS #7 must extend by a block; a short text otherwise.
        const int size = level == AESCodec::AES_128 ? 32 : 1 + int(random.bounded(14));
        QByteArray text = randomBytes(random, size);
        text[size - 1] = char(text.at(size - 1) | 1); // so the zero padding can be told from the text
        const QByteArray expected = openssl(arguments, padded(text, padding));
        QVERIFY(!expected.isNull());
        // Key bytes beyond the key length are ignored.
        QCOMPARE(AESCodec::Crypt(level, mode, text, key + "surplus", iv, padding), expected);
        const QByteArray decoded = AESCodec::Decrypt(level, mode, expected, key, iv, padding);
        QCOMPARE(decoded, padded(text, padding));
        QCOMPARE(AESCodec::RemovePadding(decoded, padding), text);

        // Our decoding of a foreign ciphertext, which in CFB and OFB need not be whole blocks.
        const QByteArray foreign = randomBytes(random, mode >= AESCodec::CFB ? 57 : 48);
        const QByteArray plain = openssl(arguments + QStringList{"-d"}, foreign);
        QVERIFY(!plain.isNull());
        QCOMPARE(AESCodec::Decrypt(level, mode, foreign, key, iv, padding), plain);
    }

    void removePadding_data()
    {
        QTest::addColumn<AESCodec::Padding>("padding");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("iso marker only") << AESCodec::ISO << hex("800000") << QByteArray("");
        QTest::newRow("iso marker not last") << AESCodec::ISO << hex("80410000") << hex("80410000");
        QTest::newRow("iso all zero") << AESCodec::ISO << hex("000000") << hex("000000");
        QTest::newRow("pkcs7 others unchecked") << AESCodec::PKCS7 << hex("41424302") << hex("4142");
        QTest::newRow("pkcs7 zero") << AESCodec::PKCS7 << hex("4100") << hex("4100");
        QTest::newRow("pkcs7 0xff") << AESCodec::PKCS7 << hex("41ff") << hex("41ff");
        QTest::newRow("pkcs7 beyond length") << AESCodec::PKCS7 << hex("4105") << hex("4105");
        QTest::newRow("zero all zero") << AESCodec::ZERO << hex("000000") << QByteArray("");
        QTest::newRow("outside enumeration") << AESCodec::Padding(7) << hex("41000000") << hex("41000000");
    }

    void removePadding()
    {
        QFETCH(AESCodec::Padding, padding);
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, expected);
        QCOMPARE(AESCodec(AESCodec::AES_128, AESCodec::CBC, padding).removePadding(text), expected);
    }

    void refusedInput_data()
    {
        QTest::addColumn<AESCodec::Aes>("level");
        QTest::addColumn<AESCodec::Mode>("mode");
        QTest::addColumn<int>("keySize");
        QTest::addColumn<int>("ivSize");
        QTest::addColumn<bool>("encodes"); // whether only decoding is refused
        // Too few key bytes for the level: nothing may be read past the key.
        QTest::newRow("192 key one short") << AESCodec::AES_192 << AESCodec::CBC << 23 << 16 << false;
        QTest::newRow("256 key of 128") << AESCodec::AES_256 << AESCodec::OFB << 16 << 16 << false;
        QTest::newRow("no iv") << AESCodec::AES_128 << AESCodec::CFB << 16 << 0 << false;
        QTest::newRow("iv 15") << AESCodec::AES_128 << AESCodec::CBC << 16 << 15 << false;
        QTest::newRow("iv 17") << AESCodec::AES_256 << AESCodec::OFB << 32 << 17 << false;
        QTest::newRow("mode outside enumeration")
            << AESCodec::AES_128 << AESCodec::Mode(4) << 16 << 16 << false;
        // Block modes decipher whole blocks only.
        QTest::newRow("ecb short block") << AESCodec::AES_128 << AESCodec::ECB << 16 << 16 << true;
        QTest::newRow("cbc short block") << AESCodec::AES_256 << AESCodec::CBC << 32 << 16 << true;
    }

    void refusedInput()
    {
        QFETCH(AESCodec::Aes, level);
        QFETCH(AESCodec::Mode, mode);
        QFETCH(int, keySize);
        QFETCH(int, ivSize);
        QFETCH(bool, encodes);
        const AESCodec codec(level, mode, AESCodec::PKCS7);
        const QByteArray key(keySize, 'k');
        const QByteArray text(encodes ? 63 : 64, 't');
        QCOMPARE(codec.encode(text, key, QByteArray(ivSize, 'v')).isEmpty(), !encodes);
        QVERIFY(codec.decode(text, key, QByteArray(ivSize, 'v')).isEmpty());
        if (keySize < 16 + 8 * level)
            QVERIFY(codec.expandKey(key).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestAesCodec)
#include "tst_aescodec.moc"
