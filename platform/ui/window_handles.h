// What the platform's window and device-context handles (HWND, HDC) stand for in this build: a
// QWidget for as long as it lives, and a QPainter for as long as a DeviceContext names it. A
// container gives a control its window's handle and a device context's; the control's side
// (platform/ctl's Qt UI) turns them back into widgets and painters. A handle that names nothing
// (never handed out, or its window gone) resolves to null, never to a dangling object.
#pragma once

#include "platform/com/windef.h"

#define UI_EXPORT __attribute__((visibility("default")))

class QPainter;
class QWidget;

namespace ui {

// The widget's handle: the same one for the widget's whole life; null for a null widget.
UI_EXPORT HWND HandleOfWidget(QWidget* widget);
// The live widget a handle names, or null.
UI_EXPORT QWidget* WidgetOfHandle(HWND hwnd);

// A device context over a painter, for the scope's life: its handle resolves to the painter
// until the DeviceContext is destroyed.
class UI_EXPORT DeviceContext {
public:
    explicit DeviceContext(QPainter* painter);
    ~DeviceContext();
    DeviceContext(const DeviceContext&) = delete;
    DeviceContext& operator=(const DeviceContext&) = delete;
    HDC handle() const { return handle_; }

private:
    HDC handle_;
};
// The painter a device context names, or null.
UI_EXPORT QPainter* PainterOfHandle(HDC hdc);

// Makes sure a QApplication runs from now until the process ends (a container that keeps
// windows open between calls needs one). False when no window can be shown (no display).
UI_EXPORT bool KeepApplication();

}  // namespace ui
