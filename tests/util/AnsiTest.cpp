#include "util/core/Ansi.h"

#include <gtest/gtest.h>

using namespace pelio::util;

TEST(Ansi, EncodesKoreanAsCodePage949IncludingSyllablesOutsideEucKr) {
    EXPECT_EQ(ToAnsi(QStringLiteral("가A")), QByteArray("\xB0\xA1"
                                                        "A"));
    // 똠 and 햏 are not in EUC-KR; code page 949 places them in its extension area.
    EXPECT_EQ(ToAnsi(QStringLiteral("똠")), QByteArray("\x8C\x63"));
    EXPECT_EQ(ToAnsi(QStringLiteral("햏")), QByteArray("\xC1\x64"));
    EXPECT_EQ(ToAnsi(QStringLiteral("뷁")), QByteArray("\x94\xEE"));
    EXPECT_EQ(FromAnsi(QByteArray("\x8C\x63\xC1\x64\xB0\xA1")), QStringLiteral("똠햏가"));
    const QString mixed = QStringLiteral("뷁 Hello 홍길동 010-1234-5678 똠방각하");
    EXPECT_EQ(FromAnsi(ToAnsi(mixed)), mixed);
}

TEST(Ansi, UnmappableCharactersBecomeOneQuestionMarkEach) {
    EXPECT_EQ(ToAnsi(QStringLiteral("a😀b")), QByteArray("a?b"));  // a surrogate pair is one character
    EXPECT_EQ(ToAnsi(QStringLiteral("x\u0E01y가")), QByteArray("x?y\xB0\xA1"));  // Thai letter: not in 949
    EXPECT_EQ(ToAnsi(QString(QChar(0xD800)) + u'z'), QByteArray("?z"));          // lone surrogate
}

TEST(Ansi, BadBytesDecodeToReplacementAndDecodingGoesOn) {
    // A lone lead byte at the end, an invalid trail byte, then valid text.
    EXPECT_EQ(FromAnsi(QByteArray("A\xB0")), QStringLiteral("A\uFFFD"));
    QString s =
        FromAnsi(QByteArray("\xFF\xFF"
                            "B\xB0\xA1"));
    EXPECT_TRUE(s.endsWith(QStringLiteral("B가")));
    EXPECT_TRUE(s.startsWith(QChar(0xFFFD)));
}

TEST(Ansi, AnsiCodeIsSignedForDoubleByteCharacters) {
    EXPECT_EQ(AnsiCode(u'A'), 65);
    EXPECT_EQ(AnsiCode(QChar(0xAC00)), -20319);  // 가 = B0 A1
    EXPECT_EQ(AnsiChar(-20319), QStringLiteral("가"));
    EXPECT_EQ(AnsiChar(0xB0A1), QStringLiteral("가"));
    EXPECT_EQ(AnsiChar(65), QStringLiteral("A"));
    EXPECT_EQ(AnsiChar(0xB0), QString(QChar(0xFFFD)));  // a lead byte alone names nothing
}

TEST(Ansi, LocalTextReadsUtf8WithOrWithoutBomAndCodePage949) {
    const QString korean = QStringLiteral("원격지원 받은 이력");
    EXPECT_EQ(DecodeLocalText(korean.toUtf8()), korean);
    EXPECT_EQ(DecodeLocalText("\xEF\xBB\xBF" + korean.toUtf8()), korean);
    EXPECT_EQ(DecodeLocalText(ToAnsi(korean)), korean);
    EXPECT_TRUE(IsValidUtf8(QByteArray("plain")));
    EXPECT_FALSE(IsValidUtf8(QByteArray("\xC0\x80")));      // overlong
    EXPECT_FALSE(IsValidUtf8(QByteArray("\xED\xA0\x80")));  // surrogate
    EXPECT_FALSE(IsValidUtf8(QByteArray("\xE0\xA0")));      // cut short
}
