#include "server/TextFraming.h"

#include <gtest/gtest.h>

#include <string>

using namespace pelio::framing;

namespace {

std::string Pattern(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = char('a' + i % 23);
    return s;
}

}  // namespace

TEST(TextFraming, TextsOfEverySizeCrossInPiecesTheLibraryAccepts) {
    for (std::size_t size : {std::size_t(0), std::size_t(1), MaxPiece - 1, MaxPiece, MaxPiece + 1,
                             std::size_t(20000), 3 * MaxPiece}) {
        const std::string text = Pattern(size);
        const auto messages = SplitText(text);
        ASSERT_FALSE(messages.empty());
        TextAssembler assembler;
        std::string out;
        for (std::size_t i = 0; i < messages.size(); ++i) {
            EXPECT_GE(messages[i].size(), 1u);
            EXPECT_LE(messages[i].size(), MaxChatMessage);
            const bool complete = assembler.Feed(messages[i], out);
            EXPECT_EQ(complete, i + 1 == messages.size()) << size;
        }
        EXPECT_EQ(out, text) << size;
    }
    EXPECT_EQ(SplitText(Pattern(MaxPiece)).size(), 1u);
    EXPECT_EQ(SplitText(Pattern(MaxPiece + 1)).size(), 2u);
}

TEST(TextFraming, DamagedOversizedOrRefusedTextsAreDroppedAndTheNextOneArrives) {
    TextAssembler assembler(10);
    std::string out;
    // An unknown header drops the pieces collected so far.
    EXPECT_FALSE(assembler.Feed("Mabc", out));
    EXPECT_FALSE(assembler.Feed("Xjunk", out));
    EXPECT_FALSE(assembler.Feed("", out));
    EXPECT_TRUE(assembler.Feed("Fdef", out));
    EXPECT_EQ(out, "def");
    // A text beyond the limit is dropped whole, up to its final piece.
    EXPECT_FALSE(assembler.Feed("M12345678", out));
    EXPECT_FALSE(assembler.Feed("M12345678", out));
    EXPECT_FALSE(assembler.Feed("Fend", out));
    EXPECT_TRUE(assembler.Feed("Fok", out));
    EXPECT_EQ(out, "ok");
    // A text of which a piece was refused is dropped whole, pieces that came before and after.
    EXPECT_FALSE(assembler.Feed("Mab", out));
    assembler.Drop("Mcd");
    EXPECT_FALSE(assembler.Feed("Mef", out));
    EXPECT_FALSE(assembler.Feed("Fgh", out));
    EXPECT_TRUE(assembler.Feed("Fij", out));
    EXPECT_EQ(out, "ij");
    // An empty text is a text.
    EXPECT_TRUE(assembler.Feed("F", out));
    EXPECT_EQ(out, "");
}
