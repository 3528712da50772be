// Pinbus's user interface under Wine, driven by the platform's own peers (a Winelib program built
// with wineg++, run under Xvfb by pinbus_ui.py): Wine's ActiveX container, Wine's property frame,
// and the About box as the platform's dialog functions show it.
//
//   pinbus_ui.exe SHOTS COMMAND ...
//       SHOTS: the folder for pictures and screenshots ("-": none are asked for).
//   container WIDTH HEIGHT  AtlAxWin places Pinbus by its ProgID, AtlAxCreateControl by its CLSID;
//                           the control's window, its pixels (SHOTS/wine_window.ppm, and the view
//                           drawn on a memory device context, SHOTS/wine_view.ppm), its release.
//   properties              the properties verb: Wine's property frame with the one page.
//   about                   AboutBox from this compiled client, closed with its OK button, then
//                           once more with the close command.
//   watch-about OUTPUT      the About box of another process (a script under cscript whose
//                           output goes to the Unix file OUTPUT): its texts and icon, closed
//                           with OK; the script must go on only then.
//   no-display              in a Wine session without a display: the properties verb fails and
//                           AboutBox returns at once.
//
// Prints "ok ...", "FAIL ..." or "skip ..." per check and exits with the number of failures. A
// line "screenshot NAME X Y W H ..." asks the driver for a screenshot of the screen; the program
// waits (its windows still served) until the driver has made SHOTS/NAME.done.
#include <sys/stat.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/com/utf.h"
#include "portctl/pinbus_identity.h"

// The common controls' messages (the tabs, the property sheet's buttons): their header names the
// platform's module handle, which the adapter keeps under another name.
#define HINSTANCE PlatformHINSTANCE
#include <commctrl.h>
#include <prsht.h>
#undef HINSTANCE

// Wine's atl.dll, as atliface.h declares them (that header cannot come after the adapter's).
extern "C" BOOL WINAPI AtlAxWinInit(void);
extern "C" HRESULT WINAPI AtlAxGetControl(HWND hWnd, IUnknown** pUnk);
extern "C" HRESULT WINAPI AtlAxCreateControl(LPCOLESTR lpszName, HWND hWnd, IStream* pStream,
                                             IUnknown** ppUnkContainer);
extern "C" void WINAPI AtlPixelToHiMetric(const SIZEL* lpPix, SIZEL* lpHiMetric);

namespace {

std::atomic<int> failures{0};
std::string shots;  // "" when no screenshots are asked for

void Say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

bool Check(bool ok, const std::string& what) {
    Say((ok ? "ok " : "FAIL ") + what);
    if (!ok) ++failures;
    return ok;
}

std::string Hex(HRESULT hr) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08x", static_cast<unsigned>(hr));
    return buf;
}

std::string Text(HWND window) {
    WCHAR buf[256] = {};
    GetWindowTextW(window, buf, 256);
    return OleToUtf8(std::u16string(buf));
}

std::string ClassOf(HWND window) {
    WCHAR buf[64] = {};
    GetClassNameW(window, buf, 64);
    return OleToUtf8(std::u16string(buf));
}

std::string Rect(const RECT& r) {
    return std::to_string(r.left) + "," + std::to_string(r.top) + "-" + std::to_string(r.right) +
           "," + std::to_string(r.bottom);
}

bool SameRect(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

ULONGLONG Deadline(DWORD ms) { return GetTickCount64() + ms; }

// Serves this thread's windows until nothing is left to do (or the wait times out).
void Pump(DWORD waitMs) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, waitMs, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// Asks the driver for a screenshot and waits for it, serving this thread's windows if `serve`.
void Screenshot(const std::string& name, const std::string& regions, bool serve) {
    if (shots.empty()) return;
    Say("screenshot " + name + " " + regions);
    const std::string done = shots + "/" + name + ".done";
    const ULONGLONG deadline = Deadline(120000);
    struct stat st;
    while (stat(done.c_str(), &st) != 0) {
        if (GetTickCount64() > deadline) {
            Check(false, "the driver took no screenshot " + name);
            return;
        }
        if (serve)
            Pump(50);
        else
            Sleep(50);
    }
}

std::string ScreenRect(HWND window, bool client) {
    RECT r{};
    if (client) {
        GetClientRect(window, &r);
        MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&r), 2);
    } else {
        GetWindowRect(window, &r);
    }
    return std::to_string(r.left) + " " + std::to_string(r.top) + " " +
           std::to_string(r.right - r.left) + " " + std::to_string(r.bottom - r.top);
}

