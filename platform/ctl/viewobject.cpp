// COleControl's view (drawing onto a container's device context, the view's advise sink) and
// its property pages with the properties verb.
#include <cstring>
#include <memory>

#include "platform/com/com_exception.h"
#include "platform/com/combase.h"
#include "platform/com/olectl.h"
#include "platform/com/utf.h"
#include "platform/ctl/control_ui.h"
#include "platform/ctl/olecontrol.h"

// ---------------------------------------------------------------- drawing

void COleControl::OnDraw(CDC*, const RECT&, const RECT&) {}

// The content aspect only, whole (lindex -1), within the bounds given; pvAspect, the target
// device and the continue callback change nothing in a drawing this small.
HRESULT COleControl::Draw(DWORD dwDrawAspect, LONG lindex, void*, DVTARGETDEVICE*, HDC, HDC hdcDraw,
                          LPCRECTL lprcBounds, LPCRECTL lprcWBounds,
                          BOOL(STDMETHODCALLTYPE*)(ULONG_PTR), ULONG_PTR) {
    if (dwDrawAspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (lindex != -1) return DV_E_LINDEX;
    if (!hdcDraw || !lprcBounds) return E_INVALIDARG;
    try {
        const RECT bounds{lprcBounds->left, lprcBounds->top, lprcBounds->right, lprcBounds->bottom};
        // Only a metafile target comes with the metafile's window bounds.
        CDC dc(hdcDraw, lprcWBounds != nullptr);
        return ctl::TheControlUi().DrawOn(hdcDraw, [&] { OnDraw(&dc, bounds, bounds); });
    } catch (...) {
        return HresultFromCurrentException();
    }
}

// No palette of its own: the set of colours is empty. As for every method of the view that takes
// an lindex, the content aspect's only valid one is -1 (the whole object).
HRESULT COleControl::GetColorSet(DWORD, LONG lindex, void*, DVTARGETDEVICE*, HDC,
                                 LOGPALETTE** ppColorSet) {
    if (lindex != -1) return DV_E_LINDEX;
    if (!ppColorSet) return E_POINTER;
    *ppColorSet = nullptr;
    return S_FALSE;
}

HRESULT COleControl::Freeze(DWORD, LONG lindex, void*, DWORD* pdwFreeze) {
    if (pdwFreeze) *pdwFreeze = 0;
    if (lindex != -1) return DV_E_LINDEX;
    return E_NOTIMPL;
}

HRESULT COleControl::Unfreeze(DWORD) { return E_NOTIMPL; }

HRESULT COleControl::SetAdvise(DWORD aspects, DWORD advf, IAdviseSink* pAdvSink) {
    m_pViewAdviseSink = pAdvSink;
    m_dwViewAdviseAspects = aspects;
    m_dwViewAdviseFlags = advf;
    if (pAdvSink && (advf & ADVF_PRIMEFIRST)) SendViewChange();
    return S_OK;
}

HRESULT COleControl::GetAdvise(DWORD* pAspects, DWORD* pAdvf, IAdviseSink** ppAdvSink) {
    if (pAspects) *pAspects = m_dwViewAdviseAspects;
    if (pAdvf) *pAdvf = m_dwViewAdviseFlags;
    if (ppAdvSink) {
        *ppAdvSink = m_pViewAdviseSink.Get();
        if (*ppAdvSink) (*ppAdvSink)->AddRef();
    }
    return S_OK;
}

void COleControl::SendViewChange() {
    if (!m_pViewAdviseSink || !(m_dwViewAdviseAspects & DVASPECT_CONTENT)) return;
    // Taken first: the sink may set another (or none) while it is told.
    ComPtr<IAdviseSink> sink = m_pViewAdviseSink;
    if (m_dwViewAdviseFlags & ADVF_ONLYONCE) m_pViewAdviseSink.Reset();
    sink->OnViewChange(DVASPECT_CONTENT, -1);
}

HRESULT COleControl::GetExtent(DWORD dwDrawAspect, LONG lindex, DVTARGETDEVICE*, LPSIZEL lpsizel) {
    if (lindex != -1) return DV_E_LINDEX;
    return GetExtent(dwDrawAspect, lpsizel);
}

// ---------------------------------------------------------------- property pages

const CLSID* COleControl::GetPropPageIDs(ULONG* count) {
    *count = 0;
    return nullptr;
}

HRESULT COleControl::GetPages(CAUUID* pPages) {
    if (!pPages) return E_POINTER;
    pPages->cElems = 0;
    pPages->pElems = nullptr;
    ULONG count = 0;
    const CLSID* ids = GetPropPageIDs(&count);
    if (count == 0) return S_OK;
    auto* elems = static_cast<GUID*>(CoTaskMemAlloc(count * sizeof(GUID)));
    if (!elems) return E_OUTOFMEMORY;
    std::memcpy(elems, ids, count * sizeof(GUID));
    pPages->cElems = count;
    pPages->pElems = elems;
    return S_OK;
}

BOOL COleControl::OnProperties(LPMSG, HWND hWndParent, LPCRECT) {
    // A container with a frame of its own (with its extended properties) shows that one.
    ComPtr<IOleControlSite> controlSite;
    if (m_pClientSite &&
        SUCCEEDED(m_pClientSite.As(IID_IOleControlSite, std::addressof(controlSite))) &&
        controlSite && controlSite->ShowPropertyFrame() == S_OK)
        return TRUE;
    // Where the control can show nothing, neither can the frame its pages would sit in.
    if (!ctl::TheControlUi().HaveDialogs()) return FALSE;
    ULONG count = 0;
    const CLSID* ids = GetPropPageIDs(&count);
    if (count == 0) return FALSE;
    std::string name;
    if (!AfxLoadString(GetInstanceHandle(), GetUserTypeNameID(), &name)) name = "Control";
    const std::u16string caption = Utf8ToOle(name);
    IUnknown* self = GetControllingUnknown();
    const HRESULT hr =
        OleCreatePropertyFrame(ContainerWindow(hWndParent), 0, 0, caption.c_str(), 1, &self, count,
                               const_cast<CLSID*>(ids), LOCALE_USER_DEFAULT, 0, nullptr);
    return SUCCEEDED(hr) ? TRUE : FALSE;
}
