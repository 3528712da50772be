// Dialogs and strings of a module as a control shows them: templates from its resources run
// modally through the control UI (without the GUI layer every dialog fails to show at once), and
// its strings handed to a container in task memory.
#pragma once

#include <string>

#include "platform/ctl/module.h"
#include "platform/ui/dialogs.h"

// Loads dialog template `id` of the module and runs it modally with no parent, with the icons it
// names taken from the same module. Returns the id of the button that closed it, or -1 when the
// template is missing or the dialog cannot be shown.
CTL_EXPORT int AfxDoModalDialog(HINSTANCE instance, std::uint16_t id);

// String `id` of the module as a new task string (the receiver frees it with CoTaskMemFree):
// E_FAIL when the module has no such string, E_OUTOFMEMORY; *text is null on failure.
CTL_EXPORT HRESULT AfxLoadTaskString(HINSTANCE instance, std::uint16_t id, LPOLESTR* text);
