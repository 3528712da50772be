// Qt rendering of dialog templates (dialog units, the template's font) and the property frame.
// Used by the control framework for About boxes and property pages.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/com/dialog_template.h"

#define UI_EXPORT __attribute__((visibility("default")))

namespace ui {

// Icons referred to by a template's icon controls: resource id -> .ico file bytes.
using IconLookup = std::function<std::string(int iconId)>;

// Runs the template as a modal dialog with no explicit parent; returns the id of the button that
// closed it (IDOK 1, IDCANCEL 2 for Escape or the close box), or -1 when it could not be created
// (for instance with no QApplication and no display).
UI_EXPORT int RunModalDialog(const DialogTemplate& dialog, const IconLookup& icons);

struct PropertyPageView {
    std::string caption;    // the tab caption, e.g. "General"
    DialogTemplate dialog;  // a child template (WS_CHILD)
    IconLookup icons;
};

// The property frame: a modal dialog titled "<objectName> Properties" with one tab per page and
// OK, Cancel and Apply buttons. onApply runs for OK and Apply. Returns true when closed with OK;
// false with Cancel or when it could not be shown. *shown (when given) tells the two apart.
UI_EXPORT bool RunPropertyFrame(const std::string& objectName,
                                const std::vector<PropertyPageView>& pages,
                                const std::function<void()>& onApply, bool* shown = nullptr);

// Test hook: called with each dialog/frame right after it is shown (a QWidget*), so that tests
// can inspect and close it. Null to remove.
UI_EXPORT void SetDialogShownHookForTesting(std::function<void(void* widget)> hook);

}  // namespace ui
