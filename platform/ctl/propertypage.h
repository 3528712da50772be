// COlePropertyPage: a property page built from a dialog template and a caption string of its
// module. A property frame (OleCreatePropertyFrame) creates it by its class identity and drives
// it through IPropertyPage: it gives the page its site and the objects it edits, asks for its
// info (the caption as title, the template's size in pixels), activates it as a child dialog of
// one of the frame's windows, shows, moves and hides it, applies it on OK and Apply, and
// deactivates it when the frame closes.
#pragma once

#include <memory>
#include <vector>

#include "platform/com/ocidl.h"
#include "platform/ctl/cmdtarget.h"

namespace ctl {
class Window;
}

class COlePropertyPage;

// The direction and target of a page's data exchange.
class CDataExchange {
public:
    CDataExchange(COlePropertyPage* page, BOOL bSaveAndValidate)
        : m_pPage(page), m_bSaveAndValidate(bSaveAndValidate) {}
    COlePropertyPage* m_pPage;
    BOOL m_bSaveAndValidate;
};

class CTL_EXPORT COlePropertyPage : public CCmdTarget, public IPropertyPage {
public:
    COlePropertyPage(std::uint16_t idTemplate, std::uint16_t idCaption);
    ~COlePropertyPage() override;

    AFX_DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE SetPageSite(IPropertyPageSite* pPageSite) override;
    // The template as a child dialog of hWndParent at pRect's top left corner, hidden until
    // Show. E_UNEXPECTED when the page is active already.
    HRESULT STDMETHODCALLTYPE Activate(HWND hWndParent, LPCRECT pRect, BOOL bModal) override;
    HRESULT STDMETHODCALLTYPE Deactivate() override;
    // Never reads pPageInfo->cb, which frames leave as they please.
    HRESULT STDMETHODCALLTYPE GetPageInfo(PROPPAGEINFO* pPageInfo) override;
    // The objects the page edits (count 0 lets go of them). E_POINTER for a null array with a
    // non-zero count.
    HRESULT STDMETHODCALLTYPE SetObjects(ULONG cObjects, IUnknown** ppUnk) override;
    // Show, Move: E_UNEXPECTED when the page is not active.
    HRESULT STDMETHODCALLTYPE Show(UINT nCmdShow) override;
    HRESULT STDMETHODCALLTYPE Move(LPCRECT pRect) override;
    // S_OK when the page holds changes not yet applied, S_FALSE otherwise.
    HRESULT STDMETHODCALLTYPE IsPageDirty() override;
    // Moves the page's values into the objects (the data exchange) and clears the page's mark.
    HRESULT STDMETHODCALLTYPE Apply() override;
    HRESULT STDMETHODCALLTYPE Help(LPCOLESTR pszHelpDir) override;
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG* pMsg) override;

    IUnknown* GetControllingUnknown() override;
    void* GetInterface(REFIID riid) override;

    // Exchanges the page's controls with the objects' properties; runs on Apply.
    virtual void DoDataExchange(CDataExchange* pDX);
    // Marks the page changed (or not) and tells the frame, which then offers Apply.
    void SetModifiedFlag(BOOL bModified = TRUE);
    BOOL IsModified() const { return m_bDirty; }
    ULONG GetObjectCount() const { return static_cast<ULONG>(m_objects.size()); }

protected:
    std::uint16_t m_idTemplate;
    std::uint16_t m_idCaption;

private:
    bool m_bDirty = false;
    std::vector<IUnknown*> m_objects;  // one reference each
    ComPtr<IPropertyPageSite> m_pPageSite;
    std::unique_ptr<ctl::Window> m_pWnd;  // while active
};

// The closing step of a page's property exchange: writes what the page's controls collected to
// the objects. A page that binds no control has nothing pending, so nothing changes.
CTL_EXPORT void DDP_PostProcessing(CDataExchange* pDX);
