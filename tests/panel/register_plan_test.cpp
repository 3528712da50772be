// Typed settings and the register plan: the range checks and their messages, which registers a
// plan writes with which values, and the executor's exact port sequence.
#include "panel/register_plan.h"

#include <gmock/gmock.h>

#include "tests/panel/support.h"

namespace panel_test {
namespace {

using testing::ElementsAre;

const char kBox[] = "box SX540 Control Panel: ";
std::string Prompt(const char* reg, const char* a) {
    return std::string(kBox) + "Please select " + reg + " register A[3:0]=" + a;
}
const std::string kVport = std::string(kBox) + "Please VPORT register A[3:0]=1000";

TEST(ChipSettings, ValuesOutsideTheRangeAreRefusedWithOneMessage) {
    panel::ChipSettings s;
    EXPECT_TRUE(s.empty());
    EXPECT_EQ(s.Set(chip::kExposure, 128).message(), "exposure = 128 is outside 0..127");
    EXPECT_EQ(s.Set(chip::kGain, -1).message(), "gain = -1 is outside 0..7");
    EXPECT_EQ(s.Set(chip::kDivider, 0).message(), "divider = 0 is outside 1..128");
    EXPECT_EQ(s.Set(chip::kHEnd, 16).message(), "h_end = 16 is outside 0..15");
    EXPECT_EQ(s.Set(chip::kGamma, 2).message(), "gamma = 2 is outside 0..1");
    EXPECT_TRUE(s.empty());  // a refused value leaves the control as it was
    EXPECT_TRUE(s.Set(chip::kDivider, 1));
    EXPECT_TRUE(s.Set(chip::kDivider, 128));
    EXPECT_EQ(s.Get(chip::kDivider), 128);
    EXPECT_EQ(panel::RangeFault(chip::kControls[chip::kHStart], "h-start", 16),
              "h-start = 16 is outside 0..15");
}

TEST(ChipSettings, RegisterValuesFollowTheConversions) {
    panel::ChipSettings s;
    ASSERT_TRUE(s.Set(chip::kDivider, 50));
    ASSERT_TRUE(s.Set(chip::kHStart, 2));
    ASSERT_TRUE(s.Set(chip::kVEnd, 9));
    ASSERT_TRUE(s.Set(chip::kMirror, 0));
    ASSERT_TRUE(s.Set(chip::kMode, 1));
    EXPECT_EQ(s.RegisterValue(chip::Register::kFrctl), 49);    // the divider minus one
    EXPECT_EQ(s.RegisterValue(chip::Register::kHwctl), 0x20);  // h_end not given: block 0
    EXPECT_EQ(s.RegisterValue(chip::Register::kVwctl), 0x09);
    EXPECT_EQ(s.RegisterValue(chip::Register::kMctl), 0x40);  // only mirror's bit
    EXPECT_FALSE(s.Touches(chip::Register::kExctl));
    EXPECT_TRUE(s.Touches(chip::Register::kMctl));
}

class RegisterPlanTest : public PanelRig {
protected:
    void Run(const panel::RegisterPlan& plan) {
        panel::CameraLink link(pinbus1_, pinbus2_, ui_);
        ok_ = panel::RunRegisterPlan(plan, link, ui_, &record_, [this] { log_.push_back("done"); });
    }
    panel::RegisterRecord record_;
    bool ok_ = false;
};

TEST_P(RegisterPlanTest, EmptyPlanRunsOnlyTheClosingSteps) {
    Run(panel::PlanFor(panel::ChipSettings()));
    EXPECT_TRUE(ok_);
    EXPECT_THAT(log_, ElementsAre("control 08", "control 08", "control 08", "control 08",
                                  "control 08", "control 28", kVport, "done", "control 22"));
}

TEST_P(RegisterPlanTest, EveryRegisterInTheChipsOrderWithFrctlOpeningAtNone) {
    panel::ChipSettings s;
    for (const auto& [control, value] : {std::pair{chip::kExposure, 127},
                                         {chip::kGain, 3},
                                         {chip::kDivider, 2},
                                         {chip::kHStart, 1},
                                         {chip::kHEnd, 10},
                                         {chip::kVStart, 2},
                                         {chip::kVEnd, 4},
                                         {chip::kGamma, 0},
                                         {chip::kMirror, 0},
                                         {chip::kMode, 0},
                                         {chip::kBacklight, 0}}) {
        ASSERT_TRUE(s.Set(control, value));
    }
    Run(panel::PlanFor(s));
    EXPECT_TRUE(ok_);
    EXPECT_THAT(log_, ElementsAre("control 08", Prompt("EXCTL", "0010"), "data fe", "control 09",
                                  "control 08", "control 08", Prompt("GCTL", "0011"), "data c0",
                                  "control 09", "control 08", "control 00", Prompt("FRCTL", "0100"),
                                  "data 80", "control 09", "control 08", "control 08",
                                  Prompt("HWCTL", "0110"), "data 58", "control 09", "control 08",
                                  "control 08", Prompt("VWCTL", "0111"), "data 24", "control 09",
                                  "control 08", Prompt("MCTL", "0101"), "data 0f", "control 09",
                                  "control 08", "control 28", kVport, "done", "control 22"));
    EXPECT_EQ(record_.Text(chip::Register::kHwctl), "26");  // 0x1A, before the reversal
    EXPECT_EQ(record_.Text(chip::Register::kMctl), "240");
    EXPECT_EQ(record_.Text(chip::Register::kFctl), "unknown");
}

TEST_P(RegisterPlanTest, AValueThatCannotBeFormedStopsAfterItsPrompt) {
    panel::RegisterPlan plan;
    plan.Add(chip::Register::kExctl, 0x40);
    plan.Add(chip::Register::kGctl, [] { return base::Result<LONG>(base::Fail("no gain")); });
    plan.Add(chip::Register::kMctl, 0x80);
    Run(plan);
    EXPECT_FALSE(ok_);
    EXPECT_THAT(log_, ElementsAre("control 08", Prompt("EXCTL", "0010"), "data 02", "control 09",
                                  "control 08", "control 08", Prompt("GCTL", "0011"),
                                  std::string(kBox) + "no gain"));
    EXPECT_EQ(record_.Text(chip::Register::kExctl), "64");
    EXPECT_EQ(record_.Text(chip::Register::kGctl), "unknown");
}

INSTANTIATE_TEST_SUITE_P(Objects, RegisterPlanTest,
                         testing::Values(Objects::kFake, Objects::kPinbus), ObjectsName);

}  // namespace
}  // namespace panel_test
