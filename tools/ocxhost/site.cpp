// ocxhost's site: every call written down, and the answers of a container that places the object
// in a window of its own and shares no menus, tools or status line with it.
#include "tools/ocxhost/site.h"

#include <utility>

#include "platform/com/guid_text.h"

namespace ocxhost {
namespace {

struct SiteInterface {
    const char* name;
    const IID* iid;
};
constexpr SiteInterface kSiteInterfaces[] = {
    {"IOleClientSite", &IID_IOleClientSite},
    {"IOleWindow", &IID_IOleWindow},
    {"IOleInPlaceSite", &IID_IOleInPlaceSite},
    {"IOleInPlaceUIWindow", &IID_IOleInPlaceUIWindow},
    {"IOleInPlaceFrame", &IID_IOleInPlaceFrame},
    {"IOleControlSite", &IID_IOleControlSite},
    {"IDispatch", &IID_IDispatch},
};

}  // namespace

HostSite* HostSite::New(WindowLookup window) { return new HostSite(std::move(window)); }

std::vector<std::string> HostSite::TakeCalls() { return std::exchange(calls_, {}); }

HRESULT HostSite::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IUnknown) {
        std::string name = GuidToString(riid);
        for (const SiteInterface& known : kSiteInterfaces)
            if (riid == *known.iid) name = known.name;
        Note("QueryInterface " + name);
    }
    if (riid == IID_IUnknown || riid == IID_IOleClientSite)
        *ppv = static_cast<IOleClientSite*>(this);
    else if (riid == IID_IOleWindow || riid == IID_IOleInPlaceSite)
        *ppv = static_cast<IOleInPlaceSite*>(this);
    else if (riid == IID_IOleInPlaceUIWindow || riid == IID_IOleInPlaceFrame)
        *ppv = static_cast<IOleInPlaceFrame*>(this);
    else if (riid == IID_IOleControlSite)
        *ppv = static_cast<IOleControlSite*>(this);
    if (!*ppv) return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

ULONG HostSite::Release() {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
}

// ---------------------------------------------------------------- IOleClientSite

// ocxhost keeps no document: the object's state is saved when the user says `save`.
HRESULT HostSite::SaveObject() {
    Note("SaveObject");
    return S_OK;
}

HRESULT HostSite::GetMoniker(DWORD, DWORD, IMoniker** ppmk) {
    Note("GetMoniker");
    if (ppmk) *ppmk = nullptr;
    return E_NOTIMPL;
}

HRESULT HostSite::GetContainer(IOleContainer** ppContainer) {
    Note("GetContainer");
    if (ppContainer) *ppContainer = nullptr;
    return E_NOINTERFACE;
}

HRESULT HostSite::ShowObject() {
    Note("ShowObject");
    return S_OK;
}

HRESULT HostSite::OnShowWindow(BOOL fShow) {
    Note(fShow ? "OnShowWindow TRUE" : "OnShowWindow FALSE");
    return S_OK;
}

HRESULT HostSite::RequestNewObjectLayout() {
    Note("RequestNewObjectLayout");
    return E_NOTIMPL;
}

// ---------------------------------------------------------------- IOleWindow, IOleInPlaceSite

HRESULT HostSite::GetWindow(HWND* phwnd) {
    Note("GetWindow");
    if (!phwnd) return E_POINTER;
    RECT position{};
    *phwnd = window_ ? window_(&position) : nullptr;
    return *phwnd ? S_OK : E_FAIL;
}

HRESULT HostSite::ContextSensitiveHelp(BOOL) {
    Note("ContextSensitiveHelp");
    return E_NOTIMPL;
}

// In place only where there is a window to be in.
HRESULT HostSite::CanInPlaceActivate() {
    Note("CanInPlaceActivate");
    RECT position{};
    return window_ && window_(&position) ? S_OK : S_FALSE;
}

HRESULT HostSite::OnInPlaceActivate() {
    Note("OnInPlaceActivate");
    return S_OK;
}

HRESULT HostSite::OnUIActivate() {
    Note("OnUIActivate");
    return S_OK;
}

