// The shared trimming and hex helpers that the registry file, the settings files, the number
// parser, GUIDs and ocxhost all read and write through.
#include "platform/base/text.h"

#include <gtest/gtest.h>

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

}  // namespace
