#include "app/Base64.h"
#include "app/Scramble.h"
#include "app/ValueCipher.h"

#include <gtest/gtest.h>

#include <cstdint>

using namespace pelio::app;

namespace {

// Encrypts raw plain bytes (already a whole number of blocks, or not) the way EncryptValue does,
// without adding padding, to make cipher texts that EncryptValue itself never produces.
QString WrapBlocks(QByteArray plain) {
    auto* data = reinterpret_cast<std::uint8_t*>(plain.data());
    for (qsizetype i = 0; i + 8 <= plain.size(); i += 8) ValueKeySchedule().EncryptBlock(data + i);
    return ScrambleHex(Base64Encode(plain), ValueKey);
}

}  // namespace

// Computed outside this code base: Python's "cp949" codec, OpenSSL's Blowfish in ECB mode (through
// the Python "cryptography" package) keyed with the 25 ASCII bytes of ValueKey, the padding and the
// scramble written out by hand, and Python's base64 module.
TEST(ValueCipher, KnownAnswers) {
    EXPECT_EQ(EncryptValue(QStringLiteral("1234567")), QStringLiteral("535800024A06680371096E0C"));
    EXPECT_EQ(EncryptValue(QStringLiteral("12345678")),
              QStringLiteral("7B5F18757E075C624A4E005E636768687C5240016246090C"));
    EXPECT_EQ(EncryptValue(QStringLiteral("chat:Hello")),
              QStringLiteral("506259791D5D064771095C605D7B49097E1A67744646090C"));
    EXPECT_EQ(
        EncryptValue(QStringLiteral("customer:EXK4U96B482/홍길동/010-1234-5678/acct")),
        QStringLiteral("407A5A77737C031B6D744E4057490444615D5E0862554D62730603065144026578615D5664087401"
                       "0F53447B5A075A467E5F725E0644666141424D4C0D60685D"));
    // 똠 and 뷁 lie outside EUC-KR: code page 949 bytes 8C 63 and 94 EE.
    const QString korean = QStringLiteral("안녕하세요 똠방각하 뷁");
    const QString koreanCipher =
        QStringLiteral("5706710956455C45177B645D795E0359581E7D6053550D6B4862795806765377");
    EXPECT_EQ(EncryptValue(korean), koreanCipher);
    EXPECT_EQ(DecryptValue(koreanCipher), korean);
    EXPECT_EQ(DecryptValue(QStringLiteral("535800024A06680371096E0C")), QStringLiteral("1234567"));
    EXPECT_EQ(DecryptValue(QStringLiteral("535800024a06680371096e0c")), QStringLiteral("1234567"));
}

