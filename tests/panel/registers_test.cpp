// Set Register and Default Setting: port sequences, prompts, values and the form state.
#include <gmock/gmock.h>

#include "panel/panel.h"
#include "tests/panel/support.h"

namespace panel_test {
namespace {

using testing::ElementsAre;
using testing::ElementsAreArray;

const char kBox[] = "box SX540 Control Panel: ";
std::string Prompt(const char* reg, const char* a) {
    return std::string(kBox) + "Please select " + reg + " register A[3:0]=" + a;
}
const std::string kVport = std::string(kBox) + "Please VPORT register A[3:0]=1000";

class SetRegisterTest : public PanelWindowRig {
protected:
    void Enter(int n, const std::string& text) {
        panel_->TextClick(n);
        panel_->SetText(n, text);
    }
    // The data byte written by a Set Register run that writes exactly one register.
    std::string DataWritten() {
        std::string data;
        for (const auto& w : Writes())
            if (w.rfind("data ", 0) == 0) data += (data.empty() ? "" : ",") + w.substr(5);
        return data;
    }
};

TEST_P(SetRegisterTest, NothingMarkedOnlyRunsTheClosingSteps) {
    panel_->Command1Click();
    EXPECT_THAT(log_, ElementsAre("control 08", "control 08", "control 08", "control 08",
                                  "control 08", "control 28", kVport, "control 22"));
}

TEST_P(SetRegisterTest, ExposureBlockSequence) {
    Enter(1, "100");
    panel_->Command1Click();
    EXPECT_THAT(log_, ElementsAre("control 08", Prompt("EXCTL", "0010"), "data 26", "control 09",
                                  "control 08", "control 08", "control 08", "control 08",
                                  "control 08", "control 28", kVport, "control 22"));
    for (int n = 1; n <= 7; ++n) EXPECT_FALSE(panel_->State().changed[n]);
}

TEST_P(SetRegisterTest, RegisterValuesAndBytesOnTheWire) {
    struct Case {
        int field;
        const char* text;
        const char* byte;
    } cases[] = {
        {1, "127", "fe"}, {1, "0", "00"},   {1, "300", "34"}, {1, "-1", "ff"},
        {1, "2.5", "40"}, {1, "3.5", "20"},  // integers round halves to even
        {2, "7", "e0"},   {2, "3", "c0"},   {3, "2", "80"},   {3, "128", "fe"},
        {3, "50", "8c"},  {3, "3.5", "40"}, {3, "0", "ff"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("Text") + std::to_string(c.field) + " = " + c.text);
        ClearLog();
        Enter(c.field, c.text);
        panel_->Command1Click();
        EXPECT_EQ(DataWritten(), c.byte);
    }
}

TEST_P(SetRegisterTest, WindowRegistersOrStartTimesSixteenWithEnd) {
    panel_->TextClick(4);
    panel_->SetText(4, "1");
    Enter(5, "10");  // 0x10 | 0x0A = 0x1A
    panel_->Command1Click();
    EXPECT_EQ(DataWritten(), "58");
    ClearLog();
    panel_->TextClick(6);
    panel_->SetText(6, "2");
    Enter(7, "20");  // 0x20 | 0x14 = 0x34
    panel_->Command1Click();
    EXPECT_EQ(DataWritten(), "2c");
    EXPECT_THAT(Events(), ElementsAre(Prompt("VWCTL", "0111"), kVport));
}

TEST_P(SetRegisterTest, OnlyTheEndFieldClickedWritesItsWindowRegister) {
    panel_->SetText(4, "2");  // typed, not clicked
    Enter(5, "5");
    panel_->Command1Click();
    EXPECT_THAT(Events(), ElementsAre(Prompt("HWCTL", "0110"), kVport));
    EXPECT_EQ(DataWritten(), "a4");  // 0x25 reversed
}

TEST_P(SetRegisterTest, MctlCarriesTheFourOptionBits) {
    for (int g = 1; g <= 4; ++g) panel_->OptionClick(g, 0);
    panel_->Command1Click();
    EXPECT_EQ(DataWritten(), "0f");  // 0xF0 reversed
    EXPECT_EQ(panel_->State().mctl_act, 0);
    ClearLog();
    panel::Panel fresh(pinbus1_, pinbus2_, ui_);
    fresh.OptionClick(1, 1);
    fresh.Command1Click();
    EXPECT_THAT(Events(), ElementsAre(Prompt("MCTL", "0101"), kVport));
    EXPECT_EQ(DataWritten(), "00");
}

TEST_P(SetRegisterTest, AllRegistersInTheirFixedOrder) {
    Enter(1, "1");
    Enter(2, "2");
    Enter(3, "4");
    Enter(4, "0");
    Enter(5, "1");
    Enter(6, "0");
    Enter(7, "1");
    panel_->OptionClick(2, 0);
    panel_->Command1Click();
    EXPECT_THAT(log_, ElementsAreArray(std::vector<std::string>{
                          "control 08",
                          Prompt("EXCTL", "0010"),
                          "data 80",
                          "control 09",
                          "control 08",  //
                          "control 08",
                          Prompt("GCTL", "0011"),
                          "data 40",
                          "control 09",
                          "control 08",  //
                          "control 00",
                          Prompt("FRCTL", "0100"),
                          "data c0",
                          "control 09",
                          "control 08",  //
                          "control 08",
                          Prompt("HWCTL", "0110"),
                          "data 80",
                          "control 09",
                          "control 08",  //
                          "control 08",
                          Prompt("VWCTL", "0111"),
                          "data 80",
                          "control 09",
                          // no closing write after VWCTL
                          "control 08",
                          Prompt("MCTL", "0101"),
                          "data 02",
                          "control 09",
                          "control 08",
                          "control 28",
                          kVport,
                          "control 22",
                      }));
    ClearLog();
    panel_->Command1Click();  // everything was cleared
    EXPECT_THAT(Events(), ElementsAre(kVport));
}

TEST_P(SetRegisterTest, FieldsAreReadAfterTheirPrompt) {
    Enter(1, "5");
    ui_.on_box = [&](const std::string&, const std::string& text) {
        if (text.find("EXCTL") != std::string::npos) panel_->SetText(1, "1");
    };
    panel_->Command1Click();
    EXPECT_EQ(DataWritten(), "80");
}

TEST_P(SetRegisterTest, ConversionErrorStopsAfterThePromptAndKeepsEverythingPending) {
    Enter(1, "100");
    Enter(2, "abc");
    panel_->OptionClick(1, 0);
    panel_->Command1Click();
    EXPECT_THAT(log_, ElementsAre("control 08", Prompt("EXCTL", "0010"), "data 26", "control 09",
                                  "control 08", "control 08", Prompt("GCTL", "0011"),
                                  std::string(kBox) + "Gain (Text2): \"abc\" is not a number."));
    EXPECT_TRUE(panel_->State().changed[1]);
    EXPECT_TRUE(panel_->State().changed[2]);
    EXPECT_EQ(panel_->State().mctl_act, 1);

    // Corrected, the next press writes EXCTL again, then GCTL and MCTL.
    ClearLog();
    panel_->SetText(2, "3");
    panel_->Command1Click();
    EXPECT_THAT(Events(), ElementsAre(Prompt("EXCTL", "0010"), Prompt("GCTL", "0011"),
                                      Prompt("MCTL", "0101"), kVport));
    EXPECT_EQ(DataWritten(), "26,c0,01");
}

TEST_P(SetRegisterTest, ErrorMessagesNameTheFieldAndTheFault) {
    struct Case {
        int field;
        const char* text;
        const char* message;
        const char* last_write;
    } cases[] = {
        {1, "", "Exposure time (Text1) is empty: type a number.", "control 08"},
        {1, "99999999999", "Exposure time (Text1): \"99999999999\" is out of range.", "control 08"},
        {3, "x", "Frame rate divider (Text3): \"x\" is not a number.", "control 00"},
        // The result of the arithmetic overflows, not the text.
        {3, "3e9", "Frame rate divider (Text3): \"3e9\" is out of range.", "control 00"},
        {4, "2e8", "Horizontal start block (Text4): \"2e8\" is out of range.", "control 08"},
        {5, "one", "Horizontal end block (Text5): \"one\" is not a number.", "control 08"},
        {7, "?", "Vertical end block (Text7): \"?\" is not a number.", "control 08"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        panel::Panel panel(pinbus1_, pinbus2_, ui_);
        ClearLog();
        panel.TextClick(c.field);
        panel.SetText(c.field, c.text);
        panel.Command1Click();
        ASSERT_GE(log_.size(), 3u);
        EXPECT_EQ(log_.back(), std::string(kBox) + c.message);
        // The register's opening write and prompt were made, its data write was not.
        EXPECT_EQ(Writes().back(), c.last_write);
        EXPECT_EQ(log_[log_.size() - 3], c.last_write);
    }
}

TEST_P(SetRegisterTest, DefaultSettingSequenceAndState) {
    Enter(1, "55");
    panel_->SetText(8, "keep.bmp");
    panel_->OptionClick(1, 0);
    panel_->OptionClick(3, 0);
    panel_->Command1Click();
    ASSERT_EQ(panel_->State().mctl_act, 0);
    Enter(2, "6");
    ClearLog();

    panel_->Command2Click();
    EXPECT_THAT(log_, ElementsAre("control 08", "data 80", Prompt("FCTL", "0001"), "control 09",
                                  "control 00", "data 00", "control 09", "control 08", kVport,
                                  "control 22"));
    const panel::FormState& s = panel_->State();
    EXPECT_THAT(s.text, ElementsAre("", "0", "0", "1", "0", "0", "0", "0", "filename.bmp"));
    EXPECT_THAT(s.selected, ElementsAre(0, 1, 1, 1, 1));
    EXPECT_EQ(s.gama, 0);
    EXPECT_EQ(s.nsr, 0);
    EXPECT_FALSE(s.mir.has_value());  // its group was never changed
    EXPECT_EQ(s.mctl_act, 1);
    EXPECT_TRUE(s.changed[2]);  // marks are left as they are

    // The next Set Register sends the marked field's default and MCTL with all bits clear.
    ClearLog();
    panel_->Command1Click();
    EXPECT_THAT(Events(), ElementsAre(Prompt("GCTL", "0011"), Prompt("MCTL", "0101"), kVport));
    EXPECT_EQ(DataWritten(), "00,00");

    // A second Default Setting in a row: same port sequence, no selection changes.
    ClearLog();
    panel_->Command2Click();
    EXPECT_THAT(Writes(), ElementsAre("control 08", "data 80", "control 09", "control 00",
                                      "data 00", "control 09", "control 08", "control 22"));
    EXPECT_EQ(panel_->State().mctl_act, 0);
}

INSTANTIATE_TEST_SUITE_P(Objects, SetRegisterTest,
                         testing::Values(Objects::kFake, Objects::kPinbus), ObjectsName);

}  // namespace
}  // namespace panel_test
