#include "platform/chip/sx540.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

using chip::Register;

TEST(ChipDescription, RegistersHaveTheirAddressesResetValuesAndPrompts) {
    struct Expected {
        Register reg;
        const char* name;
        std::uint8_t address;
        std::uint8_t reset;
        const char* prompt;
    };
    const Expected expected[] = {
        {Register::kFctl, "FCTL", 0x1, 0x00, "Please select FCTL register A[3:0]=0001"},
        {Register::kExctl, "EXCTL", 0x2, 0x40, "Please select EXCTL register A[3:0]=0010"},
        {Register::kGctl, "GCTL", 0x3, 0x00, "Please select GCTL register A[3:0]=0011"},
        {Register::kFrctl, "FRCTL", 0x4, 0x00, "Please select FRCTL register A[3:0]=0100"},
        {Register::kMctl, "MCTL", 0x5, 0x00, "Please select MCTL register A[3:0]=0101"},
        {Register::kHwctl, "HWCTL", 0x6, 0x00, "Please select HWCTL register A[3:0]=0110"},
        {Register::kVwctl, "VWCTL", 0x7, 0x00, "Please select VWCTL register A[3:0]=0111"},
    };
    ASSERT_EQ(chip::kRegisterCount, 7);
    for (const Expected& e : expected) {
        const chip::RegisterInfo& r = chip::Info(e.reg);
        EXPECT_STREQ(r.name, e.name);
        EXPECT_EQ(r.address, e.address) << e.name;
        EXPECT_EQ(r.reset, e.reset) << e.name;
        EXPECT_EQ(chip::SelectPrompt(e.reg), e.prompt);
        EXPECT_EQ(chip::RegisterAt(e.address), &r);
    }
    // VPORT is selected, never written; 0 and 9..15 select nothing.
    EXPECT_EQ(chip::RegisterAt(chip::kVideoPortAddress), nullptr);
    EXPECT_EQ(chip::RegisterAt(0), nullptr);
    EXPECT_EQ(chip::RegisterAt(15), nullptr);
    EXPECT_EQ(chip::SelectPrompt(chip::kVideoPortName, chip::kVideoPortAddress),
              "Please select VPORT register A[3:0]=1000");
    EXPECT_EQ(chip::ReturnPrompt(), "Please VPORT register A[3:0]=1000");
}

TEST(ChipDescription, SetRegisterOrderOpensFrctlWithNoneAndLeavesVwctlOpen) {
    const Register order[] = {Register::kExctl, Register::kGctl,  Register::kFrctl,
                              Register::kHwctl, Register::kVwctl, Register::kMctl};
    ASSERT_EQ(std::size(chip::kWriteOrder), std::size(order));
    for (std::size_t i = 0; i < std::size(order); ++i) {
        const chip::WriteStep& step = chip::kWriteOrder[i];
        EXPECT_EQ(step.reg, order[i]) << i;
        EXPECT_EQ(step.opening, step.reg == Register::kFrctl ? 0x00 : 0x08) << i;
        EXPECT_EQ(step.closing, step.reg != Register::kVwctl) << i;
    }
}

TEST(ChipDescription, ControlLineValuesAreTheHandshakesBytes) {
    EXPECT_EQ(chip::kControlNone, 0x00);
    EXPECT_EQ(chip::kControlWrite, 0x08);
    EXPECT_EQ(chip::kControlStrobe, 0x09);
    EXPECT_EQ(chip::kControlInput, 0x20);
    EXPECT_EQ(chip::kControlVideoPort, 0x22);
    EXPECT_EQ(chip::kControlIdle, 0x27);
    EXPECT_EQ(chip::kControlLeaveWrite, 0x28);
    EXPECT_EQ(chip::kControlPixelPulse, 0x2A);
    EXPECT_EQ(chip::kControlPixelHold, 0x2B);
    EXPECT_EQ(chip::kControlFrameSetup, 0x2F);
    EXPECT_EQ(chip::kEcrByteMode, 0x20);
    // The data lines are driven only while a register byte is written.
    for (const std::uint8_t v : {chip::kControlNone, chip::kControlWrite, chip::kControlStrobe})
        EXPECT_EQ(v & chip::kDataInputBit, 0) << int(v);
    EXPECT_EQ(chip::kResetPulseFirst, 0x80);
    EXPECT_EQ(chip::kResetPulseSecond, 0x00);
}

