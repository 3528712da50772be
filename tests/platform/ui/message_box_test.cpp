#include "platform/ui/message_box.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <functional>
#include <string>
#include <vector>

#include "platform/ui/dialogs.h"

namespace {

struct BoxSeen {
    QString title, text;
    Qt::TextFormat format = Qt::AutoText;
    QMessageBox::Icon icon = QMessageBox::Information;
    QMessageBox::StandardButtons buttons;
    int buttonCount = 0;
};

// Shows a real box; `close` dismisses it from inside its event loop.
class MessageBoxTest : public ::testing::Test {
protected:
    void SetUp() override {
        observer_ =
            ui::AddMessageBoxObserver([this](const std::string& title, const std::string& text) {
                acknowledged_.push_back(title + "|" + text);
            });
    }
    void TearDown() override {
        ui::RemoveMessageBoxObserver(observer_);
        ui::SetDialogShownHookForTesting(nullptr);
        ui::SetMessageBoxHandlerForTesting(nullptr);
    }
    BoxSeen Show(const std::string& title, const std::string& text,
                 const std::function<void(QMessageBox*)>& close) {
        BoxSeen seen;
        ui::SetDialogShownHookForTesting([&](void* widget) {
            auto* box = qobject_cast<QMessageBox*>(static_cast<QWidget*>(widget));
            ASSERT_NE(box, nullptr);
            seen.title = box->windowTitle();
            seen.text = box->text();
            seen.format = box->textFormat();
            seen.icon = box->icon();
            seen.buttons = box->standardButtons();
            seen.buttonCount = static_cast<int>(box->buttons().size());
            close(box);
        });
        ui::ShowMessageBox(title, text);
        return seen;
    }
    int observer_ = 0;
    std::vector<std::string> acknowledged_;
};

TEST_F(MessageBoxTest, ShowsTitleTextAndOkOnlyWithoutIcon) {
    const BoxSeen seen = Show("Operation Notice", "Please select VPORT register A[3:0]=1000",
                              [](QMessageBox* box) { box->button(QMessageBox::Ok)->click(); });
    EXPECT_EQ(seen.title, "Operation Notice");
    EXPECT_EQ(seen.text, "Please select VPORT register A[3:0]=1000");
    EXPECT_EQ(seen.icon, QMessageBox::NoIcon);
    EXPECT_EQ(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    EXPECT_EQ(seen.buttonCount, 1);
    EXPECT_EQ(acknowledged_, std::vector<std::string>{
                                 "Operation Notice|Please select VPORT register A[3:0]=1000"});
}

TEST_F(MessageBoxTest, EscapeAndTheCloseBoxCountAsOk) {
    Show("SX540 Control Panel", "escape",
         [](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Escape); });
    Show("SX540 Control Panel", "close box", [](QMessageBox* box) { box->close(); });
    Show("SX540 Control Panel", "enter",
         [](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Return); });
    EXPECT_EQ(acknowledged_, (std::vector<std::string>{"SX540 Control Panel|escape",
                                                       "SX540 Control Panel|close box",
                                                       "SX540 Control Panel|enter"}));
}

TEST_F(MessageBoxTest, TextIsShownAsPlainTextNotMarkup) {
    const BoxSeen seen = Show("SX540 Camera Control Panel", "<b>a & b</b>\nline two",
                              [](QMessageBox* box) { box->close(); });
    EXPECT_EQ(seen.format, Qt::PlainText);
    EXPECT_EQ(seen.text, "<b>a & b</b>\nline two");
}

TEST_F(MessageBoxTest, TestHandlerReplacesTheWindowAndRunsBeforeObservers) {
    bool hookRan = false;
    ui::SetDialogShownHookForTesting([&](void*) { hookRan = true; });
    std::vector<std::string> order;
    ui::SetMessageBoxHandlerForTesting([&](const std::string& title, const std::string& text) {
        order.push_back("handler " + title + "|" + text);
        EXPECT_TRUE(acknowledged_.empty());
    });
    ui::ShowMessageBox("Lensbay", "Can't find the .bmp file.");
    EXPECT_FALSE(hookRan);
    EXPECT_EQ(order, std::vector<std::string>{"handler Lensbay|Can't find the .bmp file."});
    EXPECT_EQ(acknowledged_, std::vector<std::string>{"Lensbay|Can't find the .bmp file."});
}

}  // namespace
