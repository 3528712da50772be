// The simulated board's window: its switches, following the prompts, and the registers as
// latched, driven through the board's ports the way the panel drives them.
#include "platform/portio/sim/board_window.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <memory>

#include "platform/portio/sim/board_operator.h"
#include "platform/ui/message_box.h"
#include "tests/platform/portio/sim/panel_sequences.h"

namespace {

class BoardWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        board_.SetSwitches(sim::VPORT);
        board_.SetFollowsPrompts(true);
        watch_ = operator_.WatchPrompts();
        window_ = std::make_unique<sim::BoardWindow>(board_);
    }
    std::uint8_t ShownSwitches() const {
        std::uint8_t a = 0;
        for (int bit = 0; bit < 4; ++bit)
            if (window_->Switch(bit)->isChecked()) a |= 1u << bit;
        return a;
    }
    sim::Board board_;
    sim::SimBoardOperator operator_{board_};
    std::unique_ptr<portio::BoardOperator::PromptWatch> watch_;
    std::unique_ptr<sim::BoardWindow> window_;
};

TEST_F(BoardWindowTest, ShowsTheBoardAndSetsItsSwitchesByHand) {
    EXPECT_EQ(window_->windowTitle(), "SX540 Evaluation Board");
    EXPECT_EQ(ShownSwitches(), sim::VPORT);
    EXPECT_TRUE(window_->Follow()->isChecked());
    EXPECT_EQ(window_->Follow()->text(), "Switches follow the prompts");
    window_->Switch(0)->click();
    EXPECT_EQ(board_.Switches(), 0x9);
    window_->Switch(3)->click();
    EXPECT_EQ(board_.Switches(), 0x1);
    // Changes made on the board show in the window.
    board_.SetSwitches(0x6);
    EXPECT_EQ(ShownSwitches(), 0x6);
}

TEST_F(BoardWindowTest, SwitchesFollowPromptsOnlyWhileFollowing) {
    ui::NotifyMessageBoxAcknowledged("SX540 Control Panel",
                                     "Please select GCTL register A[3:0]=0011");
    EXPECT_EQ(board_.Switches(), 0x3);
    EXPECT_EQ(ShownSwitches(), 0x3);
    window_->Follow()->click();
    EXPECT_FALSE(board_.FollowsPrompts());
    ui::NotifyMessageBoxAcknowledged("SX540 Control Panel", "Please VPORT register A[3:0]=1000");
    EXPECT_EQ(board_.Switches(), 0x3);
    ui::NotifyMessageBoxAcknowledged("SX540 Camera Control Panel", "Couldn't find the .BMP file.");
    EXPECT_EQ(board_.Switches(), 0x3);
}

TEST_F(BoardWindowTest, ShowsEachLatchedRegisterInHex) {
    EXPECT_EQ(window_->Register(sim::GCTL)->text().toStdString(), "\u2014");  // nothing latched
    simtest::StartUp(board_);
    simtest::SetRegister(board_, sim::GCTL, 0x07);
    simtest::SetRegister(board_, sim::HWCTL, 0x1A);
    EXPECT_EQ(window_->Register(sim::GCTL)->text(), "0x07");
    EXPECT_EQ(window_->Register(sim::HWCTL)->text(), "0x1A");
    EXPECT_EQ(ShownSwitches(), sim::VPORT);
}

}  // namespace
