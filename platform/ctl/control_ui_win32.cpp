// The control UI of the Wine build: the platform's own windows, dialogs and pictures. Handles are
// the platform's (an HWND is a window, an HDC a device context); a module's dialogs, icons and
// bitmaps are loaded by the platform from the module's own resources.
#include <memory>
#include <string>

#include "platform/com/utf.h"
#include "platform/ctl/control_ui.h"
#include "platform/ctl/picture.h"

namespace ctl {
namespace {

// The platform's module that holds `address` (the framework's instance handle is an address
// inside its module); null when there is none.
HMODULE ModuleOf(const void* address) {
    HMODULE module = nullptr;
    if (!address || !GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                            GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                        static_cast<LPCWSTR>(address), &module))
        return nullptr;
    return module;
}

HRESULT LastError() {
    const DWORD error = GetLastError();
    return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

// What a window of ours knows of itself; the window's user data points at it while it lives.
struct WindowState {
    HWND hwnd = nullptr;  // null once the window is gone (its parent may take it away first)
    PaintHandler paint;   // a control's window only
};

// A window the framework made: destroys it unless its parent did so first.
class Win32Window : public Window {
public:
    Win32Window(std::unique_ptr<WindowState> state, void (*gone)())
        : state_(std::move(state)), gone_(gone) {}
    ~Win32Window() override {
        if (state_->hwnd) DestroyWindow(state_->hwnd);
        if (gone_) gone_();
    }
    HWND Handle() const override { return state_->hwnd; }
    void Move(const RECT& rect) override {
        if (!state_->hwnd) return;
        SetWindowPos(state_->hwnd, nullptr, rect.left, rect.top, rect.right - rect.left,
                     rect.bottom - rect.top, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    void Show(bool visible) override {
        if (state_->hwnd) ShowWindow(state_->hwnd, visible ? SW_SHOWNA : SW_HIDE);
    }

private:
    std::unique_ptr<WindowState> state_;
    void (*gone_)();
};

// ---------------------------------------------------------------- a control's own window

constexpr WCHAR kControlClass[] = u"LensbayControlWindow";
int g_controlWindows = 0;  // the class is registered while any of its windows' objects lives

LRESULT CALLBACK ControlWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* state = reinterpret_cast<WindowState*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    switch (message) {
        case WM_NCCREATE:
            state =
                static_cast<WindowState*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
            state->hwnd = hwnd;
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state));
            break;
        case WM_ERASEBKGND:
            return 1;  // the paint covers the whole client area
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(hwnd, &ps);
            if (dc && state && state->paint) {
                RECT client{};
                GetClientRect(hwnd, &client);
                CDC cdc(dc);
                try {
                    state->paint(&cdc, client);
                } catch (...) {
                    // Nothing may unwind into the platform's message dispatch; the window stays
                    // as it was.
                }
            }
            EndPaint(hwnd, &ps);
            return 0;
        }
        case WM_NCDESTROY:
            if (state) state->hwnd = nullptr;
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
            break;
        default:
            break;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

bool RegisterControlClass() {
    if (g_controlWindows++ > 0) return true;
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = ControlWindowProc;
    wc.hInstance = ModuleOf(reinterpret_cast<const void*>(&ControlWindowProc));
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.lpszClassName = kControlClass;
    if (RegisterClassExW(&wc) || GetLastError() == ERROR_CLASS_ALREADY_EXISTS) return true;
    --g_controlWindows;
    return false;
}

// The class goes with its last window, so that no class outlives the module's code.
void ControlWindowGone() {
    if (g_controlWindows > 0 && --g_controlWindows == 0)
        UnregisterClassW(kControlClass,
                         ModuleOf(reinterpret_cast<const void*>(&ControlWindowProc)));
}

// ---------------------------------------------------------------- dialogs

// A modal dialog ends with the button that closed it: OK, or Cancel (the close command and the
// Escape key).
INT_PTR CALLBACK ModalDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) return TRUE;  // the default button takes the focus
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        EndDialog(dialog, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

// A property page's dialog: its frame does the rest.
INT_PTR CALLBACK PageDialogProc(HWND dialog, UINT message, WPARAM, LPARAM lParam) {
    auto* state = reinterpret_cast<WindowState*>(GetWindowLongPtrW(dialog, DWLP_USER));
    if (message == WM_INITDIALOG) {
        state = reinterpret_cast<WindowState*>(lParam);
        state->hwnd = dialog;
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
    } else if (message == WM_NCDESTROY && state) {
        state->hwnd = nullptr;
        SetWindowLongPtrW(dialog, DWLP_USER, 0);
    }
    return FALSE;
}

// ---------------------------------------------------------------- pictures

// A picture object of the platform over a bitmap it does not own.
class OlePicture : public Picture {
public:
    OlePicture(IPicture* picture, LONG width, LONG height)
        : picture_(picture), width_(width), height_(height) {}
    ~OlePicture() override { picture_->Release(); }
    LONG Width() const override { return width_; }
    LONG Height() const override { return height_; }
    // The whole picture (its HIMETRIC extent, whose y axis points up) stretched over the target.
    void Render(CDC* dc, const RECT& target, const RECT& wBounds) override {
        OLE_XSIZE_HIMETRIC hmWidth = 0;
        OLE_YSIZE_HIMETRIC hmHeight = 0;
        if (!dc || FAILED(picture_->get_Width(&hmWidth)) || FAILED(picture_->get_Height(&hmHeight)))
            return;
        picture_->Render(dc->GetSafeHdc(), target.left, target.top, target.right - target.left,
                         target.bottom - target.top, 0, hmHeight, hmWidth, -hmHeight,
                         dc->IsMetafile() ? &wBounds : nullptr);
    }

private:
    IPicture* picture_;
    LONG width_, height_;
};

// A bitmap the platform loaded from a module; freed when it goes.
class GdiBitmap : public Bitmap {
public:
    explicit GdiBitmap(HBITMAP bitmap) : bitmap_(bitmap) {}
    ~GdiBitmap() override { DeleteObject(bitmap_); }
    BITMAP Describe() const override {
        BITMAP bmp{};
        if (GetObjectA(bitmap_, sizeof bmp, &bmp) != sizeof bmp) bmp = BITMAP{};
        return bmp;
    }
    std::unique_ptr<Picture> CreatePicture() override {
        const BITMAP bmp = Describe();
        PICTDESC desc{};
        desc.cbSizeofstruct = sizeof desc;
        desc.picType = PICTYPE_BITMAP;
        desc.bmp.hbitmap = bitmap_;
        IPicture* picture = nullptr;
        if (FAILED(OleCreatePictureIndirect(&desc, IID_IPicture, FALSE,
                                            reinterpret_cast<void**>(&picture))) ||
            !picture)
            return nullptr;
        return std::make_unique<OlePicture>(picture, bmp.bmWidth, bmp.bmHeight);
    }

private:
    HBITMAP bitmap_;
};

// ---------------------------------------------------------------- the UI

class Win32ControlUi : public ControlUi {
public:
    // Without a display the platform makes no windows, while its property frame still answers
    // S_OK: whether a window can be made is asked each time.
    bool HaveDialogs() const override {
        HWND probe = CreateWindowExW(0, u"STATIC", u"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                     nullptr, nullptr);
        if (!probe) return false;
        DestroyWindow(probe);
        return true;
    }

    // The framework shows a module's own dialogs (RunModuleDialog, CreateModuleChildDialog); a
    // template from anywhere else is not shown here.
    int RunModalDialog(const DialogTemplate&, const ui::IconLookup&) override { return -1; }
    HRESULT CreateChildDialog(HWND, const RECT&, const DialogTemplate&, const ui::IconLookup&,
                              std::unique_ptr<Window>*) override {
        return E_NOTIMPL;
    }
    // A decoded file is not how this UI gets its pictures (LoadModuleBitmap).
    std::unique_ptr<Picture> DecodeBitmap(const std::string&) override { return nullptr; }

    int RunModuleDialog(HINSTANCE instance, std::uint16_t id) override {
        HMODULE module = ModuleOf(instance);
        if (!module) return -1;
        // No parent: the dialog is the task's own; its icon control loads ICON 1 from the module.
        return static_cast<int>(
            DialogBoxParamW(module, MAKEINTRESOURCEW(id), nullptr, ModalDialogProc, 0));
    }

    HRESULT CreateControlWindow(HWND parent, const RECT& rect, PaintHandler paint,
                                std::unique_ptr<Window>* window) override {
        if (!IsWindow(parent)) return OLE_E_INVALIDHWND;
        if (!RegisterControlClass()) return LastError();
        auto state = std::make_unique<WindowState>();
        state->paint = std::move(paint);
        HWND hwnd = CreateWindowExW(
            0, kControlClass, u"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, rect.left, rect.top,
            rect.right - rect.left, rect.bottom - rect.top, parent, nullptr,
            ModuleOf(reinterpret_cast<const void*>(&ControlWindowProc)), state.get());
        if (!hwnd) {
            const HRESULT hr = LastError();
            ControlWindowGone();
            return hr;
        }
        *window = std::make_unique<Win32Window>(std::move(state), &ControlWindowGone);
        return S_OK;
    }

    HRESULT CreateModuleChildDialog(HWND parent, const RECT& rect, HINSTANCE instance,
                                    std::uint16_t id, std::unique_ptr<Window>* window) override {
        if (!IsWindow(parent)) return OLE_E_INVALIDHWND;
        HMODULE module = ModuleOf(instance);
        if (!module) return E_FAIL;
        auto state = std::make_unique<WindowState>();
        HWND page = CreateDialogParamW(module, MAKEINTRESOURCEW(id), parent, PageDialogProc,
                                       reinterpret_cast<LPARAM>(state.get()));
        if (!page) return LastError();
        // At the rectangle's place and of its size, as the frame gives it (the template's size
        // where the rectangle is empty); the template's items keep their places.
        const int width = rect.right - rect.left, height = rect.bottom - rect.top;
        const bool sized = width > 0 && height > 0;
        SetWindowPos(page, nullptr, rect.left, rect.top, sized ? width : 0, sized ? height : 0,
                     (sized ? 0u : static_cast<UINT>(SWP_NOSIZE)) | SWP_NOZORDER | SWP_NOACTIVATE);
        *window = std::make_unique<Win32Window>(std::move(state), nullptr);
        return S_OK;
    }

    // As the platform's dialogs measure their font: its average character width and its height
    // are the pixels of 4 and 8 dialog units.
    SIZE DialogSize(const DialogTemplate& dialog) override {
        LONG unitX = 0, unitY = 0;
        if ((dialog.style & DS_SETFONT) && !dialog.fontName.empty()) {
            HDC dc = GetDC(nullptr);
            if (dc) {
                const std::u16string face = Utf8ToOle(dialog.fontName);
                const int pixels = MulDiv(dialog.pointSize, GetDeviceCaps(dc, LOGPIXELSY), 72);
                HFONT font =
                    CreateFontW(-pixels, 0, 0, 0, FW_DONTCARE, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                0, 0, PROOF_QUALITY, FF_DONTCARE, face.c_str());
                if (font) {
                    HGDIOBJ old = SelectObject(dc, font);
                    unitX = GdiGetCharDimensions(dc, nullptr, &unitY);
                    SelectObject(dc, old);
                    DeleteObject(font);
                }
                ReleaseDC(nullptr, dc);
            }
        } else {
            const LONG units = GetDialogBaseUnits();
            unitX = LOWORD(units);
            unitY = HIWORD(units);
        }
        if (unitX <= 0 || unitY <= 0) return StandardDialogSize(dialog);
        return SIZE{MulDiv(dialog.cx, unitX, 4), MulDiv(dialog.cy, unitY, 8)};
    }

    std::unique_ptr<Bitmap> LoadModuleBitmap(HINSTANCE instance, std::uint16_t id) override {
        HMODULE module = ModuleOf(instance);
        HBITMAP bitmap = module ? LoadBitmapA(module, MAKEINTRESOURCEA(id)) : nullptr;
        if (!bitmap) return nullptr;
        return std::make_unique<GdiBitmap>(bitmap);
    }

    HRESULT DrawOn(HDC hdc, const std::function<void()>& draw) override {
        if (!hdc || GetObjectType(hdc) == 0) return E_INVALIDARG;
        const int saved = SaveDC(hdc);
        try {
            draw();
        } catch (...) {
            RestoreDC(hdc, saved);
            throw;
        }
        RestoreDC(hdc, saved);
        return S_OK;
    }
};

}  // namespace

ControlUi& TheControlUi() {
    static Win32ControlUi ui;
    return ui;
}

}  // namespace ctl
