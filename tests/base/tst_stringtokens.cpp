// Guards string tokens (round trip, openssl format, refusal of damaged or forged ones) and export checksums.
#include <base/AESCodec.h>
#include <base/ExportChecksum.h>
#include <base/StringEncryption.h>

#include <QDateTime>
#include <QtTest>

using namespace Nerova;

namespace {

const QByteArray kKey("%&:;MAPLE=+(]}-/");
const QByteArray kIv(")!/,<>[{MAPLE$#=");
const QString kStampFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");
const QString kNonAscii = QString::fromUtf8("Nerova export token: Grüße aus Köln — 東京 ✓");

QString tokenOf(const QByteArray& cipherText)
{
    return QString::fromLatin1(cipherText.toBase64());
}

// A token of exactly these deciphered bytes, made without the token code's own padding.
QString forged(const QByteArray& plain, const QByteArray& key = kKey)
{
    return tokenOf(AESCodec::Crypt(AESCodec::AES_128, AESCodec::CBC, plain, key, kIv, AESCodec::ZERO));
}

} // namespace

class TestStringTokens : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << QString();
        QTest::newRow("non-ascii") << kNonAscii;
        QTest::newRow("outside the basic plane") << QString::fromUtf8("emoji 😀 and 𝄞");
        // U+FEFF at the start is a character of the text, not a byte order mark to drop.
        QTest::newRow("leading U+FEFF") << QChar(0xFEFF) + QStringLiteral("text");
        QTest::newRow("cut at U+0000") << QStringLiteral("before") + QChar(0) + QStringLiteral("after");
    }

    void roundTrip()
    {
        QFETCH(QString, text);
        const QString expected = text.left(text.indexOf(QChar(0)));
        const QString token = encryptString(text);
        QCOMPARE(decryptString(token), expected);
        // Blanks and line breaks inside the token are ignored.
        QString spread;
        for (int i = 0; i < token.size(); ++i)
            spread += token.at(i) + QString(i % 7 == 6 ? " \r\n " : "");
        QCOMPARE(decryptString(QStringLiteral("  ") + spread + QStringLiteral("\n")), expected);
    }

    void knownToken()
    {
        // Made with: openssl enc -aes-128-cbc -K <key hex> -iv <iv hex> -a -A
        QCOMPARE(
            encryptString(kNonAscii),
            QStringLiteral(
                "TtifiuyEVdptDZ9Azec5AkSJkPfJ4/tIvuBPXea9PLjTLZfXJfkIdXVKG2WswMLWUnckjgOUiVvzVvTIlEMVJg=="));
    }

    void refusedTokens_data()
    {
        QTest::addColumn<QString>("token");
        const QByteArray cipherText = QByteArray::fromBase64(encryptString(kNonAscii).toLatin1());
        QTest::newRow("not Base64") << QStringLiteral("not a token at all!");
        QTest::newRow("cut characters") << encryptString(kNonAscii).chopped(3);
        QTest::newRow("short block") << tokenOf(cipherText.left(17));
        QTest::newRow("appended byte") << tokenOf(cipherText + "x");
        // A lost last block leaves a last block without padding.
        QTest::newRow("lost last block") << tokenOf(cipherText.chopped(16));
        QTest::newRow("other key") << forged("short" + QByteArray(11, '\x0b'), "0123456789abcdef");
        // The last byte alone looks like padding; the bytes it covers do not.
        QTest::newRow("pad bytes differ") << forged("0123456789ab\x07\x07\x07\x04");
        QTest::newRow("pad beyond a block") << forged(QByteArray(31, 'a') + "\x11");
        QTest::newRow("not UTF-8") << forged("ok \xC3( \xFF\xFE" + QByteArray(8, '\x08'));
        QTest::newRow("cut UTF-8 sequence") << forged("abcdefghijklm\xE2\x82" + QByteArray(1, '\x01'));
        // Any changed byte garbles a whole block.
        for (int i = 0; i < cipherText.size(); ++i) {
            for (char flip : {char(0x01), char(0x80)})
                QTest::addRow("byte %d ^ %02x", i, flip & 0xff)
                    << tokenOf(cipherText.left(i) + char(cipherText.at(i) ^ flip) + cipherText.mid(i + 1));
        }
    }

    void refusedTokens()
    {
        QFETCH(QString, token);
        QCOMPARE(decryptString(token), QString());
    }

    void checksum_data()
    {
        QTest::addColumn<QString>("token");
        QTest::addColumn<QString>("payload");
        QTest::addColumn<bool>("accepted");
        const QString good = genExportChecksum(QStringLiteral("project-42"));
        QTest::newRow("matching") << good << "project-42" << true;
        QTest::newRow("other case") << good << "Project-42" << false;
        QTest::newRow("empty payload") << genExportChecksum(QString()) << "" << true;
        // A payload holding "," splits into three pieces and never validates.
        QTest::newRow("payload with comma") << genExportChecksum(QStringLiteral("a,b")) << "a,b" << false;
        // Only a stamp that parses can lie too far ahead.
        QTest::newRow("unreadable stamp") << encryptString(QStringLiteral("not a date,pay")) << "pay" << true;
        QTest::newRow("no separator") << encryptString(QStringLiteral("payload")) << "payload" << false;
        QTest::newRow("cut token") << good.chopped(4) << "project-42" << false;
    }

    void checksum()
    {
        QFETCH(QString, token);
        QFETCH(QString, payload);
        QFETCH(bool, accepted);
        QCOMPARE(validateExportChecksum(token, payload), accepted);
        const QDateTime stamp = QDateTime::fromString(decryptString(token).section(',', 0, 0), kStampFormat);
        if (accepted && payload != QLatin1String("pay")) // the stamp other copies read: local time now
            QVERIFY(stamp.isValid() && qAbs(QDateTime::currentDateTime().secsTo(stamp)) <= 5);
    }

    void checksumStamps_data()
    {
        QTest::addColumn<qint64>("secondsAhead");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("3599 s ahead") << qint64(3599) << true;
        QTest::newRow("3600 s ahead") << qint64(3600) << false;
        QTest::newRow("ten years behind") << qint64(-10) * 365 * 86400 << true;
    }

    void checksumStamps()
    {
        QFETCH(qint64, secondsAhead);
        QFETCH(bool, accepted);
        // Stamps hold whole seconds; the checker's clock has milliseconds. Early in a second, a stamp one
        // second past this second plus n lies between n and n + 1 seconds ahead for the next half second.
        QTRY_VERIFY_WITH_TIMEOUT(QTime::currentTime().msec() > 0 && QTime::currentTime().msec() < 500, 3000);
        QDateTime now = QDateTime::currentDateTime();
        now.setTime(QTime(now.time().hour(), now.time().minute(), now.time().second()));
        const QString stamp = now.addSecs(1 + secondsAhead).toString(kStampFormat);
        QCOMPARE(validateExportChecksum(encryptString(stamp + QStringLiteral(",payload")),
                                        QStringLiteral("payload")),
                 accepted);
    }
};

QTEST_GUILESS_MAIN(TestStringTokens)
#include "tst_stringtokens.moc"
