#include "platform/ui/window_handles.h"

#include <QApplication>
#include <QPointer>
#include <QWidget>
#include <cstdint>
#include <map>
#include <mutex>

#include "platform/ui/application_scope.h"

namespace ui {
namespace {

// Handles are numbers of their own, never addresses: a window that is gone leaves its handle
// naming nothing, even when a new widget takes its place in memory.
struct Handles {
    std::mutex mu;
    std::uintptr_t next = 0x10000;
    std::map<std::uintptr_t, QPointer<QWidget>> windows;
    std::map<std::uintptr_t, QPainter*> painters;

    std::uintptr_t Take() { return next += 4; }
};

Handles& H() {
    static Handles* handles = new Handles;  // used until the last window of the process goes
    return *handles;
}

const char kHandleProperty[] = "lensbay_hwnd";

}  // namespace

HWND HandleOfWidget(QWidget* widget) {
    if (widget == nullptr) return nullptr;
    const QVariant kept = widget->property(kHandleProperty);
    if (kept.isValid()) return reinterpret_cast<HWND>(kept.value<quintptr>());
    Handles& h = H();
    std::uintptr_t value = 0;
    {
        std::lock_guard lock(h.mu);
        value = h.Take();
        h.windows.emplace(value, widget);
    }
    widget->setProperty(kHandleProperty, QVariant::fromValue<quintptr>(value));
    QObject::connect(widget, &QObject::destroyed, [value] {
        Handles& handles = H();
        std::lock_guard lock(handles.mu);
        handles.windows.erase(value);
    });
    return reinterpret_cast<HWND>(value);
}

QWidget* WidgetOfHandle(HWND hwnd) {
    Handles& h = H();
    std::lock_guard lock(h.mu);
    auto found = h.windows.find(reinterpret_cast<std::uintptr_t>(hwnd));
    return found == h.windows.end() ? nullptr : found->second.data();
}

DeviceContext::DeviceContext(QPainter* painter) : handle_(nullptr) {
    Handles& h = H();
    std::lock_guard lock(h.mu);
    const std::uintptr_t value = h.Take();
    h.painters.emplace(value, painter);
    handle_ = reinterpret_cast<HDC>(value);
}

DeviceContext::~DeviceContext() {
    Handles& h = H();
    std::lock_guard lock(h.mu);
    h.painters.erase(reinterpret_cast<std::uintptr_t>(handle_));
}

QPainter* PainterOfHandle(HDC hdc) {
    Handles& h = H();
    std::lock_guard lock(h.mu);
    auto found = h.painters.find(reinterpret_cast<std::uintptr_t>(hdc));
    return found == h.painters.end() ? nullptr : found->second;
}

bool KeepApplication() {
    if (QCoreApplication::instance() != nullptr) return ApplicationScope().ok();
    // Kept for the rest of the process: windows may outlive any one call.
    static std::unique_ptr<QApplication>* kept = new std::unique_ptr<QApplication>;
    *kept = CreateApplication();
    return *kept != nullptr;
}

}  // namespace ui
