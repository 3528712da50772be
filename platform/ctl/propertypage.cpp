#include "platform/ctl/propertypage.h"

#include "platform/com/com_exception.h"
#include "platform/com/combase.h"
#include "platform/ctl/control_ui.h"
#include "platform/ctl/dialogs.h"

COlePropertyPage::COlePropertyPage(std::uint16_t idTemplate, std::uint16_t idCaption)
    : m_idTemplate(idTemplate), m_idCaption(idCaption) {}

COlePropertyPage::~COlePropertyPage() { SetObjects(0, nullptr); }

IUnknown* COlePropertyPage::GetControllingUnknown() { return static_cast<IPropertyPage*>(this); }

void* COlePropertyPage::GetInterface(REFIID riid) {
    if (riid == IID_IPropertyPage) return static_cast<IPropertyPage*>(this);
    return nullptr;
}

HRESULT COlePropertyPage::SetPageSite(IPropertyPageSite* pPageSite) {
    m_pPageSite = pPageSite;
    return S_OK;
}

HRESULT COlePropertyPage::Activate(HWND hWndParent, LPCRECT pRect, BOOL) {
    if (!pRect) return E_POINTER;
    if (m_pWnd) return E_UNEXPECTED;
    try {
        std::unique_ptr<ctl::Window> window;
        HRESULT hr = ctl::TheControlUi().CreateModuleChildDialog(
            hWndParent, *pRect, m_pModuleState->m_hCurrentInstanceHandle, m_idTemplate, &window);
        if (FAILED(hr)) return hr;
        m_pWnd = std::move(window);
        // The page's controls take the objects' values.
        CDataExchange dx(this, FALSE);
        DoDataExchange(&dx);
        return S_OK;
    } catch (...) {
        m_pWnd.reset();
        return HresultFromCurrentException();
    }
}

// A page that was never activated has nothing to take down.
HRESULT COlePropertyPage::Deactivate() {
    m_pWnd.reset();
    return S_OK;
}

HRESULT COlePropertyPage::GetPageInfo(PROPPAGEINFO* pPageInfo) {
    if (!pPageInfo) return E_POINTER;
    *pPageInfo = PROPPAGEINFO{};
    pPageInfo->cb = sizeof(PROPPAGEINFO);
    try {
        HINSTANCE instance = m_pModuleState->m_hCurrentInstanceHandle;
        DialogTemplate dialog;
        if (!ctl::LoadModuleDialogTemplate(instance, m_idTemplate, &dialog)) return E_FAIL;
        const SIZE size = ctl::TheControlUi().DialogSize(dialog);
        if (HRESULT hr = AfxLoadTaskString(instance, m_idCaption, &pPageInfo->pszTitle); FAILED(hr))
            return hr;
        pPageInfo->size = size;
        return S_OK;
    } catch (...) {
        CoTaskMemFree(pPageInfo->pszTitle);
        pPageInfo->pszTitle = nullptr;
        return HresultFromCurrentException();
    }
}

HRESULT COlePropertyPage::SetObjects(ULONG cObjects, IUnknown** ppUnk) {
    if (cObjects && !ppUnk) return E_POINTER;
    for (IUnknown* o : m_objects) o->Release();
    m_objects.clear();
    try {
        m_objects.reserve(cObjects);
    } catch (...) {
        return HresultFromCurrentException();
    }
    for (ULONG i = 0; i < cObjects; ++i) {
        if (!ppUnk[i]) continue;
        ppUnk[i]->AddRef();
        m_objects.push_back(ppUnk[i]);
    }
    return S_OK;
}

HRESULT COlePropertyPage::Show(UINT nCmdShow) {
    if (!m_pWnd) return E_UNEXPECTED;
    m_pWnd->Show(nCmdShow != SW_HIDE);
    return S_OK;
}

HRESULT COlePropertyPage::Move(LPCRECT pRect) {
    if (!pRect) return E_POINTER;
    if (!m_pWnd) return E_UNEXPECTED;
    m_pWnd->Move(*pRect);
    return S_OK;
}

HRESULT COlePropertyPage::IsPageDirty() { return m_bDirty ? S_OK : S_FALSE; }

HRESULT COlePropertyPage::Apply() {
    try {
        CDataExchange dx(this, TRUE);
        DoDataExchange(&dx);
    } catch (...) {
        return HresultFromCurrentException();
    }
    m_bDirty = false;
    return S_OK;
}

// The page has no help file.
HRESULT COlePropertyPage::Help(LPCOLESTR) { return E_NOTIMPL; }

// The page's dialog has no accelerators: the message is not the page's.
HRESULT COlePropertyPage::TranslateAccelerator(MSG* pMsg) {
    if (!pMsg) return E_POINTER;
    return S_FALSE;
}

void COlePropertyPage::SetModifiedFlag(BOOL bModified) {
    m_bDirty = bModified != FALSE;
    if (m_pPageSite)
        m_pPageSite->OnStatusChange(m_bDirty ? PROPPAGESTATUS_DIRTY | PROPPAGESTATUS_VALIDATE
                                             : PROPPAGESTATUS_CLEAN);
}

void COlePropertyPage::DoDataExchange(CDataExchange* pDX) { DDP_PostProcessing(pDX); }

void DDP_PostProcessing(CDataExchange*) {
    // No DDP_ control binding exists in this framework yet, so nothing is ever pending.
}
