// The GBK codec: what leaves and enters the program as code page 936 bytes.
#include "platform/Gbk.h"

#include <QRandomGenerator>
#include <QtTest>

#include <algorithm>
#include <iconv.h>

using namespace lianbu;

class TestGbk : public QObject
{
    Q_OBJECT

private slots:
    void encodesKnownBytes_data();
    void encodesKnownBytes();
    void roundTripsWhatGbkHolds();
    void unrepresentableCharactersBecomeQuestionMarks();
    void loneSurrogatesBecomeQuestionMarks();
    void invalidBytesDecodeToReplacementCharacters();
    void emptyStaysEmpty();
    void survivesArbitraryInput();
    void leadBytes();
    void textsEncodeAsTheConverterEncodesThemWhole();
};

void TestGbk::encodesKnownBytes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("ascii") << "abc 123" << QByteArray("abc 123");
    QTest::newRow("chinese") << "中文" << QByteArray("\xD6\xD0\xCE\xC4");
    QTest::newRow("mixed") << "联簿宝 v1" << QByteArray("\xC1\xAA\xB2\xBE\xB1\xA6 v1");
    QTest::newRow("fullwidth punctuation") << "！（）" << QByteArray("\xA3\xA1\xA3\xA8\xA3\xA9");
    // Code page 936 holds the euro sign at 0x80, as Windows does.
    QTest::newRow("euro") << "€" << QByteArray("\x80");
    QTest::newRow("nul kept") << QString(QChar(0)) + "a" << QByteArray("\0a", 2);
}

void TestGbk::encodesKnownBytes()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(gbk::encode(text), bytes);
    QCOMPARE(gbk::decode(bytes), text);
}

void TestGbk::roundTripsWhatGbkHolds()
{
    const QString text = QStringLiteral("客户 张三, 李四; 电话:010-12345678\t地址：北京市海淀区 "
                                        "邮编100080 E-mail a@b.cn 备注「」〇");
    QCOMPARE(gbk::decode(gbk::encode(text)), text);
    // Every byte is either ASCII or part of a two-byte character.
    const QByteArray bytes = gbk::encode(text);
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes.at(i));
        if (b >= 0x80) {
            QVERIFY(gbk::isLeadByte(b));
            ++i;
        }
    }
}

void TestGbk::unrepresentableCharactersBecomeQuestionMarks()
{
    QCOMPARE(gbk::encode(QStringLiteral("a😀b")), QByteArray("a?b")); // one "?" per character
    QCOMPARE(gbk::encode(QStringLiteral("한국어")), QByteArray("???"));
    QCOMPARE(gbk::encode(QStringLiteral("中😀文")), QByteArray("\xD6\xD0?\xCE\xC4"));
    QCOMPARE(gbk::encode(QString(QChar(0xFFFD))), QByteArray("?"));
}

void TestGbk::loneSurrogatesBecomeQuestionMarks()
{
    QString high = QStringLiteral("a");
    high.append(QChar(0xD83D));
    high.append(QStringLiteral("b"));
    QCOMPARE(gbk::encode(high), QByteArray("a?b"));
    QString low;
    low.append(QChar(0xDE00));
    QCOMPARE(gbk::encode(low), QByteArray("?"));
    QString reversed;
    reversed.append(QChar(0xDE00));
    reversed.append(QChar(0xD83D));
    QCOMPARE(gbk::encode(reversed), QByteArray("??"));
}

void TestGbk::invalidBytesDecodeToReplacementCharacters()
{
    const QChar bad(0xFFFD);
    QCOMPARE(gbk::decode(QByteArray("a\xFF"
                                    "b")),
             QString("a") + bad + "b");
    // A lead byte cut off at the end.
    QCOMPARE(gbk::decode(QByteArray("ab\xD6")), QString("ab") + bad);
    // A lead byte followed by a byte that cannot trail: the second one survives.
    QCOMPARE(gbk::decode(QByteArray("\xD6\x0A"
                                    "x")),
             QString(bad) + "\nx");
    // A valid character after the damage decodes again.
    QCOMPARE(gbk::decode(QByteArray("\xFF\xD6\xD0")), QString(bad) + QStringLiteral("中"));
}

