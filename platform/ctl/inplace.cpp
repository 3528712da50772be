// COleControl in place: its own window, a child of the container's window the in-place site
// names, at the rectangle the site gives; the active object of the container's frame and
// document window while its user interface is active (IOleInPlaceActiveObject); and IOleControl
// (no mnemonics, ambient changes, frozen events).
#include <memory>

#include "platform/com/com_exception.h"
#include "platform/ctl/control_ui.h"
#include "platform/ctl/olecontrol.h"

// The site is asked in the platform's order: CanInPlaceActivate, OnInPlaceActivate, GetWindow,
// GetWindowContext; then the window is made. A site that will not have the control active now
// (CanInPlaceActivate S_FALSE) leaves the verb undone: OLEOBJ_S_CANNOT_DOVERB_NOW. Without a
// client site (SetClientSite never called) there is no container to be active in: E_UNEXPECTED,
// the platform's code for a call the object's state does not allow (DoVerb's documentation names
// none of its own for this case).
HRESULT COleControl::OnActivateInPlace(BOOL bUIActivate) {
    if (!m_pClientSite) return E_UNEXPECTED;
    if (!m_bInPlaceActive) {
        ComPtr<IOleInPlaceSite> site;
        HRESULT hr = m_pClientSite.As(IID_IOleInPlaceSite, std::addressof(site));
        if (FAILED(hr) || !site) return E_NOINTERFACE;
        hr = site->CanInPlaceActivate();
        if (FAILED(hr)) return hr;
        if (hr != S_OK) return OLEOBJ_S_CANNOT_DOVERB_NOW;
        if (FAILED(hr = site->OnInPlaceActivate())) return hr;
        HWND parent = nullptr;
        RECT pos{}, clip{};
        OLEINPLACEFRAMEINFO frameInfo{};
        frameInfo.cb = sizeof frameInfo;
        ComPtr<IOleInPlaceFrame> frame;
        ComPtr<IOleInPlaceUIWindow> document;
        hr = site->GetWindow(&parent);
        if (SUCCEEDED(hr)) hr = site->GetWindowContext(&frame, &document, &pos, &clip, &frameInfo);
        if (SUCCEEDED(hr)) {
            hr = ctl::TheControlUi().CreateControlWindow(
                parent, pos, [this](CDC* dc, const RECT& bounds) { OnDraw(dc, bounds, bounds); },
                &m_pWnd);
        }
        if (FAILED(hr)) {
            site->OnInPlaceDeactivate();
            return hr;
        }
        m_pInPlaceSite = site;
        m_pInPlaceFrame = frame;
        m_pInPlaceDocument = document;
        m_bInPlaceActive = true;
    } else if (m_pWnd) {
        m_pWnd->Show(true);  // after OLEIVERB_HIDE
    }
    // The site hears first, then the frame and the document window get the active object.
    if (bUIActivate && !m_bUIActive) {
        m_bUIActive = true;
        m_pInPlaceSite->OnUIActivate();
        SetActiveObjectOnWindows(this);
    }
    return S_OK;
}

void COleControl::SetActiveObjectOnWindows(IOleInPlaceActiveObject* active) {
    // Held while they are told: either may call back into the control.
    ComPtr<IOleInPlaceFrame> frame = m_pInPlaceFrame;
    ComPtr<IOleInPlaceUIWindow> document = m_pInPlaceDocument;
    if (active) {
        if (frame) frame->SetActiveObject(active, nullptr);
        if (document) document->SetActiveObject(active, nullptr);
    } else {
        if (document) document->SetActiveObject(nullptr, nullptr);
        if (frame) frame->SetActiveObject(nullptr, nullptr);
    }
}

HWND COleControl::ContainerWindow(HWND fallback) const {
    HWND window = nullptr;
    if (m_pInPlaceSite && SUCCEEDED(m_pInPlaceSite->GetWindow(&window)) && window) return window;
    ComPtr<IOleInPlaceSite> site;
    if (m_pClientSite && SUCCEEDED(m_pClientSite.As(IID_IOleInPlaceSite, std::addressof(site))) &&
        site && SUCCEEDED(site->GetWindow(&window)) && window)
        return window;
    return fallback;
}

// ---------------------------------------------------------------- IOleInPlaceObject

HRESULT COleControl::GetWindow(HWND* phwnd) {
    if (!phwnd) return E_POINTER;
    *phwnd = m_pWnd ? m_pWnd->Handle() : nullptr;
    return *phwnd ? S_OK : E_FAIL;
}

HRESULT COleControl::ContextSensitiveHelp(BOOL) { return E_NOTIMPL; }

HRESULT COleControl::InPlaceDeactivate() {
    if (!m_bInPlaceActive) return S_OK;
    UIDeactivate();
    m_bInPlaceActive = false;
    m_pWnd.reset();
    m_pInPlaceFrame.Reset();
    m_pInPlaceDocument.Reset();
    // Taken first: the site may call back into the control while it is told.
    ComPtr<IOleInPlaceSite> site = std::move(m_pInPlaceSite);
    site->OnInPlaceDeactivate();
    return S_OK;
}

HRESULT COleControl::UIDeactivate() {
    if (!m_bUIActive) return S_OK;
    m_bUIActive = false;
    // The windows let the control go before the site hears, in the reverse order of activation.
    SetActiveObjectOnWindows(nullptr);
    if (m_pInPlaceSite) m_pInPlaceSite->OnUIDeactivate(FALSE);
    return S_OK;
}

// The clip rectangle needs nothing: the container's window clips its child.
HRESULT COleControl::SetObjectRects(LPCRECT lprcPosRect, LPCRECT) {
    if (!lprcPosRect) return E_POINTER;
    if (m_pWnd) m_pWnd->Move(*lprcPosRect);
    return S_OK;
}

HRESULT COleControl::ReactivateAndUndo() { return INPLACE_E_NOTUNDOABLE; }

// ---------------------------------------------------------------- IOleInPlaceActiveObject

// No accelerators of its own: every keystroke goes on to the container.
HRESULT COleControl::TranslateAccelerator(LPMSG lpmsg) { return lpmsg ? S_FALSE : E_INVALIDARG; }

HRESULT COleControl::OnFrameWindowActivate(BOOL) { return S_OK; }

HRESULT COleControl::OnDocWindowActivate(BOOL) { return S_OK; }

// No toolbars: the control asks for no border space.
HRESULT COleControl::ResizeBorder(LPCRECT prcBorder, IOleInPlaceUIWindow* pUIWindow, BOOL) {
    return prcBorder && pUIWindow ? S_OK : E_INVALIDARG;
}

// The control shows no modeless windows of its own.
HRESULT COleControl::EnableModeless(BOOL) { return S_OK; }

// ---------------------------------------------------------------- IOleControl

HRESULT COleControl::GetControlInfo(CONTROLINFO* pCI) {
    if (!pCI) return E_POINTER;
    pCI->cb = sizeof(CONTROLINFO);
    pCI->hAccel = nullptr;
    pCI->cAccel = 0;
    pCI->dwFlags = 0;
    return S_OK;
}

// With no mnemonics there is nothing a container should hand on.
HRESULT COleControl::OnMnemonic(MSG*) { return E_NOTIMPL; }

HRESULT COleControl::OnAmbientPropertyChange(DISPID) { return S_OK; }

HRESULT COleControl::FreezeEvents(BOOL bFreeze) {
    if (bFreeze)
        ++m_nFreezeEvents;
    else if (m_nFreezeEvents > 0)
        --m_nFreezeEvents;
    return S_OK;
}
