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

}  // namespace
