// The shared trimming and hex helpers that the registry file, the settings files, the number
// parser, GUIDs and ocxhost all read and write through.
#include "platform/base/text.h"

#include <gtest/gtest.h>

#include "platform/base/shown.h"

namespace {

TEST(BaseText, TrimTakesOnlyTheBlanksItIsGiven) {
    EXPECT_EQ(base::Trim(" \t key = v \t"), "key = v");
    EXPECT_EQ(base::Trim(" \t "), "");
    EXPECT_EQ(base::Trim(""), "");
    EXPECT_EQ(base::Trim("x\r"), "x\r");  // a CR is no blank unless the caller says so
    EXPECT_EQ(base::Trim(" x\r\n", " \t\r\n"), "x");
}

TEST(BaseText, HexDigitsAtTheEdgesOfTheirRanges) {
    EXPECT_EQ(base::HexDigitValue('0'), 0);
    EXPECT_EQ(base::HexDigitValue('9'), 9);
    EXPECT_EQ(base::HexDigitValue('a'), 10);
    EXPECT_EQ(base::HexDigitValue('F'), 15);
    for (char c : {'/', ':', '@', 'G', '`', 'g', ' ', '\0'}) EXPECT_EQ(base::HexDigitValue(c), -1);
    std::string out = "hex:";
    base::AppendHexBytes(&out, std::string("\x00\x7f\x80\xff", 4), ",");
    EXPECT_EQ(out, "hex:00,7f,80,ff");
    out.clear();
    base::AppendHexBytes(&out, "");
    EXPECT_EQ(out, "");
}

// The name a mistyped word meant: one swap, a letter too many or too few, a unique beginning;
// nothing for a word too far from every name (a short word needs to be near to count).
TEST(BaseText, NearestNameForgivesSmallSlipsOnly) {
    const std::vector<std::string_view> names = {"set", "reset", "capture", "status",
                                                 "power-cycle"};
    EXPECT_EQ(base::NearestName("captrue", names), "capture");  // two letters swapped
    EXPECT_EQ(base::NearestName("captur", names), "capture");
    EXPECT_EQ(base::NearestName("statuss", names), "status");
    EXPECT_EQ(base::NearestName("power", names), "power-cycle");  // the one name it begins
    EXPECT_EQ(base::NearestName("rest", names), "reset");
    EXPECT_EQ(base::NearestName("sta", names), "status");
    EXPECT_EQ(base::NearestName("st", names), "status");  // begins it (though one edit from set)
    EXPECT_EQ(base::NearestName("xyz", names), "");
    EXPECT_EQ(base::NearestName("", names), "");
    EXPECT_EQ(base::NearestName(std::string(100, 's'), names), "");
    EXPECT_EQ(base::EditDistance("ab", "ba"), 1u);
    EXPECT_EQ(base::EditDistance("", "abc"), 3u);
}

// A name from another program or user reaches a terminal escaped: C0 controls, DEL, the C1
// controls (CSI is 0xC2 0x9B in UTF-8) and every byte that is not part of well-formed UTF-8
// (a stray continuation byte, a cut sequence, overlong forms, surrogates, past U+10FFFF);
// well-formed characters of any length stay as they are.
TEST(EscapeText, ControlsAndBytesThatAreNotUtf8AreEscaped) {
    EXPECT_EQ(base::EscapeText("a\\b\tc\n\r\x1b[2J\x7f"), "a\\\\b\\tc\\n\\r\\x1b[2J\\x7f");
    EXPECT_EQ(base::EscapeText("evil\xc2\x9b"
                               "2J\xc2\x80"),
              "evil\\xc2\\x9b2J\\xc2\\x80");
    EXPECT_EQ(base::EscapeText("caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80 \xc2\xa0"),
              "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80 \xc2\xa0");
    EXPECT_EQ(base::EscapeText("\xff\x80x"), "\\xff\\x80x");  // never UTF-8
    EXPECT_EQ(base::EscapeText("\xe2\x82"), "\\xe2\\x82");    // cut at the end
    EXPECT_EQ(base::EscapeText("\xe2\x82x"), "\\xe2\\x82x");  // cut by another
    EXPECT_EQ(base::EscapeText("\xc0\x80\xe0\x80\x80"), "\\xc0\\x80\\xe0\\x80\\x80");  // overlong
    EXPECT_EQ(base::EscapeText("\xed\xa0\x80"), "\\xed\\xa0\\x80");           // a surrogate
    EXPECT_EQ(base::EscapeText("\xf4\x90\x80\x80"), "\\xf4\\x90\\x80\\x80");  // past U+10FFFF
    EXPECT_EQ(base::Shown("x\xc2\x9b"), "\"x\\xc2\\x9b\"");
}

}  // namespace