HRESULT HostSite::GetWindowContext(IOleInPlaceFrame** ppFrame, IOleInPlaceUIWindow** ppDoc,
                                   LPRECT lprcPosRect, LPRECT lprcClipRect,
                                   LPOLEINPLACEFRAMEINFO lpFrameInfo) {
    Note("GetWindowContext");
    if (ppFrame) *ppFrame = nullptr;
    if (ppDoc) *ppDoc = nullptr;
    if (!ppFrame || !ppDoc || !lprcPosRect || !lprcClipRect || !lpFrameInfo) return E_POINTER;
    RECT position{};
    const HWND window = window_ ? window_(&position) : nullptr;
    if (!window) return E_FAIL;
    *lprcPosRect = position;
    *lprcClipRect = position;
    // The frame is ocxhost's window itself; there is no document window apart from it.
    *ppFrame = static_cast<IOleInPlaceFrame*>(this);
    AddRef();
    lpFrameInfo->fMDIApp = FALSE;
    lpFrameInfo->hwndFrame = window;
    lpFrameInfo->haccel = nullptr;
    lpFrameInfo->cAccelEntries = 0;
    return S_OK;
}

HRESULT HostSite::Scroll(SIZE) {
    Note("Scroll");
    return E_NOTIMPL;
}

HRESULT HostSite::OnUIDeactivate(BOOL) {
    Note("OnUIDeactivate");
    return S_OK;
}

HRESULT HostSite::OnInPlaceDeactivate() {
    Note("OnInPlaceDeactivate");
    return S_OK;
}

HRESULT HostSite::DiscardUndoState() {
    Note("DiscardUndoState");
    return S_OK;
}

HRESULT HostSite::DeactivateAndUndo() {
    Note("DeactivateAndUndo");
    return S_OK;
}

HRESULT HostSite::OnPosRectChange(LPCRECT) {
    Note("OnPosRectChange");
    return S_OK;
}

// ---------------------------------------------------------------- the frame

HRESULT HostSite::GetBorder(LPRECT) {
    Note("GetBorder");
    return E_NOTIMPL;
}

HRESULT HostSite::RequestBorderSpace(LPCRECT) {
    Note("RequestBorderSpace");
    return E_NOTIMPL;
}

HRESULT HostSite::SetBorderSpace(LPCRECT) {
    Note("SetBorderSpace");
    return E_NOTIMPL;
}

HRESULT HostSite::SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) {
    Note("SetActiveObject");
    return S_OK;
}

HRESULT HostSite::InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) {
    Note("InsertMenus");
    return E_NOTIMPL;
}

HRESULT HostSite::SetMenu(HMENU, HOLEMENU, HWND) {
    Note("SetMenu");
    return E_NOTIMPL;
}

HRESULT HostSite::RemoveMenus(HMENU) {
    Note("RemoveMenus");
    return E_NOTIMPL;
}

HRESULT HostSite::SetStatusText(LPCOLESTR) {
    Note("SetStatusText");
    return E_NOTIMPL;
}

HRESULT HostSite::EnableModeless(BOOL) {
    Note("EnableModeless");
    return S_OK;
}

HRESULT HostSite::TranslateAccelerator(LPMSG, WORD) {
    Note("TranslateAccelerator");
    return S_FALSE;
}

// ---------------------------------------------------------------- IOleControlSite

HRESULT HostSite::OnControlInfoChanged() {
    Note("OnControlInfoChanged");
    return S_OK;
}

HRESULT HostSite::LockInPlaceActive(BOOL) {
    Note("LockInPlaceActive");
    return S_OK;
}

HRESULT HostSite::GetExtendedControl(IDispatch** ppDisp) {
    Note("GetExtendedControl");
    if (ppDisp) *ppDisp = nullptr;
    return E_NOTIMPL;
}

HRESULT HostSite::TransformCoords(POINTL*, POINTF*, DWORD) {
    Note("TransformCoords");
    return E_NOTIMPL;
}

HRESULT HostSite::TranslateAccelerator(MSG*, DWORD) {
    Note("TranslateAccelerator");
    return S_FALSE;
}

HRESULT HostSite::OnFocus(BOOL) {
    Note("OnFocus");
    return S_OK;
}

// The control shows its own frame.
HRESULT HostSite::ShowPropertyFrame() {
    Note("ShowPropertyFrame");
    return E_NOTIMPL;
}

}  // namespace ocxhost