// Whether windows can be made at all (a display).
bool HaveDisplay() {
    HWND probe = CreateWindowExW(0, u"STATIC", u"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                 nullptr, nullptr);
    if (!probe) return false;
    DestroyWindow(probe);
    return true;
}

// ---------------------------------------------------------------- pixels

// A 32-bit top-down bitmap to draw into and read back.
struct Canvas {
    Canvas(int w, int h) : width(w), height(h) {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = w;
        info.bmiHeader.biHeight = -h;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        dc = CreateCompatibleDC(nullptr);
        bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        old = SelectObject(dc, bitmap);
        RECT all{0, 0, w, h};
        FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    }
    ~Canvas() {
        SelectObject(dc, old);
        DeleteObject(bitmap);
        DeleteDC(dc);
    }
    // As a binary PPM file.
    bool Write(const std::string& path) const {
        GdiFlush();
        FILE* f = std::fopen(path.c_str(), "wb");
        if (!f) return false;
        std::fprintf(f, "P6\n%d %d\n255\n", width, height);
        const auto* px = static_cast<const unsigned char*>(bits);
        for (int i = 0; i < width * height; ++i) {
            const unsigned char rgb[3] = {px[4 * i + 2], px[4 * i + 1], px[4 * i]};
            std::fwrite(rgb, 1, 3, f);
        }
        return std::fclose(f) == 0;
    }
    int width, height;
    HDC dc;
    HBITMAP bitmap;
    HGDIOBJ old;
    void* bits = nullptr;
};

// ---------------------------------------------------------------- COM helpers

template <typename T>
T* Query(IUnknown* object, REFIID iid) {
    T* out = nullptr;
    if (!object || FAILED(object->QueryInterface(iid, reinterpret_cast<void**>(&out))))
        return nullptr;
    return out;
}

HRESULT Get(IDispatch* object, DISPID id, VARIANT* out) {
    VariantInit(out);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, out,
                          nullptr, nullptr);
}

HRESULT Put(IDispatch* object, DISPID id, LONG value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = value;
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{&v, &named, 1, 1};
    return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params, nullptr,
                          nullptr, nullptr);
}

LONG GetLong(IDispatch* object, DISPID id) {
    VARIANT v;
    if (FAILED(Get(object, id, &v))) return -1;
    VARIANT l;
    VariantInit(&l);
    LONG out = -1;
    if (SUCCEEDED(VariantChangeType(&l, &v, 0, VT_I4))) out = l.lVal;
    VariantClear(&v);
    return out;
}

HRESULT DllCanUnloadNowOfPinbus() {
    HMODULE module = GetModuleHandleW(u"PINBUS.OCX");
    if (!module) return S_OK;  // unloaded: nothing is held
    using Fn = HRESULT(WINAPI*)();
    auto fn =
        reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
    return fn ? fn() : E_FAIL;
}

// A container's client site and nothing more (no in-place activation, no frame of its own).
class ClientSite : public IOleClientSite {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_IOleClientSite) return E_NOINTERFACE;
        *ppv = static_cast<IOleClientSite*>(this);
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE SaveObject() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker** moniker) override {
        *moniker = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer** container) override {
        *container = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE ShowObject() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() override { return E_NOTIMPL; }
};

// A top-level window of the program's own, plain, at a known place.
constexpr WCHAR kHostClass[] = u"PinbusTestHost";

