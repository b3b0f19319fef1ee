#include "OpenSslTool.h"

#include <base/AESCodec.h>
#include <base/ExportChecksum.h>
#include <base/StringEncryption.h>

#include <QDateTime>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QtTest>

using namespace Nerova;

namespace {

const QByteArray kKey("%&:;MAPLE=+(]}-/");
const QByteArray kIv(")!/,<>[{MAPLE$#=");
const QString kStampFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");

QString nonAsciiText()
{
    return QString::fromUtf8("Nerova export token: Grüße aus Köln — 東京 ✓");
}

QByteArray cipherTextOf(const QString& token)
{
    return QByteArray::fromBase64(token.toLatin1());
}

QString tokenOf(const QByteArray& cipherText)
{
    return QString::fromLatin1(cipherText.toBase64());
}

} // namespace

class TestStringTokens : public QObject
{
    Q_OBJECT

private slots:
    void emptyText();
    void tokenLengths_data();
    void tokenLengths();
    void roundTrip_data();
    void roundTrip();
    void cutAtZeroCharacter();
    void blanksInsideToken();
    void matchesOpenSsl();
    void damagedTokens();
    void foreignTokens();

    void checksumValidates();
    void checksumDebugLine();
    void checksumStamps_data();
    void checksumStamps();
    void checksumUnreadableStamp();
    void checksumRejects_data();
    void checksumRejects();
};

void TestStringTokens::emptyText()
{
    const QString token = encryptString(QString());
    QCOMPARE(token.size(), 24);
    QVERIFY(token.endsWith(QLatin1String("==")));
    QCOMPARE(decryptString(token), QString());
    QCOMPARE(decryptString(QString()), QString());
}

void TestStringTokens::tokenLengths_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("tokenLength");
    QTest::newRow("15 bytes") << QStringLiteral("fifteen bytes!!") << 24;
    QTest::newRow("16 bytes") << QStringLiteral("sixteen bytes!!!") << 44;
    // Eight two-byte characters.
    QTest::newRow("16 UTF-8 bytes") << QString::fromUtf8("ääääääää") << 44;
}

void TestStringTokens::tokenLengths()
{
    QFETCH(QString, text);
    QFETCH(int, tokenLength);
    const QString token = encryptString(text);
    QCOMPARE(token.size(), tokenLength);
    QCOMPARE(encryptString(text), token);
    QCOMPARE(decryptString(token), text);
}

void TestStringTokens::roundTrip_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("ascii") << QStringLiteral("plain text");
    QTest::newRow("non-ascii") << nonAsciiText();
    QTest::newRow("outside the basic plane") << QString::fromUtf8("emoji 😀 and 𝄞");
    QTest::newRow("commas and line breaks") << QStringLiteral("a,b,,c\nline two\r\n");
    QTest::newRow("long") << QString(1000, QChar(0x263A));
    // U+FEFF at the start is a character of the text, not a byte order mark to drop.
    QTest::newRow("leading U+FEFF") << QString(QChar(0xFEFF)) + QStringLiteral("text");
    QTest::newRow("only U+FEFF twice") << QString(2, QChar(0xFEFF));
}

void TestStringTokens::roundTrip()
{
    QFETCH(QString, text);
    QCOMPARE(decryptString(encryptString(text)), text);
}

void TestStringTokens::cutAtZeroCharacter()
{
    const QString text = QStringLiteral("before") + QChar(0) + QStringLiteral("after");
    QCOMPARE(decryptString(encryptString(text)), QStringLiteral("before"));
}

void TestStringTokens::blanksInsideToken()
{
    const QString text = nonAsciiText();
    const QString token = encryptString(text);
    QString spread;
    for (int i = 0; i < token.size(); ++i) {
        spread += token.at(i);
        if (i % 7 == 6)
            spread += i % 2 ? QStringLiteral("\n") : QStringLiteral(" \r\n ");
    }
    QCOMPARE(decryptString(spread), text);
    QCOMPARE(decryptString(QStringLiteral("  ") + token + QStringLiteral("\n")), text);
}

