#include "platform/ui/window_handles.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <QWidget>
#include <memory>

namespace {

// A handle names its window for the window's life and nothing after: a container's stale handle
// must never reach a widget that took the old one's place.
TEST(WindowHandles, AWindowsHandleNamesItUntilItIsGone) {
    auto first = std::make_unique<QWidget>();
    const HWND handle = ui::HandleOfWidget(first.get());
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(ui::HandleOfWidget(first.get()), handle);
    EXPECT_EQ(ui::WidgetOfHandle(handle), first.get());
    first.reset();
    EXPECT_EQ(ui::WidgetOfHandle(handle), nullptr);
    QWidget second;
    EXPECT_NE(ui::HandleOfWidget(&second), handle);
    EXPECT_EQ(ui::WidgetOfHandle(handle), nullptr);
    EXPECT_EQ(ui::HandleOfWidget(nullptr), nullptr);
    EXPECT_EQ(ui::WidgetOfHandle(nullptr), nullptr);
    EXPECT_EQ(ui::WidgetOfHandle(reinterpret_cast<HWND>(&second)), nullptr);  // no address works
}

TEST(WindowHandles, ADeviceContextNamesItsPainterForItsScopeOnly) {
    QImage image(4, 4, QImage::Format_ARGB32);
    QPainter painter(&image);
    HDC handle = nullptr;
    {
        ui::DeviceContext dc(&painter);
        handle = dc.handle();
        ASSERT_NE(handle, nullptr);
        EXPECT_EQ(ui::PainterOfHandle(handle), &painter);
        ui::DeviceContext other(&painter);
        EXPECT_NE(other.handle(), handle);
    }
    EXPECT_EQ(ui::PainterOfHandle(handle), nullptr);
    EXPECT_EQ(ui::PainterOfHandle(nullptr), nullptr);
}

}  // namespace