void RegisterHostClass() {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kHostClass;
    RegisterClassExW(&wc);
}

HWND HostWindow(int x, int y, int w, int h) {
    return CreateWindowExW(0, kHostClass, u"host", WS_POPUP | WS_VISIBLE, x, y, w, h, nullptr,
                           nullptr, GetModuleHandleW(nullptr), nullptr);
}

// ---------------------------------------------------------------- Wine's container

// The control the container at `host` placed: its window must be a child of `host` covering its
// client area, painted with the toolbox picture.
void CheckPlaced(HWND host, int width, int height, const char* how, bool pictures) {
    IUnknown* control = nullptr;
    if (!Check(SUCCEEDED(AtlAxGetControl(host, &control)) && control,
               std::string(how) + ": AtlAxGetControl"))
        return;
    IOleInPlaceObject* inPlace = Query<IOleInPlaceObject>(control, IID_IOleInPlaceObject);
    IOleObject* ole = Query<IOleObject>(control, IID_IOleObject);
    HWND window = nullptr;
    Check(inPlace && inPlace->GetWindow(&window) == S_OK && window,
          std::string(how) + ": the control is active in place with a window of its own");
    if (window) {
        RECT client{};
        GetClientRect(window, &client);
        Check(GetParent(window) == host && IsWindowVisible(window),
              std::string(how) + ": its window is a visible child of the container's");
        Check(SameRect(client, RECT{0, 0, width, height}),
              std::string(how) + ": it covers the container's client area (" + Rect(client) + ")");
    }
    // The container's extent is its own arithmetic on its window's size; the control keeps it.
    SIZEL pixels{width, height}, sent{}, kept{};
    AtlPixelToHiMetric(&pixels, &sent);
    if (ole) ole->GetExtent(DVASPECT_CONTENT, &kept);
    Check(kept.cx == sent.cx && kept.cy == sent.cy,
          std::string(how) + ": the extent is the container's " + std::to_string(sent.cx) + " x " +
              std::to_string(sent.cy) + " (" + std::to_string(kept.cx) + " x " +
              std::to_string(kept.cy) + ")");
    if (window && pictures && !shots.empty()) {
        // The window's own pixels, and the view drawn on a memory device context, for the driver
        // to compare with the native drawing of the same size.
        UpdateWindow(window);
        Pump(0);
        Canvas fromWindow(width, height), fromView(width, height);
        HDC dc = GetDC(window);
        BitBlt(fromWindow.dc, 0, 0, width, height, dc, 0, 0, SRCCOPY);
        ReleaseDC(window, dc);
        Check(fromWindow.Write(shots + "/wine_window.ppm"), "the window's pixels written");
        IViewObject* view = Query<IViewObject>(control, IID_IViewObject);
        const RECTL bounds{0, 0, width, height};
        const HRESULT hr = view ? view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr,
                                             fromView.dc, &bounds, nullptr, nullptr, 0)
                                : E_NOINTERFACE;
        Check(hr == S_OK && fromView.Write(shots + "/wine_view.ppm"),
              "IViewObject::Draw on a memory device context: " + Hex(hr));
        if (view) view->Release();
        Screenshot("container", ScreenRect(window, true), true);
    }
    if (inPlace) inPlace->Release();
    if (ole) ole->Release();
    control->Release();
}

