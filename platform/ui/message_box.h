// Modal message boxes (OK only, no icon) and what watches them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#define UI_EXPORT __attribute__((visibility("default")))

namespace ui {

// Shows a modal box with the title and text, an OK button only and no icon; closing the box
// counts as OK. Returns when it is dismissed. Needs a QApplication.
UI_EXPORT void ShowMessageBox(const std::string& title, const std::string& text);

// Observers run after a box has been acknowledged, whichever front end showed it (the Qt box
// above, or a front end that reports its own acknowledgement through NotifyMessageBoxAcknowledged).
// The simulated board's switches follow the register-selection prompts through this.
using MessageBoxObserver = std::function<void(const std::string& title, const std::string& text)>;
UI_EXPORT int AddMessageBoxObserver(MessageBoxObserver observer);  // returns a handle
UI_EXPORT void RemoveMessageBoxObserver(int handle);
UI_EXPORT void NotifyMessageBoxAcknowledged(const std::string& title, const std::string& text);

// Test hook: when set, ShowMessageBox calls it instead of showing a window (then notifies).
UI_EXPORT void SetMessageBoxHandlerForTesting(
    std::function<void(const std::string& title, const std::string& text)> handler);
// The handler set above, or an empty function.
UI_EXPORT std::function<void(const std::string& title, const std::string& text)>
MessageBoxHandlerForTesting();

}  // namespace ui
