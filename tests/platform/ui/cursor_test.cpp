#include "platform/ui/cursor.h"

#include <gtest/gtest.h>

#include <QCursor>
#include <QGuiApplication>

namespace {

Qt::CursorShape Override() {
    const QCursor* cursor = QGuiApplication::overrideCursor();
    return cursor ? cursor->shape() : Qt::ArrowCursor;
}

TEST(WaitCursor, StaysBalancedWhateverTheCallOrder) {
    ui::SetWaitCursor(false);  // a reset without a set does nothing
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    ui::SetWaitCursor(true);
    ui::SetWaitCursor(true);
    EXPECT_TRUE(ui::WaitCursorShown());
    EXPECT_EQ(Override(), Qt::WaitCursor);
    ui::SetWaitCursor(false);  // one reset undoes both sets
    EXPECT_FALSE(ui::WaitCursorShown());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST(WaitCursor, ScopedForItsLifetime) {
    {
        ui::WaitCursor wait;
        EXPECT_EQ(Override(), Qt::WaitCursor);
    }
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

}  // namespace