void Container(int width, int height) {
    if (!AtlAxWinInit()) {
        Check(false, "AtlAxWinInit");
        return;
    }
    if (!HaveDisplay()) {
        Say("skip Wine's container: no display to make windows on");
        return;
    }
    RegisterHostClass();
    // By ProgID: an AtlAxWin window inside a plain top-level window.
    HWND top = HostWindow(40, 40, width + 40, height + 40);
    HWND ax = CreateWindowExW(0, u"AtlAxWin", u"PINBUS.PinbusCtrl.1", WS_CHILD | WS_VISIBLE, 20, 20,
                              width, height, top, nullptr, nullptr, nullptr);
    if (Check(ax != nullptr, "AtlAxWin places Pinbus by its ProgID")) {
        CheckPlaced(ax, width, height, "AtlAxWin", true);
        DestroyWindow(top);
        Check(DllCanUnloadNowOfPinbus() == S_OK,
              "closing the container released the control: DllCanUnloadNow S_OK");
    }
    // By CLSID, into a window of the program's own.
    top = HostWindow(40, 40, width + 40, height + 40);
    HWND plain = CreateWindowExW(0, kHostClass, u"", WS_CHILD | WS_VISIBLE, 20, 20, width, height,
                                 top, nullptr, GetModuleHandleW(nullptr), nullptr);
    IUnknown* container = nullptr;
    const HRESULT hr =
        AtlAxCreateControl(u"{6B2F14D3-5C83-11D0-9E41-0040A7B3C250}", plain, nullptr, &container);
    if (Check(hr == S_OK && container,
              "AtlAxCreateControl places Pinbus by its CLSID: " + Hex(hr))) {
        CheckPlaced(plain, width, height, "AtlAxCreateControl", false);
        container->Release();
        DestroyWindow(top);
        Check(DllCanUnloadNowOfPinbus() == S_OK,
              "closing the second container released the control: DllCanUnloadNow S_OK");
    }
}

// ---------------------------------------------------------------- Wine's property frame

struct FrameWatch {
    DWORD thread;   // the thread the frame runs on
    SIZE pageSize;  // what the page's GetPageInfo says
};

BOOL CALLBACK FindDialogOfThread(HWND window, LPARAM p) {
    if (ClassOf(window) == "#32770" && IsWindowVisible(window)) {
        *reinterpret_cast<HWND*>(p) = window;
        return FALSE;
    }
    return TRUE;
}

struct Search {
    std::string cls, text;
    HWND found;
};

