#include "platform/ui/twips.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

TEST(Twips, ConvertsTheLayoutToPixels) {
    EXPECT_EQ(ui::TwipsToPixels(5910), 394);
    EXPECT_EQ(ui::TwipsToPixels(5520), 368);
    EXPECT_EQ(ui::TwipsToPixels(6144), 410);  // 409.6
    EXPECT_EQ(ui::TwipsToPixels(4608), 307);  // 307.2
    EXPECT_EQ(ui::TwipsToPixels(0), 0);
    EXPECT_EQ(ui::TwipsToPixels(7), 0);
    EXPECT_EQ(ui::TwipsToPixels(8), 1);
    EXPECT_EQ(ui::TwipsToPixels(-8), -1);
    EXPECT_EQ(ui::PixelsToTwips(394), 5910);
}

TEST(Twips, ExtremesDoNotOverflow) {
    EXPECT_EQ(ui::TwipsToPixels(INT_MAX), 143165576);   // 143165576.47
    EXPECT_EQ(ui::TwipsToPixels(INT_MIN), -143165577);  // -143165576.53
    EXPECT_EQ(ui::PixelsToTwips(INT_MAX), INT_MAX);
    EXPECT_EQ(ui::PixelsToTwips(INT_MIN), INT_MIN);
}

}  // namespace
