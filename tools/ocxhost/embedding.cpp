// Embedding: what a form asks a control before it places it (its status bits, verbs and
// property pages), the properties verb, and in-place activation in ocxhost's own window, all
// through the platform's embedding interfaces (IOleObject, ISpecifyPropertyPages,
// IOleInPlaceObject).
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/com/com_holders.h"
#include "platform/com/guid_text.h"
#include "platform/com/ocidl.h"
#include "platform/com/registry.h"
#include "platform/com/utf.h"
#include "platform/com/variant_format.h"
#include "tools/ocxhost/host.h"

namespace ocxhost {

std::string Host::StatusLine(const char* source, DWORD value) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08x", static_cast<unsigned>(value));
    return std::string(source) + " " + std::to_string(value) + " " + hex;
}

// CLSID\{...}\MiscStatus: the content aspect's own subkey "1", else the default value.
bool Host::RegistryMiscStatus(DWORD* status) const {
    std::string base = "CLSID\\" + GuidToString(clsid_) + "\\MiscStatus";
    for (const std::string& path : {base + "\\1", base}) {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
            continue;
        char text[64] = {};
        DWORD size = sizeof text - 1, type = 0;
        LSTATUS st =
            RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
        RegCloseKey(key);
        LONG value = 0;
        if (st == ERROR_SUCCESS && type == REG_SZ && ParseInt32(Trim(text), &value)) {
            *status = static_cast<DWORD>(value);
            return true;
        }
    }
    return false;
}

Outcome Host::Misc(const std::string& rest) {
    if (auto c = NoArguments(rest); !c) return c.error();
    if (auto c = NeedObject(); !c) return c.error();
    std::string out;
    DWORD status = 0;
    if (RegistryMiscStatus(&status)) out = StatusLine("registry", status);
    if (ole_) {
        HRESULT hr = ole_->GetMiscStatus(DVASPECT_CONTENT, &status);
        if (!out.empty()) out += "\n";
        out += FAILED(hr) ? Error(hr).message : StatusLine("object", status);
    }
    if (out.empty()) return Refuse("no MiscStatus for " + GuidToString(clsid_));
    return out;
}

Check Host::NeedOleObject() const {
    if (auto c = NeedObject(); !c) return c;
    if (ole_) return {};
    return Error(E_NOINTERFACE, "the object is no OLE object (IOleObject)");
}

Outcome Host::Verbs(const std::string& rest) {
    if (auto c = NoArguments(rest); !c) return c.error();
    if (auto c = NeedOleObject(); !c) return c.error();
    ComPtr<IEnumOLEVERB> verbs;
    if (HRESULT hr = ole_->EnumVerbs(&verbs); FAILED(hr) || !verbs)
        return Error(FAILED(hr) ? hr : E_UNEXPECTED);
    std::string out;
    // One at a time, so that a verb the enumerator fails on is said and the rest still listed.
    for (;;) {
        OLEVERB verb{};
        ULONG fetched = 0;
        HRESULT hr = verbs->Next(1, &verb, &fetched);
        if (FAILED(hr)) {
            out += (out.empty() ? "" : "\n") + Error(hr).message;
            break;
        }
        if (fetched == 0) break;
        char head[48];
        std::snprintf(head, sizeof head, "%ld 0x%08x ", static_cast<long>(verb.lVerb),
                      static_cast<unsigned>(verb.grfAttribs));
        out += (out.empty() ? "" : "\n") + std::string(head) +
               (verb.lpszVerbName ? OleToUtf8(verb.lpszVerbName) : std::string());
        CoTaskMemFree(verb.lpszVerbName);
    }
    return out.empty() ? std::string("no verbs") : out;
}

Outcome Host::Pages(const std::string& rest) {
    if (auto c = NoArguments(rest); !c) return c.error();
    if (auto c = NeedObject(); !c) return c.error();
    ComPtr<ISpecifyPropertyPages> specify;
    if (HRESULT hr = object_.As(IID_ISpecifyPropertyPages, std::addressof(specify)); FAILED(hr))
        return Error(hr, "the object specifies no property pages");
    CAUUID pages{0, nullptr};
    if (HRESULT hr = specify->GetPages(&pages); FAILED(hr)) return Error(hr);
    std::string out;
    for (ULONG i = 0; i < pages.cElems && pages.pElems; ++i)
        out += (out.empty() ? "" : "\n") + GuidToString(pages.pElems[i]);
    CoTaskMemFree(pages.pElems);
    return out.empty() ? std::string("no pages") : out;
}

Outcome Host::Properties(const std::string& rest) {
    if (auto c = NoArguments(rest); !c) return c.error();
    if (auto c = NeedOleObject(); !c) return c.error();
    RECT position{};
    const HWND window = ObjectWindow(&position);
    HRESULT hr = ole_->DoVerb(OLEIVERB_PROPERTIES, nullptr, site_.Get(), 0, window,
                              window ? &position : nullptr);
    if (FAILED(hr)) return Error(hr);
    return std::string(hr == S_OK ? "S_OK" : "S_FALSE");
}

