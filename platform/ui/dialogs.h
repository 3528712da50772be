// Qt rendering of dialog templates (dialog units, the template's font): modal dialogs and the
// child dialogs property pages are made of. Used by the control framework for About boxes and
// property pages; the property frame that holds the pages is OleCreatePropertyFrame
// (platform/com/olectl.h, property_frame.cpp).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/com/dialog_template.h"

class QWidget;

#define UI_EXPORT __attribute__((visibility("default")))

namespace ui {

// Icons referred to by a template's icon controls: resource id -> .ico file bytes.
using IconLookup = std::function<std::string(int iconId)>;

// Runs the template as a modal dialog with no explicit parent; returns the id of the button that
// closed it (IDOK 1, IDCANCEL 2 for Escape or the close box), or -1 when it could not be created
// (for instance with no QApplication and no display).
UI_EXPORT int RunModalDialog(const DialogTemplate& dialog, const IconLookup& icons);

// The template as a child dialog of `parent` (a property page): its items placed as in a modal
// dialog, sized to the template, hidden until shown. Owned by `parent`; null for a null parent.
UI_EXPORT QWidget* CreateChildDialog(QWidget* parent, const DialogTemplate& dialog,
                                     const IconLookup& icons);

// The template's size in pixels in its own font; false (and nothing set) when no window can be
// shown, so that no font can be measured.
UI_EXPORT bool DialogSizeInPixels(const DialogTemplate& dialog, int* width, int* height);

// Whether a modal window (a dialog, the property frame, a message box) is shown and waited on.
// With false each is treated as where no display can be reached: a dialog returns -1 at once, the
// property frame fails, a message box is said on standard error. For a host on a Qt platform that
// shows nothing to anyone (PlatformShowsNothing), where a modal window would wait forever for an
// answer nobody can give. True until set.
UI_EXPORT void SetModalWindowsShown(bool shown);
// Whether QT_QPA_PLATFORM names only platforms that show nothing to anyone ("offscreen",
// "minimal"), so that no one can see or answer a window.
UI_EXPORT bool PlatformShowsNothing();

// Test hook: called with each dialog/frame right after it is shown (a QWidget*), so that tests
// can inspect and close it. Null to remove.
UI_EXPORT void SetDialogShownHookForTesting(std::function<void(void* widget)> hook);

}  // namespace ui
