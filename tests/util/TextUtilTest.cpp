#include "util/core/Colors.h"
#include "util/core/TextUtil.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace pelio::util;

TEST(UrlDecode, DecodesDoubleByteCharactersThroughTheCodePage) {
    EXPECT_EQ(UrlDecode(QStringLiteral("%B0%A1%41")), QStringLiteral("가A"));
    EXPECT_EQ(UrlDecode(QStringLiteral("%c7%d1%B0%a1")), QStringLiteral("한가"));
    // Extended syllables: lead bytes 0x81..0xA0, trail byte encoded or left as a plain letter.
    EXPECT_EQ(UrlDecode(QStringLiteral("%8C%63")), QStringLiteral("똠"));
    EXPECT_EQ(UrlDecode(QStringLiteral("%8Cc%94%EE")), QStringLiteral("똠뷁"));
    EXPECT_EQ(UrlDecode(QStringLiteral("x%20y+z")), QStringLiteral("x y+z"));
}

TEST(UrlDecode, ShortControlCodesAndMalformedInput) {
    EXPECT_EQ(UrlDecode(QStringLiteral("a%9%9b")), QStringLiteral("a\tb"));
    EXPECT_EQ(UrlDecode(QStringLiteral("a%a%Ab%d%dc%0%0d")), QStringLiteral("a\nb\rcd"));
    // A "%" that starts no byte stays as it is; nothing is read past the end.
    EXPECT_EQ(UrlDecode(QStringLiteral("100%")), QStringLiteral("100%"));
    EXPECT_EQ(UrlDecode(QStringLiteral("%4")), QStringLiteral("%4"));
    EXPECT_EQ(UrlDecode(QStringLiteral("%ZZ%41")), QStringLiteral("%ZZA"));
    // A lead byte without its trail byte becomes one replacement character.
    EXPECT_EQ(UrlDecode(QStringLiteral("%B0 x")), QString(QChar(0xFFFD)) + QStringLiteral(" x"));
}

TEST(DecodeReplyText, DecodesOnlyEncodedSingleByteText) {
    EXPECT_EQ(DecodeReplyText(QStringLiteral("A+B%2BC")), QStringLiteral("A B C"));
    EXPECT_EQ(DecodeReplyText(QStringLiteral("A%2BB")), QStringLiteral("A B"));
    EXPECT_EQ(DecodeReplyText(QStringLiteral("A%20B")), QStringLiteral("A B"));
    EXPECT_EQ(DecodeReplyText(QStringLiteral("%C7%D1+%B0%A1")), QStringLiteral("한 가"));
    EXPECT_EQ(DecodeReplyText(QStringLiteral("한%20A+B")), QStringLiteral("한%20A+B"));
    EXPECT_EQ(DecodeReplyText(QStringLiteral("A+B")), QStringLiteral("A+B"));
    EXPECT_EQ(DecodeReplyText(QString()), QString());
}

TEST(IsSingleByteText, CountsCodePageBytes) {
    EXPECT_TRUE(IsSingleByteText(QStringLiteral("ABC-123 %")));
    EXPECT_TRUE(IsSingleByteText(QString()));
    EXPECT_FALSE(IsSingleByteText(QStringLiteral("A가")));
    EXPECT_FALSE(IsSingleByteText(QStringLiteral("똠")));
}

TEST(CleanWhitespace, BreaksTabsApostrophesAndBlanks) {
    EXPECT_EQ(CleanWhitespace(QStringLiteral("  a\r\nb\rc\nd\te'f  ")), QStringLiteral("a b c d ef"));
    // Two rounds of "two blanks to one": eight blanks end as two.
    EXPECT_EQ(CleanWhitespace(QStringLiteral("a        b")), QStringLiteral("a  b"));
}

