// The camera link's port sequences, the window's load and the form-state handlers.
#include <gmock/gmock.h>

#include "panel/camera_link.h"
#include "panel/panel.h"
#include "panel/registers.h"
#include "tests/panel/support.h"

namespace panel_test {
namespace {

using panel::ReverseBits;
using testing::ElementsAre;

TEST(ReverseBitsTest, MirrorsTheBitOrder) {
    EXPECT_EQ(ReverseBits(0x01), 0x80);
    EXPECT_EQ(ReverseBits(0x02), 0x40);
    EXPECT_EQ(ReverseBits(0x04), 0x20);
    EXPECT_EQ(ReverseBits(0x08), 0x10);
    EXPECT_EQ(ReverseBits(0xFF), 0xFF);
    EXPECT_EQ(ReverseBits(0x00), 0x00);
    EXPECT_EQ(ReverseBits(0x0F), 0xF0);
    EXPECT_EQ(ReverseBits(0x2C), 0x34);
    for (int b = 0; b < 256; ++b) {
        const auto v = static_cast<std::uint8_t>(b);
        ASSERT_EQ(ReverseBits(ReverseBits(v)), v);
        for (int i = 0; i < 8; ++i) ASSERT_EQ((ReverseBits(v) >> i) & 1, (v >> (7 - i)) & 1);
    }
}

using LinkTest = PanelRig;

TEST_P(LinkTest, StartupSetsByteModeThenAsksForTheVideoPort) {
    panel::Panel panel(pinbus1_, pinbus2_, ui_);
    panel.FormLoad();
    EXPECT_THAT(log_,
                ElementsAre("ecr 20", "control 20", "control 27",
                            "box Operation Notice: Please select VPORT register A[3:0]=1000"));
}

TEST_P(LinkTest, RegisterWriteCycleReversesTheByteAndStrobes) {
    panel::CameraLink link(pinbus1_, pinbus2_, ui_);
    ASSERT_EQ(link.WriteRegister("Please select GCTL register A[3:0]=0011", 0x01), S_OK);
    EXPECT_THAT(log_,
                ElementsAre("control 08",
                            "box SX540 Control Panel: Please select GCTL register A[3:0]=0011",
                            "data 80", "control 09", "control 08"));
}

TEST_P(LinkTest, FrameReadSamplesBeforeEachPulseAndStoresReversedBytes) {
    const std::uint8_t on_lines[] = {0x80, 0xFF, 0x00, 0x0F};
    SetReadSource([&](std::uint64_t n) { return on_lines[n % 4]; });
    panel::CameraLink link(pinbus1_, pinbus2_, ui_);
    ASSERT_EQ(link.BeginFrameRead(), S_OK);
    std::uint8_t stored[4] = {};
    for (auto& b : stored) ASSERT_EQ(link.ReadPixelByte(&b), S_OK);
    ASSERT_EQ(link.EndFrameRead(), S_OK);
    EXPECT_THAT(stored, ElementsAre(0x01, 0xFF, 0x00, 0xF0));
    EXPECT_THAT(log_, ElementsAre("control 27", "control 2f", "control 2b",  //
                                  "read data", "control 2a", "control 2b",   //
                                  "read data", "control 2a", "control 2b",   //
                                  "read data", "control 2a", "control 2b",   //
                                  "read data", "control 2a", "control 2b",   //
                                  "control 27"));
}

INSTANTIATE_TEST_SUITE_P(Objects, LinkTest, testing::Values(Objects::kFake, Objects::kPinbus),
                         ObjectsName);

// What crosses to the port objects, call by call (the fake records every Invoke).
class AutomationTest : public PanelRig {};

TEST_P(AutomationTest, EveryWriteIsAddressBitsValueOnPinbus1AsNamedPropertyPuts) {
    panel::CameraLink link(pinbus1_, pinbus2_, ui_);
    ASSERT_EQ(link.WriteControl(0x08), S_OK);
    ASSERT_EQ(link.WriteData(0x26), S_OK);
    ASSERT_EQ(link.WriteEcr(0x20), S_OK);
    ASSERT_EQ(calls_.size(), 9u);
    const LONG expected[][2] = {{1, 0x37A}, {2, 8},     {3, 0x08}, {1, 0x378}, {2, 8},
                                {3, 0x26},  {1, 0x77A}, {2, 8},    {3, 0x20}};
    for (std::size_t i = 0; i < calls_.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(calls_[i].object, "Pinbus1");
        EXPECT_EQ(calls_[i].flags, DISPATCH_PROPERTYPUT);
        EXPECT_TRUE(calls_[i].named_put);
        EXPECT_EQ(calls_[i].dispid, expected[i][0]);
        EXPECT_EQ(calls_[i].value, expected[i][1]);
    }
}

TEST_P(AutomationTest, FrameLoopReadsPinbus2AndResendsOnlyValue) {
    panel::CameraLink link(pinbus1_, pinbus2_, ui_);
    ASSERT_EQ(link.BeginFrameRead(), S_OK);
    // control 27 and 2f in full, then Value 2b alone, then both objects aimed.
    ASSERT_EQ(calls_.size(), 9u);
    EXPECT_EQ(calls_[6].dispid, 3);
    EXPECT_EQ(calls_[6].value, 0x2B);
    EXPECT_EQ(calls_[7].object, "Pinbus1");
    EXPECT_EQ(calls_[7].dispid, 1);
    EXPECT_EQ(calls_[7].value, 0x37A);
    EXPECT_EQ(calls_[8].object, "Pinbus2");
    EXPECT_EQ(calls_[8].dispid, 1);
    EXPECT_EQ(calls_[8].value, 0x378);
    calls_.clear();
    std::uint8_t b;
    ASSERT_EQ(link.ReadPixelByte(&b), S_OK);
    ASSERT_EQ(calls_.size(), 3u);
    EXPECT_EQ(calls_[0].object, "Pinbus2");
    EXPECT_EQ(calls_[0].dispid, 3);
    EXPECT_EQ(calls_[0].flags, DISPATCH_PROPERTYGET);
    EXPECT_EQ(calls_[1].object, "Pinbus1");
    EXPECT_EQ(calls_[1].dispid, 3);
    EXPECT_EQ(calls_[1].value, 0x2A);
    EXPECT_EQ(calls_[2].dispid, 3);
    EXPECT_EQ(calls_[2].value, 0x2B);
}

TEST_P(AutomationTest, RefusedAccessIsReportedAndStopsTheOperation) {
    panel::Panel panel(pinbus1_, pinbus2_, ui_);
    fail_at_ = 1;  // the Bits put of the first write
    panel.Command1Click();
    EXPECT_THAT(log_, ElementsAre("box SX540 Control Panel: The port object failed: Bits = 0x8 on "
                                  "Pinbus1: 0x80020009."));
}

INSTANTIATE_TEST_SUITE_P(Objects, AutomationTest, testing::Values(Objects::kFake), ObjectsName);

TEST(FormStateTest, StartsWithTheWindowsInitialValues) {
    const panel::FormState s;
    EXPECT_THAT(s.text, ElementsAre("", "0", "0", "1", "0", "0", "0", "0", "filename.bmp"));
    for (int n = 1; n <= 7; ++n) EXPECT_FALSE(s.changed[n]);
    for (int g = 1; g <= 4; ++g) EXPECT_EQ(s.selected[g], 1);
    EXPECT_FALSE(s.gama.has_value());
    EXPECT_FALSE(s.mir.has_value());
    EXPECT_FALSE(s.nsr.has_value());
    EXPECT_EQ(s.bkl, 0);
    EXPECT_EQ(s.mctl_act, 0);
    EXPECT_EQ(panel::MctlValue(s), 0);
}

TEST(FormStateTest, ClickEmptiesAndMarksEndFieldsMarkTheirStartField) {
    panel::FormState s;
    panel::ClickField(s, 4);
    EXPECT_EQ(s.text[4], "");
    EXPECT_TRUE(s.changed[4]);
    EXPECT_FALSE(s.changed[5]);
    panel::ClickField(s, 5);
    EXPECT_TRUE(s.changed[4] && s.changed[5]);
    panel::ClickField(s, 7);
    EXPECT_TRUE(s.changed[6] && s.changed[7]);
    panel::ClickField(s, 6);
    EXPECT_EQ(s.text[6], "");
    panel::ClickField(s, 1);
    EXPECT_FALSE(s.changed[2] || s.changed[3]);
    // Text8 has no click handling; out-of-range numbers are ignored.
    panel::ClickField(s, 8);
    panel::ClickField(s, 0);
    panel::ClickField(s, 9);
    EXPECT_EQ(s.text[8], "filename.bmp");
}

TEST(FormStateTest, TypingDoesNotMark) {
    Log log;
    TestUi ui(&log);
    panel::Panel panel(nullptr, nullptr, ui);
    panel.SetText(1, "100");
    panel.SetText(8, "x.bmp");
    panel.SetText(9, "ignored");
    EXPECT_EQ(panel.State().text[1], "100");
    EXPECT_EQ(panel.State().text[8], "x.bmp");
    EXPECT_FALSE(panel.State().changed[1]);
    panel.TextClick(5);
    EXPECT_TRUE(panel.State().changed[4]);
}

TEST(FormStateTest, EverySelectionSetsTheBitAndMctlAct) {
    panel::FormState s;
    panel::SelectOption(s, 1, 0);
    EXPECT_EQ(s.gama, 0x80);
    EXPECT_EQ(s.mctl_act, 1);
    s.mctl_act = 0;
    panel::SelectOption(s, 1, 1);
    EXPECT_EQ(s.gama, 0);
    EXPECT_EQ(s.mctl_act, 1);
    s.mctl_act = 0;
    panel::SelectOption(s, 1, 1);  // unchanged bit, still a selection
    EXPECT_EQ(s.mctl_act, 1);
    panel::SelectOption(s, 2, 0);
    panel::SelectOption(s, 3, 0);
    panel::SelectOption(s, 4, 0);
    EXPECT_EQ(s.mir, 0x40);
    EXPECT_EQ(s.nsr, 0x20);
    EXPECT_EQ(s.bkl, 0x10);
    EXPECT_EQ(panel::MctlValue(s), 0x70);
    EXPECT_THAT(s.selected, ElementsAre(0, 1, 0, 0, 0));
    panel::SelectOption(s, 5, 0);
    panel::SelectOption(s, 1, 2);
    EXPECT_EQ(panel::MctlValue(s), 0x70);
}

}  // namespace
}  // namespace panel_test
