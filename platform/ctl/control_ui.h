// What a control needs from a user interface: modal dialogs from templates, the property frame,
// and pictures drawn onto a raster. The build links exactly one implementation: the Qt one
// (control_ui_qt.cpp, through platform/ui) or the headless one (control_ui_headless.cpp), in
// which no dialog shows, no picture decodes and drawing is not implemented.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/com/dialog_template.h"
#include "platform/com/windef.h"
#include "platform/ctl/module.h"
#include "platform/ui/dialogs.h"

class CDC;

namespace ctl {

// A decoded bitmap that can draw itself stretched into a rectangle of a device context.
class Picture {
public:
    virtual ~Picture() = default;
    virtual LONG Width() const = 0;
    virtual LONG Height() const = 0;
    virtual void Render(CDC* dc, const RECT& target) = 0;
};

class ControlUi {
public:
    virtual ~ControlUi() = default;

    // Whether dialogs can be shown at all.
    virtual bool HaveDialogs() const = 0;
    // Runs the dialog modally with no parent; the id of the button that closed it, or -1 when it
    // cannot be shown.
    virtual int RunModalDialog(const DialogTemplate& dialog, const ui::IconLookup& icons) = 0;
    // The property frame "<objectName> Properties"; whether it was closed with OK (false also
    // when it cannot be shown, which *shown tells apart when given).
    virtual bool RunPropertyFrame(const std::string& objectName,
                                  const std::vector<ui::PropertyPageView>& pages,
                                  const std::function<void()>& onApply, bool* shown) = 0;
    // The picture of a .bmp file's bytes; null for bytes that are no bitmap (or no pictures).
    virtual std::unique_ptr<Picture> DecodeBitmap(const std::string& bmpFile) = 0;
    // Clears the 32-bit ARGB raster (`width` x `height`, rows top-down) to transparent and lets
    // `draw` paint on it through a device context. E_NOTIMPL where nothing can be drawn.
    virtual HRESULT DrawOnRaster(LONG width, LONG height, DWORD* pixels,
                                 const std::function<void(CDC*)>& draw) = 0;
};

// The implementation this build links.
ControlUi& TheControlUi();

}  // namespace ctl
