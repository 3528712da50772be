#include <gtest/gtest.h>

#include "platform/portio/sim/board_operator.h"

namespace {

TEST(ParseRegisterSelection, ReadsTheSwitchesOfEveryPrompt) {
    const struct {
        const char* text;
        std::uint8_t a;
    } prompts[] = {
        {"Please select VPORT register A[3:0]=1000", 0x8},
        {"Please VPORT register A[3:0]=1000", 0x8},
        {"Please select FCTL register A[3:0]=0001", 0x1},
        {"Please select EXCTL register A[3:0]=0010", 0x2},
        {"Please select GCTL register A[3:0]=0011", 0x3},
        {"Please select FRCTL register A[3:0]=0100", 0x4},
        {"Please select MCTL register A[3:0]=0101", 0x5},
        {"Please select HWCTL register A[3:0]=0110", 0x6},
        {"Please select VWCTL register A[3:0]=0111", 0x7},
        {"A[3:0]=1111 at the start", 0xF},
    };
    for (const auto& prompt : prompts) {
        std::uint8_t a = 0xAA;
        EXPECT_TRUE(sim::ParseRegisterSelection(prompt.text, &a)) << prompt.text;
        EXPECT_EQ(a, prompt.a) << prompt.text;
    }
}

TEST(ParseRegisterSelection, RejectsTextsThatNameNoSetting) {
    for (const char* text :
         {"", "Couldn't find the .BMP file.", "A[3:0]=", "A[3:0]=101", "A[3:0]=1021",
          "A[3:0]=10101", "A[3:0]=x000", "a[3:0]=1000", "A[3:0] =1000"}) {
        std::uint8_t a = 0xAA;
        EXPECT_FALSE(sim::ParseRegisterSelection(text, &a)) << text;
        EXPECT_EQ(a, 0xAA) << text;
    }
    EXPECT_FALSE(sim::ParseRegisterSelection("A[3:0]=1000", nullptr));
}

TEST(ParseRegisterSelection, AcceptsTrailingNonDigits) {
    std::uint8_t a = 0;
    EXPECT_TRUE(sim::ParseRegisterSelection("A[3:0]=0110.", &a));
    EXPECT_EQ(a, 0x6);
}

}  // namespace
