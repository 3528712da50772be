#include "platform/portio/sim/board_window.h"

#include <QCheckBox>
#include <QLabel>

#include "tests/panel/qt/panel_fixture.h"

namespace {

using testing_support::PanelWindowTest;

class BoardWindowTest : public PanelWindowTest {
protected:
    void SetUp() override {
        PanelWindowTest::SetUp();
        boardWindow_ = std::make_unique<sim::BoardWindow>(*board_);
    }
    void TearDown() override {
        boardWindow_.reset();
        PanelWindowTest::TearDown();
    }
    std::uint8_t ShownSwitches() const {
        std::uint8_t a = 0;
        for (int bit = 0; bit < 4; ++bit)
            if (boardWindow_->Switch(bit)->isChecked()) a |= 1u << bit;
        return a;
    }
    std::unique_ptr<sim::BoardWindow> boardWindow_;
};

TEST_F(BoardWindowTest, ShowsTheBoardAndSetsItsSwitchesByHand) {
    EXPECT_EQ(boardWindow_->windowTitle(), "SX540 Evaluation Board");
    EXPECT_EQ(ShownSwitches(), sim::VPORT);
    EXPECT_TRUE(boardWindow_->Follow()->isChecked());
    EXPECT_EQ(boardWindow_->Follow()->text(), "Switches follow the prompts");
    boardWindow_->Switch(0)->click();
    EXPECT_EQ(board_->Switches(), 0x9);
    boardWindow_->Switch(3)->click();
    EXPECT_EQ(board_->Switches(), 0x1);
    // Changes made on the board show in the window.
    board_->SetSwitches(0x6);
    EXPECT_EQ(ShownSwitches(), 0x6);
}

TEST_F(BoardWindowTest, SwitchesFollowPromptsOnlyWhileFollowing) {
    ui::NotifyMessageBoxAcknowledged("SX540 Control Panel",
                                     "Please select GCTL register A[3:0]=0011");
    EXPECT_EQ(board_->Switches(), 0x3);
    EXPECT_EQ(ShownSwitches(), 0x3);
    boardWindow_->Follow()->click();
    EXPECT_FALSE(board_->FollowsPrompts());
    ui::NotifyMessageBoxAcknowledged("SX540 Control Panel", "Please VPORT register A[3:0]=1000");
    EXPECT_EQ(board_->Switches(), 0x3);
    ui::NotifyMessageBoxAcknowledged("SX540 Camera Control Panel", "Couldn't find the .BMP file.");
    EXPECT_EQ(board_->Switches(), 0x3);
}

TEST_F(BoardWindowTest, ShowsEachLatchedRegisterInHex) {
    QTest::mouseClick(window_->Field(2), Qt::LeftButton);
    QTest::keyClicks(window_->Field(2), "7");
    QTest::mouseClick(window_->Field(4), Qt::LeftButton);
    QTest::keyClicks(window_->Field(4), "1");
    QTest::mouseClick(window_->Field(5), Qt::LeftButton);
    QTest::keyClicks(window_->Field(5), "10");
    QTest::mouseClick(window_->findChild<QWidget*>("Command1"), Qt::LeftButton);
    EXPECT_EQ(boardWindow_->Register(sim::GCTL)->text(), "0x07");
    EXPECT_EQ(boardWindow_->Register(sim::HWCTL)->text(), "0x1A");
    EXPECT_EQ(ShownSwitches(), sim::VPORT);
}

}  // namespace