void TestGbk::emptyStaysEmpty()
{
    QVERIFY(gbk::encode(QString()).isEmpty());
    QVERIFY(gbk::decode(QByteArray()).isEmpty());
}

void TestGbk::survivesArbitraryInput()
{
    QRandomGenerator random(936);
    for (int round = 0; round < 200; ++round) {
        QByteArray bytes(static_cast<qsizetype>(random.bounded(1, 64)), '\0');
        for (char &b : bytes)
            b = static_cast<char>(random.bounded(256));
        const QString text = gbk::decode(bytes);
        QVERIFY(text.size() <= bytes.size()); // at most one character per byte
        // Whatever decode produced, encoding it again is possible and no longer than before.
        QVERIFY(gbk::encode(text).size() <= bytes.size());

        QString units;
        for (int i = 0; i < 32; ++i)
            units.append(QChar(static_cast<char16_t>(random.bounded(0x10000))));
        const QByteArray encoded = gbk::encode(units);
        QVERIFY(encoded.size() >= 16); // every unit gives at least one byte per pair
        QVERIFY(encoded.size() <= 64);
    }
}

void TestGbk::leadBytes()
{
    QVERIFY(!gbk::isLeadByte(0x80));
    QVERIFY(gbk::isLeadByte(0x81));
    QVERIFY(gbk::isLeadByte(0xFE));
    QVERIFY(!gbk::isLeadByte(0xFF));
    QVERIFY(!gbk::isLeadByte('A'));
}

QTEST_GUILESS_MAIN(TestGbk)
// Every character of the basic plane (and surrogates, paired or not) in random texts: the bytes
// built from single characters are those of the system converter run over the whole text, and
// the lossless verdict is the round trip's.
void TestGbk::textsEncodeAsTheConverterEncodesThemWhole()
{
    iconv_t cd = iconv_open("GBK", "UTF-16LE");
    QVERIFY(cd != reinterpret_cast<iconv_t>(-1));
    QRandomGenerator random(936);
    std::vector<char16_t> all;
    for (char32_t c = 1; c < 0x10000; ++c)
        all.push_back(char16_t(c));
    std::shuffle(all.begin(), all.end(), random);
    for (size_t at = 0; at < all.size();) {
        QString text;
        for (int n = int(random.bounded(1, 12)); n > 0 && at < all.size(); --n)
            text += QChar(all[at++]);
        if (random.bounded(20) == 0)
            text += QString::fromUcs4(U"\U0002A6A5");
        QByteArray fast;
        bool lossless = true;
        gbk::appendEncoded(text, &fast, &lossless);
        QCOMPARE(lossless, gbk::decode(gbk::encode(text)) == text);
        QCOMPARE(gbk::canEncode(text), lossless);
        // The converter over the whole text, each unconvertible character (a surrogate pair
        // counting as one) as "?".
        QByteArray whole;
        QByteArray utf16(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
        char *in = utf16.data();
        size_t inLeft = size_t(utf16.size());
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        while (inLeft > 0) {
            char out[256];
            char *to = out;
            size_t outLeft = sizeof out;
            const size_t rc = iconv(cd, &in, &inLeft, &to, &outLeft);
            whole.append(out, to - out);
            if (rc == size_t(-1) && errno != E2BIG) {
                const QChar at(char16_t(uchar(in[0]) | (uchar(in[1]) << 8)));
                const QChar after = inLeft >= 4 ? QChar(char16_t(uchar(in[2]) | (uchar(in[3]) << 8))) : QChar();
                const size_t skip = at.isHighSurrogate() && after.isLowSurrogate() ? 4 : 2;
                whole += '?';
                in += skip;
                inLeft -= skip;
                iconv(cd, nullptr, nullptr, nullptr, nullptr);
            }
        }
        QCOMPARE(fast, whole);
        QCOMPARE(gbk::encode(text), whole);
    }
    iconv_close(cd);
}

#include "test_gbk.moc"
