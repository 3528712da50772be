// The main window over a real Panel, the simulated board and stand-in port objects; message
// boxes are answered at once and recorded.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <memory>
#include <string>
#include <vector>

#include "panel/panel.h"
#include "panel/qt/main_window.h"
#include "panel/qt/qt_front_end.h"
#include "platform/portio/board_operator.h"
#include "platform/portio/portio.h"
#include "platform/portio/sim/board.h"
#include "platform/portio/sim/sim_backend.h"
#include "platform/ui/cursor.h"
#include "platform/ui/message_box.h"
#include "tests/support/fake_pinbus.h"

namespace testing_support {

class PanelWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        board_ = portio::SimulatedBoard();
        ASSERT_NE(board_, nullptr);
        board_->SetSwitches(sim::VPORT);
        board_->SetFollowsPrompts(true);
        ui::SetMessageBoxHandlerForTesting(
            [this](const std::string& title, const std::string& text) {
                boxes_.push_back(title + "|" + text);
                windowVisibleAtBox_.push_back(window_ != nullptr && window_->isVisible());
                waitCursorAtBox_.push_back(ui::WaitCursorShown());
            });
        follower_ = portio::Operator()->WatchPrompts();
        panel_ = std::make_unique<panel::Panel>(&pinbus1_, &pinbus2_, ui_);
        window_ = std::make_unique<panel::qt::MainWindow>(*panel_);
        panel_->FormLoad();
        window_->show();
        window_->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
    }
    void TearDown() override {
        window_.reset();
        panel_.reset();
        follower_.reset();
        ui::SetMessageBoxHandlerForTesting(nullptr);
    }

    template <typename T = QWidget>
    T* Find(const char* name) const {
        T* widget = window_->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    const panel::FormState& State() const { return panel_->State(); }

    FakePinbus pinbus1_, pinbus2_;
    panel::qt::QtUserInterface ui_;
    sim::Board* board_ = nullptr;
    std::unique_ptr<portio::BoardOperator::PromptWatch> follower_;
    std::unique_ptr<panel::Panel> panel_;
    std::unique_ptr<panel::qt::MainWindow> window_;
    std::vector<std::string> boxes_;
    std::vector<bool> windowVisibleAtBox_;
    std::vector<bool> waitCursorAtBox_;
};

}  // namespace testing_support