TEST(DigitsOnly, KeepsDigitsDotsAndAnAllowedSign) {
    EXPECT_EQ(DigitsOnly(QStringLiteral(" 010-1234 5678 "), false), QStringLiteral("01012345678"));
    EXPECT_EQ(DigitsOnly(QStringLiteral("-12.5원"), true), QStringLiteral("-12.5"));
    EXPECT_EQ(DigitsOnly(QStringLiteral("-12.5"), false), QStringLiteral("12.5"));
    EXPECT_EQ(DigitsOnly(QStringLiteral("1-2"), true), QStringLiteral("12"));
    EXPECT_EQ(DigitsOnly(QString(), true), QString());
}

TEST(FormatPhoneNumber, HyphenatesByLength) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"1234567", "123-4567"},
        {"15881234", "1588-1234"},
        {"021234567", "02-123-4567"},
        {"0111234567", "011-123-4567"},
        {"0212345678", "02-1234-5678"},
        {"0311234567", "031-123-4567"},
        {"01012345678", "010-1234-5678"},
        {"12345", "12345"},
        {"010.1234", "010.1234"},
        {"010123456789", "010123456789"},
        {" 0212345678\r\n", "02-1234-5678"},
        {"02-123-4567", "02-123-4567"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatPhoneNumber(QString::fromUtf8(c.in)), QString::fromUtf8(c.out)) << c.in;
}

TEST(CountOccurrences, CaseInsensitiveAndNonOverlapping) {
    EXPECT_EQ(CountOccurrences(QStringLiteral("192.168.0.1"), QStringLiteral(".")), 3);
    EXPECT_EQ(CountOccurrences(QStringLiteral("aaaa"), QStringLiteral("aa")), 2);
    EXPECT_EQ(CountOccurrences(QStringLiteral("AbcABCabc"), QStringLiteral("abc")), 3);
    EXPECT_EQ(CountOccurrences(QStringLiteral("abc"), QStringLiteral("x")), 0);
    EXPECT_EQ(CountOccurrences(QStringLiteral("abc"), QString()), 0);
}

TEST(Colors, ChannelsAndHtml) {
    const OleColor color = 0x336699;  // red 0x99, green 0x66, blue 0x33
    const ColorParts p = ColorChannels(color);
    EXPECT_EQ(p.red, 0x99);
    EXPECT_EQ(p.green, 0x66);
    EXPECT_EQ(p.blue, 0x33);
    EXPECT_EQ(ColorToHtml(color), QStringLiteral("#996633"));
    EXPECT_EQ(ColorToHtml(0x0000000A), QStringLiteral("#0A0000"));
    EXPECT_EQ(ColorToHtml(kSystemWindow), QStringLiteral("white"));
    EXPECT_EQ(ColorToHtml(kSystemWindowText), QStringLiteral("black"));
    EXPECT_EQ(ColorToHtml(kSystemButtonText), QStringLiteral("black"));
    EXPECT_EQ(ColorToHtml(kSystemButtonFace), QStringLiteral("silver"));
    EXPECT_EQ(ColorToHtml(kSystemScrollBar), QStringLiteral("silver"));
}

TEST(Colors, BlendRoundsHalvesToEven) {
    // Pure red half-way to white: 255 and 0 average to 127.5, which goes to 128.
    EXPECT_EQ(BlendColors(0x0000FF, kWhite, 0), ColorFromChannels(255, 128, 128));
    // 2.5 goes down to 2, 3.5 up to 4.
    EXPECT_EQ(BlendColors(ColorFromChannels(2, 3, 0), ColorFromChannels(3, 4, 1), 0),
              ColorFromChannels(2, 4, 0));
    EXPECT_EQ(BlendColors(0x123456, 0x123456, 0.9), 0x123456u);
    // Lightening: 0.5 of the way from 0 to 255 is 127.5, rounded to 128.
    EXPECT_EQ(BlendColors(0, 1, 0.5), ColorFromChannels(128, 128, 128));
    // Factors that leave the range are clamped; one that is no number is ignored.
    EXPECT_EQ(BlendColors(0, 0x020202, 5.0), kWhite);
    EXPECT_EQ(BlendColors(0, 0x020202, -5.0), 0u);
    EXPECT_EQ(BlendColors(0, 0x020202, std::nan("")), 0x010101u);
}