void TestStringTokens::matchesOpenSsl()
{
    // Made with: openssl enc -aes-128-cbc -K <key hex> -iv <iv hex> -a -A
    QCOMPARE(encryptString(nonAsciiText()),
             QStringLiteral(
                 "TtifiuyEVdptDZ9Azec5AkSJkPfJ4/tIvuBPXea9PLjTLZfXJfkIdXVKG2WswMLWUnckjgOUiVvzVvTIlEMVJg=="));

    if (!OpenSslTool::available())
        QSKIP("no openssl program");
    const QStringList arguments{QStringLiteral("enc"), QStringLiteral("-aes-128-cbc"),
                                QStringLiteral("-K"),  QString::fromLatin1(kKey.toHex()),
                                QStringLiteral("-iv"), QString::fromLatin1(kIv.toHex()),
                                QStringLiteral("-a"),  QStringLiteral("-A")};
    for (const QString& text : {QString(), QStringLiteral("x"), QStringLiteral("2024-06-05 10:11:12,payload"),
                                QString(300, QChar(0xE9))}) {
        const QByteArray expected = OpenSslTool::run(arguments, text.toUtf8());
        QVERIFY(!expected.isNull());
        QCOMPARE(encryptString(text), QString::fromLatin1(expected.trimmed()));
    }
}

void TestStringTokens::damagedTokens()
{
    const QString text = nonAsciiText() + QStringLiteral(" with a tail of plain ASCII text");
    const QString token = encryptString(text);
    const QByteArray cipherText = cipherTextOf(token);
    QVERIFY(cipherText.size() >= 64);

    // Any changed byte garbles a whole block.
    for (int i = 0; i < cipherText.size(); ++i) {
        for (char flip : {char(0x01), char(0x80)}) {
            QByteArray damaged = cipherText;
            damaged[i] = static_cast<char>(damaged.at(i) ^ flip);
            QVERIFY2(decryptString(tokenOf(damaged)).isEmpty(), qPrintable(QString::number(i)));
        }
    }
    // Lengths that are not whole blocks: cut characters or bytes, appended bytes.
    for (int cut = 1; cut < 8; ++cut)
        QVERIFY(decryptString(token.left(token.size() - cut)).isEmpty());
    for (int size : {1, 15, 17, cipherText.size() - 1})
        QVERIFY(decryptString(tokenOf(cipherText.left(size))).isEmpty());
    QVERIFY(decryptString(tokenOf(cipherText + "x")).isEmpty());
    // Whole blocks missing at the end: the new last block holds no padding.
    QVERIFY(decryptString(tokenOf(cipherText.left(cipherText.size() - 16))).isEmpty());
    QVERIFY(decryptString(QStringLiteral("not a token at all")).isEmpty());
    QVERIFY(decryptString(QStringLiteral("!!!!")).isEmpty());
}

void TestStringTokens::foreignTokens()
{
    // Tokens of another key, and random whole blocks, are refused rather than turned into garbage text.
    const QByteArray otherKey("0123456789abcdef");
    for (const QString& text : {QStringLiteral("short"), nonAsciiText()}) {
        const QByteArray foreign =
            AESCodec::Crypt(AESCodec::AES_128, AESCodec::CBC, text.toUtf8(), otherKey, kIv, AESCodec::PKCS7);
        QVERIFY(decryptString(tokenOf(foreign)).isEmpty());
    }
    QRandomGenerator random(77);
    for (int i = 0; i < 200; ++i) {
        QByteArray block(16 * int(1 + random.bounded(4)), Qt::Uninitialized);
        for (char& c : block)
            c = static_cast<char>(random.bounded(256));
        QVERIFY2(decryptString(tokenOf(block)).isEmpty(), block.toHex().constData());
    }
}

