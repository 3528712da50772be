// No QApplication in this process: the glue must neither crash nor block.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDialog>
#include <QPushButton>
#include <cstdlib>
#include <string>

#include "platform/com/olectl.h"
#include "platform/ui/dialogs.h"
#include "platform/ui/message_box.h"
#include "platform/ui/window_handles.h"

namespace {

DialogTemplate OkBox() {
    DialogTemplate t{};
    t.style = 0x80000000 | 0x00C00000 | 0x00080000 | 0x80 | 0x40;
    t.cx = 100;
    t.cy = 40;
    t.caption = "Box";
    t.fontName = "MS Sans Serif";
    t.pointSize = 8;
    t.items = {{DialogItem::Kind::Button, 1, 0x50010001, 10, 10, 32, 14, "OK"}};
    return t;
}

TEST(Headless, WithoutADisplayNothingIsShownAndBoxesStillCount) {
    unsetenv("QT_QPA_PLATFORM");
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    EXPECT_EQ(ui::RunModalDialog(OkBox(), {}), -1);
    // No frame, so no page is even created (the class is not registered: it would fail).
    CLSID page = {0xA1B2C3D4, 0x0009, 0x4000, {0x80, 0, 0, 0, 0, 0, 0xC0, 0xDE}};
    EXPECT_EQ(OleCreatePropertyFrame(nullptr, 0, 0, u"Pinbus", 0, nullptr, 1, &page, 0, 0, nullptr),
              E_FAIL);
    int width = 0, height = 0;
    EXPECT_FALSE(ui::DialogSizeInPixels(OkBox(), &width, &height));
    EXPECT_FALSE(ui::KeepApplication());

    std::string seen;
    const int handle = ui::AddMessageBoxObserver(
        [&](const std::string& title, const std::string& text) { seen = title + "|" + text; });
    testing::internal::CaptureStderr();
    ui::ShowMessageBox("Operation Notice", "Please select VPORT register A[3:0]=1000");
    const std::string err = testing::internal::GetCapturedStderr();
    ui::RemoveMessageBoxObserver(handle);
    EXPECT_EQ(err, "Operation Notice: Please select VPORT register A[3:0]=1000\n");
    EXPECT_EQ(seen, "Operation Notice|Please select VPORT register A[3:0]=1000");
    EXPECT_EQ(QCoreApplication::instance(), nullptr);
}

TEST(Headless, ADisplayThatIsNotThereShowsNothingAndDoesNotAbort) {
    unsetenv("QT_QPA_PLATFORM");
    unsetenv("WAYLAND_DISPLAY");
    setenv("DISPLAY", "nonexistent.invalid:0", 1);  // .invalid never resolves
    EXPECT_EQ(ui::RunModalDialog(OkBox(), {}), -1);
    CLSID page = {0xA1B2C3D4, 0x0009, 0x4000, {0x80, 0, 0, 0, 0, 0, 0xC0, 0xDE}};
    EXPECT_EQ(OleCreatePropertyFrame(nullptr, 0, 0, u"Pinbus", 0, nullptr, 1, &page, 0, 0, nullptr),
              E_FAIL);
    EXPECT_EQ(ui::RunModalDialog(OkBox(), {}), -1);  // and again, with a new attempt
    EXPECT_EQ(QCoreApplication::instance(), nullptr);
    unsetenv("DISPLAY");
}

TEST(Headless, WithAPlatformATemporaryApplicationShowsTheDialog) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ui::SetDialogShownHookForTesting([](void* widget) {
        auto* dialog = static_cast<QDialog*>(static_cast<QWidget*>(widget));
        dialog->findChild<QPushButton*>("item1")->click();
    });
    EXPECT_EQ(ui::RunModalDialog(OkBox(), {}), 1);
    EXPECT_EQ(ui::RunModalDialog(OkBox(), {}), 1);  // and again, with a new one
    ui::SetDialogShownHookForTesting(nullptr);
    EXPECT_EQ(QCoreApplication::instance(), nullptr);  // gone with the call
}

}  // namespace
