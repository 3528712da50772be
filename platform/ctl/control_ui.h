// What a control needs from a user interface: modal dialogs from templates, its own window inside
// a container's, the child dialogs of property pages, pictures, and drawing on a device context.
// Windows and device contexts are the platform's opaque handles (HWND, HDC): the implementation
// resolves them. The build links exactly one implementation: the Qt one (control_ui_qt.cpp,
// through platform/ui, whose handles name widgets and painters), the headless one
// (control_ui_headless.cpp), in which no dialog or window shows, no picture decodes and drawing
// is not implemented, or, in the Wine build, the platform's own windows, dialogs and pictures
// (control_ui_win32.cpp), whose handles are the platform's.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

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
    // `wBounds`: the window bounds of a metafile target (other targets have none to use).
    virtual void Render(CDC* dc, const RECT& target, const RECT& wBounds) = 0;
};

// A bitmap loaded from a module: it describes itself and lends itself to pictures.
class Bitmap {
public:
    virtual ~Bitmap() = default;
    // Its width and height in pixels (and, where the platform has them, its planes and depth).
    virtual BITMAP Describe() const = 0;
    // A picture over the bitmap that does not own it: the bitmap must outlive the picture. Null
    // when none can be made.
    virtual std::unique_ptr<Picture> CreatePicture() = 0;
};

// A window the framework made (a control's own window, a page's dialog). Destroying the object
// destroys the window; a window its parent took away with it is simply gone.
class Window {
public:
    virtual ~Window() = default;
    virtual HWND Handle() const = 0;
    // The rectangle in its parent's client coordinates.
    virtual void Move(const RECT& rect) = 0;
    virtual void Show(bool visible) = 0;
};

// Paints a control's window: the device context and the window's client rectangle.
using PaintHandler = std::function<void(CDC* dc, const RECT& bounds)>;

class ControlUi {
public:
    virtual ~ControlUi() = default;

    // Whether dialogs and windows can be shown at all.
    virtual bool HaveDialogs() const = 0;
    // Runs the dialog modally with no parent; the id of the button that closed it, or -1 when it
    // cannot be shown.
    virtual int RunModalDialog(const DialogTemplate& dialog, const ui::IconLookup& icons) = 0;
    // A control's window, a child of `parent` at `rect`, shown and painted by `paint`.
    // OLE_E_INVALIDHWND when `parent` names no window; E_NOTIMPL without windows.
    virtual HRESULT CreateControlWindow(HWND parent, const RECT& rect, PaintHandler paint,
                                        std::unique_ptr<Window>* window) = 0;
    // A property page's dialog from its template, a child of `parent` at `rect` and of its size
    // (the template's where `rect` is empty), hidden; the template's items keep their places.
    // Errors as CreateControlWindow's.
    virtual HRESULT CreateChildDialog(HWND parent, const RECT& rect, const DialogTemplate& dialog,
                                      const ui::IconLookup& icons,
                                      std::unique_ptr<Window>* window) = 0;
    // The template's size in pixels.
    virtual SIZE DialogSize(const DialogTemplate& dialog) = 0;
    // The picture of a .bmp file's bytes; null for bytes that are no bitmap (or no pictures).
    virtual std::unique_ptr<Picture> DecodeBitmap(const std::string& bmpFile) = 0;
    // Runs `draw` for the device context `hdc` names, leaving the context as it found it.
    // E_INVALIDARG when `hdc` names none; E_NOTIMPL where nothing can be drawn.
    virtual HRESULT DrawOn(HDC hdc, const std::function<void()>& draw) = 0;

    // A module's own resources, shown as the module holds them. By default each is read from the
    // module's resource table and handed to the calls above; a UI on the platform's own windows
    // has the platform load them from the module.
    //
    // Dialog resource `id` of `instance` run modally with no parent, with the icons it names from
    // the same module: as RunModalDialog (-1 also when the module has no such dialog).
    virtual int RunModuleDialog(HINSTANCE instance, std::uint16_t id);
    // Dialog resource `id` of `instance` as a child of `parent`: as CreateChildDialog (E_FAIL
    // when the module has no such dialog).
    virtual HRESULT CreateModuleChildDialog(HWND parent, const RECT& rect, HINSTANCE instance,
                                            std::uint16_t id, std::unique_ptr<Window>* window);
    // Bitmap resource `id` of `instance`, loaded anew; null when the module has none (or there
    // are no pictures).
    virtual std::unique_ptr<Bitmap> LoadModuleBitmap(HINSTANCE instance, std::uint16_t id);
};

// A module's dialog template `id`; false when it is missing or malformed.
bool LoadModuleDialogTemplate(HINSTANCE instance, std::uint16_t id, DialogTemplate* dialog);

// The implementation this build links.
ControlUi& TheControlUi();

// A template's size where no font can be measured: the dialog units of an 8-point
// "MS Sans Serif" at 96 dots per inch, 6 x 13 pixels for 4 x 8 units.
inline SIZE StandardDialogSize(const DialogTemplate& dialog) {
    return SIZE{(dialog.cx * 6 + 2) / 4, (dialog.cy * 13 + 4) / 8};
}

}  // namespace ctl

// The icon lookup for templates of a module (icon id -> .ico bytes, empty when absent), read from
// the module's resource table.
CTL_EXPORT ui::IconLookup AfxModuleIcons(HINSTANCE instance);