void TestStringTokens::checksumValidates()
{
    const QString token = genExportChecksum(QStringLiteral("project-42"));
    QVERIFY(validateExportChecksum(token, QStringLiteral("project-42")));
    QVERIFY(!validateExportChecksum(token, QStringLiteral("Project-42")));
    QVERIFY(!validateExportChecksum(token, QStringLiteral("project-42 ")));
    QVERIFY(!validateExportChecksum(token, QString()));

    const QString empty = genExportChecksum(QString());
    QVERIFY(decryptString(empty).endsWith(QLatin1Char(',')));
    QVERIFY(validateExportChecksum(empty, QString()));
    QVERIFY(!validateExportChecksum(empty, QStringLiteral("x")));

    const QString nonAscii = genExportChecksum(nonAsciiText());
    QVERIFY(validateExportChecksum(nonAscii, nonAsciiText()));

    // A payload holding "," splits into three parts and never validates.
    const QString comma = genExportChecksum(QStringLiteral("a,b"));
    QVERIFY(!validateExportChecksum(comma, QStringLiteral("a,b")));
    QVERIFY(!validateExportChecksum(comma, QStringLiteral("b")));
}

void TestStringTokens::checksumDebugLine()
{
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral(
                                         "^string: \"\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d,pay\"$")));
    const QDateTime before = QDateTime::currentDateTime();
    const QString text = decryptString(genExportChecksum(QStringLiteral("pay")));
    const QDateTime stamp = QDateTime::fromString(text.section(QLatin1Char(','), 0, 0), kStampFormat);
    QVERIFY(stamp.isValid());
    QVERIFY(qAbs(before.secsTo(stamp)) <= 2);
}

void TestStringTokens::checksumStamps_data()
{
    QTest::addColumn<qint64>("secondsAhead");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("now") << qint64(0) << true;
    QTest::newRow("3599 s ahead") << qint64(3599) << true;
    QTest::newRow("3600 s ahead") << qint64(3600) << false;
    QTest::newRow("a day ahead") << qint64(86400) << false;
    QTest::newRow("a day behind") << qint64(-86400) << true;
    QTest::newRow("ten years behind") << qint64(-10) * 365 * 86400 << true;
}

void TestStringTokens::checksumStamps()
{
    QFETCH(qint64, secondsAhead);
    QFETCH(bool, accepted);
    // Stamps hold whole seconds and the checker counts whole seconds to them from a clock with
    // milliseconds. Starting early in a second, a stamp one second past this second plus n lies between
    // n and n + 1 seconds ahead until the checker runs, which is well within half a second.
    QTRY_VERIFY_WITH_TIMEOUT(QTime::currentTime().msec() > 0 && QTime::currentTime().msec() < 500, 3000);
    QDateTime now = QDateTime::currentDateTime();
    now.setTime(QTime(now.time().hour(), now.time().minute(), now.time().second()));
    const QDateTime stamp = now.addSecs(1 + secondsAhead);
    const QString token = encryptString(stamp.toString(kStampFormat) + QStringLiteral(",payload"));
    QCOMPARE(validateExportChecksum(token, QStringLiteral("payload")), accepted);
}

void TestStringTokens::checksumUnreadableStamp()
{
    // The rule peers apply: only a stamp that parses can lie too far ahead.
    for (const QString& stamp :
         {QStringLiteral("not a date"), QStringLiteral("2999-13-45 99:99:99"), QString()}) {
        const QString token = encryptString(stamp + QStringLiteral(",payload"));
        QVERIFY(validateExportChecksum(token, QStringLiteral("payload")));
        QVERIFY(!validateExportChecksum(token, QStringLiteral("other")));
    }
}

void TestStringTokens::checksumRejects_data()
{
    QTest::addColumn<QString>("token");
    QTest::newRow("empty token") << QString();
    QTest::newRow("no separator") << encryptString(QStringLiteral("payload"));
    QTest::newRow("garbage") << QStringLiteral("AAAAAAAAAAAAAAAAAAAAAA==");
    const QString good =
        encryptString(QDateTime::currentDateTime().toString(kStampFormat) + QStringLiteral(",payload"));
    QTest::newRow("cut token") << good.left(good.size() - 4);
    QByteArray damaged = cipherTextOf(good);
    damaged[3] = static_cast<char>(damaged.at(3) ^ 0x10);
    QTest::newRow("damaged token") << tokenOf(damaged);
}

void TestStringTokens::checksumRejects()
{
    QFETCH(QString, token);
    QVERIFY(!validateExportChecksum(token, QStringLiteral("payload")));
}

QTEST_GUILESS_MAIN(TestStringTokens)
#include "tst_stringtokens.moc"