namespace {

// The object's extent in pixels at 96 per inch, from HIMETRIC.
RECT ExtentInPixels(IOleObject* ole) {
    SIZEL extent{0, 0};
    if (ole) ole->GetExtent(DVASPECT_CONTENT, &extent);
    const auto pixels = [](LONG himetric) {
        return static_cast<LONG>((static_cast<long long>(himetric) * 96 + 1270) / 2540);
    };
    return RECT{0, 0, pixels(extent.cx), pixels(extent.cy)};
}

}  // namespace

HWND Host::ObjectWindow(RECT* position) const {
    if (!window_) return nullptr;
    *position = ExtentInPixels(ole_.Get());
    return window_->Handle();
}

Outcome Host::Activate(const std::string& rest) {
    if (auto c = NoArguments(rest); !c) return c.error();
    if (auto c = NeedOleObject(); !c) return c.error();
    if (!window_) {
        const RECT extent = ExtentInPixels(ole_.Get());
        window_ =
            HostWindow::Create(std::max<LONG>(extent.right, 1), std::max<LONG>(extent.bottom, 1));
        if (!window_) return Refuse("no window to activate the object in (no display)");
    }
    RECT position{};
    const HWND window = ObjectWindow(&position);
    const HRESULT hr =
        ole_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site_.Get(), 0, window, &position);
    window_->ProcessEvents();
    if (FAILED(hr)) return Error(hr);
    return hr == S_OK ? std::string("S_OK") : HresultToString(hr);
}

Outcome Host::Deactivate(const std::string& rest) {
    if (auto c = NoArguments(rest); !c) return c.error();
    if (auto c = NeedObject(); !c) return c.error();
    ComPtr<IOleInPlaceObject> inPlace;
    if (HRESULT hr = object_.As(IID_IOleInPlaceObject, std::addressof(inPlace)); FAILED(hr))
        return Error(hr, "the object cannot be active in place");
    const HRESULT hr = inPlace->InPlaceDeactivate();
    if (window_) window_->ProcessEvents();
    if (FAILED(hr)) return Error(hr);
    return std::string("S_OK");
}

Outcome Host::SiteCalls(const std::string& rest) {
    if (auto c = NoArguments(rest); !c) return c.error();
    if (auto c = NeedOleObject(); !c) return c.error();
    std::string out;
    for (const std::string& call : site_->TakeCalls()) out += (out.empty() ? "" : "\n") + call;
    return out.empty() ? std::string("no calls") : out;
}

Outcome Host::QuickActivate(const std::string& rest) {
    if (auto c = NoArguments(rest); !c) return c.error();
    if (auto c = NeedObject(); !c) return c.error();
    ComPtr<IQuickActivate> quick;
    HRESULT hr = object_.As(IID_IQuickActivate, std::addressof(quick));
    if (FAILED(hr)) return Error(hr, "the object has no quick activation");
    QACONTAINER container{};
    container.cbSize = sizeof container;
    container.pClientSite = site_.Get();
    container.pUnkEventSink = &sink_;
    QACONTROL control{};
    control.cbSize = sizeof control;
    if (FAILED(hr = quick->QuickActivate(&container, &control))) return Error(hr);
    sitePending_ = false;  // the object has its site now
    if (control.dwEventCookie) cookies_.push_back(control.dwEventCookie);
    char line[160];
    std::snprintf(line, sizeof line, "misc 0x%08x view 0x%08x eventcookie %u propnotifycookie %u",
                  static_cast<unsigned>(control.dwMiscStatus),
                  static_cast<unsigned>(control.dwViewStatus),
                  static_cast<unsigned>(control.dwEventCookie),
                  static_cast<unsigned>(control.dwPropNotifyCookie));
    return std::string(line);
}

Outcome Host::Draw(const std::string& rest) {
    if (auto c = NeedObject(); !c) return c.error();
    std::string sizes;
    const std::string path = FirstWord(rest, &sizes);
    std::string heightText;
    const std::string widthText = FirstWord(sizes, &heightText);
    LONG width = 0, height = 0;
    if (path.empty() ||
        (!sizes.empty() && (!ParseInt32(widthText, &width) || !ParseInt32(heightText, &height))))
        return Refuse("draw needs FILE [WIDTH HEIGHT]");
    if (sizes.empty()) {
        const RECT extent = ExtentInPixels(ole_.Get());
        width = extent.right;
        height = extent.bottom;
    }
    // A picture of any size a screen shows, and no more.
    if (width < 1 || height < 1 || width > 4096 || height > 4096)
        return Refuse("the picture's size must be 1 to 4096 pixels each way");
    ComPtr<IViewObject> view;
    if (HRESULT hr = object_.As(IID_IViewObject, std::addressof(view)); FAILED(hr))
        return Error(hr, "the object has no view");
    std::string why;
    if (HRESULT hr = HostWindow::DrawToFile(view.Get(), width, height, path, &why); FAILED(hr))
        return Error(hr, why);
    return std::string("S_OK");
}

}  // namespace ocxhost