TEST(ValueCipher, LengthFollowsThePadding) {
    EXPECT_EQ(EncryptValue(QString()), QString());
    EXPECT_EQ(DecryptValue(QString()), QString());
    // 7 bytes: one block, 12 Base64 characters, 24 digits. 8 bytes: a whole block of padding more.
    EXPECT_EQ(EncryptValue(QStringLiteral("abcdefg")).size(), 24);
    EXPECT_EQ(EncryptValue(QStringLiteral("abcdefgh")).size(), 48);
    EXPECT_EQ(EncryptValue(QStringLiteral("a")).size(), 24);
    // Lengths count code page bytes: three Korean syllables and a letter are 7 bytes.
    EXPECT_EQ(EncryptValue(QStringLiteral("가나다a")).size(), 24);
    EXPECT_EQ(EncryptValue(QStringLiteral("가나다라")).size(), 48);
    const QString hex = EncryptValue(QStringLiteral("anything at all"));
    for (QChar c : hex) EXPECT_TRUE((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F')) << int{c.unicode()};
}

TEST(ValueCipher, RoundTrips) {
    QString all;
    for (char16_t c = 1; c < 0x80; ++c) all += QChar(c);
    QString chat;
    while (chat.size() < 20000) chat += QStringLiteral("똠뷁햏 안녕하세요, 원격지원입니다! 0123 ");
    const QString texts[] = {
        QStringLiteral("x"),
        all,
        QStringLiteral("customer:EXK4U96B482/홍길동/010-1234-5678/"),
        QStringLiteral("똠"),
        QStringLiteral("뷁"),
        QStringLiteral("end"),
        chat,
    };
    for (const QString& t : texts) {
        SCOPED_TRACE(t.left(20).toStdString());
        EXPECT_EQ(DecryptValue(EncryptValue(t)), t);
    }
    // A character the code page lacks travels as "?".
    EXPECT_EQ(DecryptValue(EncryptValue(QStringLiteral("a😀b"))), QStringLiteral("a?b"));
}

TEST(ValueCipher, CachedScheduleGivesTheSameResultsAsAFreshOne) {
    const Blowfish fresh = MakeValueKeySchedule();
    for (const QString& t : {QStringLiteral("chat:안녕"), QStringLiteral("abcdefgh")}) {
        const QString cached = EncryptValue(t);
        EXPECT_EQ(EncryptValue(t, fresh), cached);
        EXPECT_EQ(DecryptValue(cached, fresh), t);
    }
}

TEST(ValueCipher, PaddingByteRules) {
    // A padding byte above 8 (or 0) drops nothing; 1..8 drops that many, however the bytes read.
    EXPECT_EQ(DecryptValue(WrapBlocks("ABCDEFG\x09")), QStringLiteral("ABCDEFG\t"));
    EXPECT_EQ(DecryptValue(WrapBlocks(QByteArray("ABCDEFG\0", 8))), QStringLiteral("ABCDEFG") + QChar(0));
    EXPECT_EQ(DecryptValue(WrapBlocks("ABCDEFGHABCDEFG\xFF")),
              QStringLiteral("ABCDEFGHABCDEFG") + QChar(0xFFFD));
    EXPECT_EQ(DecryptValue(WrapBlocks("ABCDEFZ\x03")), QStringLiteral("ABCDE"));
    EXPECT_EQ(DecryptValue(WrapBlocks("ABCDEFGHABCDEFG\x08")), QStringLiteral("ABCDEFGH"));
    EXPECT_EQ(DecryptValue(WrapBlocks("\x08\x08\x08\x08\x08\x08\x08\x08")), QString());  // nothing left
}

TEST(ValueCipher, IncompleteLastBlockIsDropped) {
    // One whole block and four more bytes: the four are lost, the block decrypts.
    EXPECT_EQ(DecryptValue(WrapBlocks("ABCDE\x03\x03\x03WXYZ")), QStringLiteral("ABCDE"));
    // Fewer than 8 bytes hold no block at all.
    EXPECT_EQ(DecryptValue(WrapBlocks("ABCD")), QString());
}

TEST(ValueCipher, BadInputGivesEmptyText) {
    const QString good = EncryptValue(QStringLiteral("chat:Hello"));
    const QString bad[] = {
        QStringLiteral("G"),                                // one digit: a single Base64 character, no byte
        QStringLiteral("zz"),                               // not hexadecimal: reads as 0
        QString(20, u'Z'),                                  // ... 10 Base64 characters, still under 8 bytes
        ScrambleHex(QStringLiteral("abcd!efg"), ValueKey),  // not Base64 once unscrambled
        ScrambleHex(QStringLiteral("Zm9v Ym"), ValueKey),
        good + QStringLiteral("AB"),         // a last pair that unscrambles to a non-ASCII code
        good.left(good.size() - 1),          // odd length: the last "=" turns into a digit
        QString(50000, u'A'),                // long: each pair unscrambles to a non-ASCII code
        QStringLiteral("가나다라마바사아"),  // no hexadecimal at all
    };
    for (const QString& t : bad) {
        SCOPED_TRACE(t.left(30).toStdString());
        EXPECT_EQ(DecryptValue(t), QString());
    }
}
