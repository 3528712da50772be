// Dialogs of a module: templates from its resources run modally through the control UI. Without
// the GUI layer every dialog fails to show at once.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/ctl/module.h"
#include "platform/ui/dialogs.h"

// Loads dialog template `id` of the module and runs it modally with no parent, with the icons it
// names taken from the same module. Returns the id of the button that closed it, or -1 when the
// template is missing or the dialog cannot be shown.
CTL_EXPORT int AfxDoModalDialog(HINSTANCE instance, std::uint16_t id);

// The icon lookup for templates of a module (icon id -> .ico bytes, empty when absent).
CTL_EXPORT ui::IconLookup AfxModuleIcons(HINSTANCE instance);

// The property frame "<objectName> Properties" with one tab per page. Returns whether it was
// closed with OK; false also when it cannot be shown, which *shown (when given) tells apart.
CTL_EXPORT bool AfxRunPropertyFrame(const std::string& objectName,
                                    const std::vector<ui::PropertyPageView>& pages,
                                    const std::function<void()>& onApply, bool* shown = nullptr);
// Whether this build can show dialogs at all.
CTL_EXPORT bool AfxHaveDialogs();