TEST(ChipDescription, ReverseBitsMirrorsEachBit) {
    EXPECT_EQ(chip::ReverseBits(0x01), 0x80);
    EXPECT_EQ(chip::ReverseBits(0x02), 0x40);
    EXPECT_EQ(chip::ReverseBits(0x04), 0x20);
    EXPECT_EQ(chip::ReverseBits(0x08), 0x10);
    EXPECT_EQ(chip::ReverseBits(0x2C), 0x34);
    for (int v = 0; v < 256; ++v) {
        const auto b = static_cast<std::uint8_t>(v);
        for (int bit = 0; bit < 8; ++bit)
            ASSERT_EQ((chip::ReverseBits(b) >> bit) & 1, (b >> (7 - bit)) & 1) << v;
    }
}

TEST(ChipDescription, ControlsRangesDefaultsAndRegisterParts) {
    struct Expected {
        int index;
        const char* name;
        Register reg;
        int min, max, def;
        const char* unit;
    };
    const Expected numbers[] = {
        {chip::kExposure, "exposure", Register::kExctl, 0, 127, 64, ""},
        {chip::kGain, "gain", Register::kGctl, 0, 7, 0, ""},
        {chip::kDivider, "divider", Register::kFrctl, 1, 128, 1, ""},
        {chip::kHStart, "h_start", Register::kHwctl, 0, 15, 0, "blocks"},
        {chip::kHEnd, "h_end", Register::kHwctl, 0, 15, 0, "blocks"},
        {chip::kVStart, "v_start", Register::kVwctl, 0, 15, 0, "blocks"},
        {chip::kVEnd, "v_end", Register::kVwctl, 0, 15, 0, "blocks"},
    };
    for (const Expected& e : numbers) {
        const chip::Control& c = chip::kControls[e.index];
        EXPECT_STREQ(c.name, e.name);
        EXPECT_EQ(c.kind, chip::ControlKind::kNumber) << e.name;
        EXPECT_EQ(c.reg, e.reg) << e.name;
        EXPECT_EQ(c.min, e.min) << e.name;
        EXPECT_EQ(c.max, e.max) << e.name;
        EXPECT_EQ(c.step, 1) << e.name;
        EXPECT_EQ(chip::DefaultOf(c), e.def) << e.name;
        EXPECT_STREQ(c.unit, e.unit) << e.name;
        // Every value of the range has its own register bits, and reads back from them.
        std::set<int> parts;
        for (int v = c.min; v <= c.max; ++v) {
            parts.insert(chip::PartOf(c, v));
            EXPECT_EQ(chip::ValueIn(c, chip::PartOf(c, v)), v) << e.name;
        }
        EXPECT_EQ(parts.size(), static_cast<std::size_t>(c.max - c.min + 1)) << e.name;
    }
    // The register values of the conversions: divider 2 is FRCTL 1, 128 is 127; a window's
    // start block lands in the high nibble, its end block in the low one.
    EXPECT_EQ(chip::PartOf(chip::kControls[chip::kDivider], 2), 1);
    EXPECT_EQ(chip::PartOf(chip::kControls[chip::kDivider], 128), 127);
    EXPECT_EQ(chip::PartOf(chip::kControls[chip::kHStart], 2) |
                  chip::PartOf(chip::kControls[chip::kHEnd], 4),
              0x24);

    struct Option {
        int index;
        const char* name;
        std::uint8_t bit;
        const char* set;
        const char* clear;
    };
    const Option options[] = {
        {chip::kGamma, "gamma", 0x80, "0.45", "1.0"},
        {chip::kMirror, "mirror", 0x40, "on", "off"},
        {chip::kMode, "mode", 0x20, "indoor", "outdoor"},
        {chip::kBacklight, "backlight", 0x10, "on", "off"},
    };
    for (const Option& o : options) {
        const chip::Control& c = chip::kControls[o.index];
        EXPECT_STREQ(c.name, o.name);
        EXPECT_EQ(c.reg, Register::kMctl);
        EXPECT_EQ(chip::PartOf(c, 0), o.bit) << o.name;
        EXPECT_EQ(chip::PartOf(c, 1), 0) << o.name;
        EXPECT_STREQ(c.words[0], o.set);
        EXPECT_STREQ(c.words[1], o.clear);
        EXPECT_EQ(chip::DefaultOf(c), 1) << o.name;  // MCTL 0: every option's bit clear
    }
    EXPECT_EQ(chip::kControls[chip::kReset].reg, Register::kFctl);
    EXPECT_EQ(chip::kControlCount, chip::kReset + 1);
}

}  // namespace