BOOL CALLBACK FindChild(HWND window, LPARAM p) {
    auto* s = reinterpret_cast<Search*>(p);
    if (ClassOf(window) == s->cls && (s->text.empty() || Text(window) == s->text)) {
        s->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND Child(HWND parent, const std::string& cls, const std::string& text) {
    Search s{cls, text, nullptr};
    EnumChildWindows(parent, FindChild, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

// The window `find` finds within a minute (polled), or null.
template <typename Find>
HWND WaitFor(Find find) {
    const ULONGLONG deadline = Deadline(60000);
    for (;;) {
        if (HWND found = find()) return found;
        if (GetTickCount64() > deadline) return nullptr;
        Sleep(20);
    }
}

DWORD WINAPI WatchFrame(void* p) {
    auto* watch = static_cast<FrameWatch*>(p);
    HWND frame = WaitFor([&] {
        HWND found = nullptr;
        EnumThreadWindows(watch->thread, FindDialogOfThread, reinterpret_cast<LPARAM>(&found));
        return found;
    });
    if (!Check(frame != nullptr, "the properties verb shows a frame")) return 0;
    Say("ok the frame's caption: " + Text(frame));
    Check(Text(frame).find("Pinbus Control") != std::string::npos,
          "the frame's caption names the control");
    HWND tabs = Child(frame, "SysTabControl32", "");
    WCHAR title[64] = {};
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = title;
    item.cchTextMax = 64;
    const LRESULT count = tabs ? SendMessageW(tabs, TCM_GETITEMCOUNT, 0, 0) : 0;
    if (tabs) SendMessageW(tabs, TCM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    Check(count == 1 && std::u16string(title) == u"General",
          "one tab, \"General\" (" + std::to_string(count) + ", \"" + OleToUtf8(title) + "\")");
    // The page's text, in the page's dialog, a child of the frame's page.
    HWND label = WaitFor([&] { return Child(frame, "Static", "Not implemented!"); });
    if (Check(label != nullptr, "the page holds the static text \"Not implemented!\"")) {
        HWND page = GetParent(label);
        RECT client{}, place{}, size{0, 0, 250, 62}, at{24, 25, 24 + 212, 25 + 16}, labelRect{};
        GetClientRect(page, &client);
        GetClientRect(GetParent(page), &place);
        MapDialogRect(page, &size);
        MapDialogRect(page, &at);
        GetWindowRect(label, &labelRect);
        MapWindowPoints(nullptr, page, reinterpret_cast<POINT*>(&labelRect), 2);
        Check(IsWindowVisible(page) && (GetWindowLongW(page, GWL_STYLE) & WS_CHILD),
              "the page is a visible child dialog");
        // Activate makes the page at the rectangle the frame gives and of its size: Wine's frame
        // gives more than the template asks for, and the page is never cut to the template.
        Check(client.right >= size.right && client.bottom >= size.bottom &&
                  (client.right > size.right || client.bottom > size.bottom),
              "the page takes the rectangle the frame gave, larger than its template's 250 x 62 "
              "units (" +
                  Rect(client) + ", " + Rect(size) + "; the frame's page is " + Rect(place) + ")");
        Check(size.right == watch->pageSize.cx && size.bottom == watch->pageSize.cy,
              "GetPageInfo gave the template's 250 x 62 units in pixels (" +
                  std::to_string(watch->pageSize.cx) + " x " + std::to_string(watch->pageSize.cy) +
                  ", " + Rect(size) + ")");
        Check(SameRect(labelRect, at),
              "the text at its template's place (" + Rect(labelRect) + ")");
    }
    Screenshot("frame", ScreenRect(frame, true), false);
    PostMessageW(frame, PSM_PRESSBUTTON, PSBTN_OK, 0);
    return 0;
}

void Properties() {
    if (!HaveDisplay()) {
        Say("skip Wine's property frame: no display to make windows on");
        return;
    }
    IDispatch* object = nullptr;
    CoCreateInstance(CLSID_Pinbus, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                     reinterpret_cast<void**>(&object));
    IOleObject* ole = Query<IOleObject>(object, IID_IOleObject);
    IPersistStreamInit* persist = Query<IPersistStreamInit>(object, IID_IPersistStreamInit);
    if (!Check(ole && persist, "a placed Pinbus")) return;
    ClientSite site;
    ole->SetClientSite(&site);
    persist->InitNew();
    Put(object, DISPID_DPinbus_Address, 0x2F8);
    Put(object, DISPID_DPinbus_Bits, 16);
    IStream* stream = nullptr;
    CreateStreamOnHGlobal(nullptr, TRUE, &stream);
    persist->Save(stream, TRUE);
    stream->Release();

    FrameWatch watch{GetCurrentThreadId(), {0, 0}};
    IPropertyPage* page = nullptr;
    CoCreateInstance(CLSID_PinbusPropPage, nullptr, CLSCTX_INPROC_SERVER, IID_IPropertyPage,
                     reinterpret_cast<void**>(&page));
    PROPPAGEINFO info{};
    if (page && SUCCEEDED(page->GetPageInfo(&info))) {
        watch.pageSize = info.size;
        CoTaskMemFree(info.pszTitle);
        CoTaskMemFree(info.pszDocString);
        CoTaskMemFree(info.pszHelpFile);
    }
    if (page) page->Release();

    HWND owner = HostWindow(0, 0, 1, 1);
    HANDLE watcher = CreateThread(nullptr, 0, WatchFrame, &watch, 0, nullptr);
    RECT rect{0, 0, 1, 1};
    const HRESULT hr = ole->DoVerb(OLEIVERB_PROPERTIES, nullptr, &site, 0, owner, &rect);
    Check(WaitForSingleObject(watcher, 120000) == WAIT_OBJECT_0, "the frame was looked at");
    CloseHandle(watcher);
    Check(hr == S_OK, "the properties verb returns when the frame closes: " + Hex(hr));
    Check(GetLong(object, DISPID_DPinbus_Address) == 0x2F8 &&
              GetLong(object, DISPID_DPinbus_Bits) == 16,
          "OK leaves Address and Bits as they were");
    Check(persist->IsDirty() == S_FALSE, "OK leaves the control clean (IsDirty S_FALSE)");
    DestroyWindow(owner);
    ole->Close(OLECLOSE_NOSAVE);
    ole->SetClientSite(nullptr);
    persist->Release();
    ole->Release();
    object->Release();
}

// ---------------------------------------------------------------- the About box

struct AboutWatch {
    std::atomic<bool>* inside;  // this process's call is still running (null: another's)
    std::string output;         // another process's output file ("" for this process)
    bool closeWithOk;           // else with the close command
    bool seen = false;
};

std::string ReadFile(const std::string& path) {
    std::string out;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        char buf[512];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) out.append(buf, n);
        std::fclose(f);
    }
    return out;
}

DWORD WINAPI WatchAbout(void* p) {
    auto* watch = static_cast<AboutWatch*>(p);
    // Found once it shows: the dialog is made, then its controls, then it is shown.
    HWND box = WaitFor([] {
        HWND found = FindWindowW(u"#32770", u"About Pinbus Control");
        return found && IsWindowVisible(found) ? found : nullptr;
    });
    if (!Check(box != nullptr, "a window captioned \"About Pinbus Control\"")) return 0;
    watch->seen = true;
    if (watch->inside)
        Check(watch->inside->load(), "AboutBox has not returned while its box is open");
    else
        Check(ReadFile(watch->output).find("after") == std::string::npos,
              "the script waits in AboutBox while its box is open");
    Check(GetWindow(box, GW_OWNER) == nullptr, "the box has no parent");
    Check(Child(box, "Static", "Pinbus Control, Version 1.2") != nullptr,
          "the text \"Pinbus Control, Version 1.2\"");
    HWND ok = GetDlgItem(box, IDOK);
    Check(ok && Text(ok) == "OK" && (GetWindowLongW(ok, GWL_STYLE) & 0xF) == BS_DEFPUSHBUTTON,
          "the default button OK");
    HWND iconControl = nullptr;
    for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        if ((GetWindowLongW(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) iconControl = c;
    const HICON icon = iconControl
                           ? reinterpret_cast<HICON>(SendMessageW(iconControl, STM_GETICON, 0, 0))
                           : nullptr;
    Check(icon != nullptr, "an icon");
    std::string regions = ScreenRect(box, true);
    if (watch->inside) {
        // Within this process the dialog's own units can be asked for.
        RECT client{}, size{0, 0, 200, 95};
        GetClientRect(box, &client);
        MapDialogRect(box, &size);
        Check(SameRect(client, size), "its size is its template's 200 x 95 units (" + Rect(client) +
                                          ", " + Rect(size) + ")");
        ICONINFO iconInfo{};
        BITMAP bmp{};
        if (icon && GetIconInfo(icon, &iconInfo)) {
            GetObjectA(iconInfo.hbmMask, sizeof bmp, &bmp);
            if (iconInfo.hbmColor) DeleteObject(iconInfo.hbmColor);
            DeleteObject(iconInfo.hbmMask);
        }
        Check(bmp.bmWidth == 32, "the icon is ICON 1's 32 x 32 image");
        if (iconControl) regions += " " + ScreenRect(iconControl, true);
    }
    if (watch->closeWithOk && watch->inside) Screenshot("about", regions, false);
    if (watch->closeWithOk)
        PostMessageW(ok, BM_CLICK, 0, 0);
    else
        PostMessageW(box, WM_CLOSE, 0, 0);
    const ULONGLONG deadline = Deadline(60000);
    while (IsWindow(box) && GetTickCount64() < deadline) Sleep(20);
    Check(!IsWindow(box), watch->closeWithOk ? "OK closes it" : "the close command closes it");
    return 0;
}

void About() {
    if (!HaveDisplay()) {
        Say("skip the About box: no display to make windows on");
        return;
    }
    IDispatch* object = nullptr;
    CoCreateInstance(CLSID_Pinbus, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                     reinterpret_cast<void**>(&object));
    IPersistStreamInit* persist = Query<IPersistStreamInit>(object, IID_IPersistStreamInit);
    if (!Check(persist != nullptr, "Pinbus")) return;
    persist->InitNew();
    Put(object, DISPID_DPinbus_Address, 0x2F8);
    for (bool withOk : {true, false}) {
        std::atomic<bool> inside{true};
        AboutWatch watch{&inside, "", withOk};
        HANDLE watcher = CreateThread(nullptr, 0, WatchAbout, &watch, 0, nullptr);
        DISPPARAMS none{nullptr, nullptr, 0, 0};
        const HRESULT hr = object->Invoke(DISPID_DPinbus_AboutBox, IID_NULL, LOCALE_USER_DEFAULT,
                                          DISPATCH_METHOD, &none, nullptr, nullptr, nullptr);
        inside = false;
        WaitForSingleObject(watcher, 120000);
        CloseHandle(watcher);
        Check(hr == S_OK && watch.seen,
              std::string("AboutBox returns S_OK once the box is closed") +
                  (withOk ? " with OK" : " with the close command"));
    }
    Check(GetLong(object, DISPID_DPinbus_Address) == 0x2F8 &&
              GetLong(object, DISPID_DPinbus_Bits) == 8 && persist->IsDirty() == S_OK,
          "AboutBox changes no property");
    persist->Release();
    object->Release();
}

void WatchScript(const std::string& output) {
    AboutWatch watch{nullptr, output, true};
    WatchAbout(&watch);
    const ULONGLONG deadline = Deadline(60000);
    std::string text;
    while ((text = ReadFile(output)).find("after") == std::string::npos &&
           GetTickCount64() < deadline)
        Sleep(20);
    Check(text.find("after AboutBox 2F8 8") != std::string::npos,
          "the script goes on once the box is closed, its properties unchanged");
}

// Without a display: nothing can show, and the calls say so or return at once.
void NoDisplay() {
    if (HaveDisplay()) {
        Say("skip the calls without a display: windows can be made");
        return;
    }
    IDispatch* object = nullptr;
    CoCreateInstance(CLSID_Pinbus, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                     reinterpret_cast<void**>(&object));
    IOleObject* ole = Query<IOleObject>(object, IID_IOleObject);
    if (!Check(ole != nullptr, "Pinbus")) return;
    ClientSite site;
    ole->SetClientSite(&site);
    RECT rect{0, 0, 1, 1};
    const HRESULT hr = ole->DoVerb(OLEIVERB_PROPERTIES, nullptr, &site, 0, nullptr, &rect);
    Check(hr == E_FAIL, "the properties verb fails when no frame can show (" + Hex(hr) + ")");
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    Check(object->Invoke(DISPID_DPinbus_AboutBox, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                         &none, nullptr, nullptr, nullptr) == S_OK,
          "AboutBox returns at once when no box can show");
    ole->Close(OLECLOSE_NOSAVE);
    ole->SetClientSite(nullptr);
    ole->Release();
    object->Release();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::printf(
            "usage: pinbus_ui.exe SHOTS container W H | properties | about | "
            "watch-about OUTPUT\n");
        return 100;
    }
    shots = std::strcmp(argv[1], "-") == 0 ? "" : argv[1];
    const std::string command = argv[2];
    if (FAILED(CoInitialize(nullptr))) {
        Say("FAIL CoInitialize");
        return 100;
    }
    if (command == "container" && argc == 5)
        Container(std::atoi(argv[3]), std::atoi(argv[4]));
    else if (command == "properties")
        Properties();
    else if (command == "about")
        About();
    else if (command == "watch-about" && argc == 4)
        WatchScript(argv[3]);
    else if (command == "no-display")
        NoDisplay();
    else
        Say("FAIL unknown command " + command);
    CoUninitialize();
    Say(std::to_string(failures.load()) + " failures");
    return failures.load();
}
