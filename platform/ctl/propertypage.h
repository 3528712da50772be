// COlePropertyPage: a property page built from a dialog template and a caption string of its
// module. The property frame reaches pages through IAfxPropertyPage, an interface of this
// framework: it hands the page the objects it edits, asks for its tab (caption and template) and
// applies it on OK and Apply.
#pragma once

#include <vector>

#include "platform/ctl/cmdtarget.h"
#include "platform/ui/dialogs.h"

// {5C3D8A42-7E2B-4F6A-9B1D-3E8F0C2A6D17}
inline constexpr IID IID_IAfxPropertyPage = {
    0x5C3D8A42, 0x7E2B, 0x4F6A, {0x9B, 0x1D, 0x3E, 0x8F, 0x0C, 0x2A, 0x6D, 0x17}};

struct IAfxPropertyPage : IUnknown {
    // The objects the page edits (count 0 lets go of them). E_POINTER for a null array with a
    // non-zero count.
    STDMETHOD(SetObjects)(ULONG count, IUnknown** objects) = 0;
    // The tab: caption and child template from the page's module. E_FAIL when they are missing.
    STDMETHOD(GetPageView)(ui::PropertyPageView* view) = 0;
    // Moves the page's values into the objects.
    STDMETHOD(Apply)() = 0;
    // S_OK when the page holds changes not yet applied, S_FALSE otherwise.
    STDMETHOD(IsPageDirty)() = 0;

protected:
    ~IAfxPropertyPage() = default;
};

class COlePropertyPage;

// The direction and target of a page's data exchange.
class CDataExchange {
public:
    CDataExchange(COlePropertyPage* page, BOOL bSaveAndValidate)
        : m_pPage(page), m_bSaveAndValidate(bSaveAndValidate) {}
    COlePropertyPage* m_pPage;
    BOOL m_bSaveAndValidate;
};

class CTL_EXPORT COlePropertyPage : public CCmdTarget, public IAfxPropertyPage {
public:
    COlePropertyPage(std::uint16_t idTemplate, std::uint16_t idCaption);
    ~COlePropertyPage() override;

    AFX_DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE SetObjects(ULONG count, IUnknown** objects) override;
    HRESULT STDMETHODCALLTYPE GetPageView(ui::PropertyPageView* view) override;
    HRESULT STDMETHODCALLTYPE Apply() override;
    HRESULT STDMETHODCALLTYPE IsPageDirty() override;

    IUnknown* GetControllingUnknown() override;
    void* GetInterface(REFIID riid) override;

    // Exchanges the page's controls with the objects' properties; runs on Apply.
    virtual void DoDataExchange(CDataExchange* pDX);
    void SetModifiedFlag(BOOL bModified = TRUE) { m_bDirty = bModified != FALSE; }
    BOOL IsModified() const { return m_bDirty; }
    ULONG GetObjectCount() const { return static_cast<ULONG>(m_objects.size()); }

protected:
    std::uint16_t m_idTemplate;
    std::uint16_t m_idCaption;

private:
    bool m_bDirty = false;
    std::vector<IUnknown*> m_objects;  // one reference each
};

// The closing step of a page's property exchange: writes what the page's controls collected to
// the objects. A page that binds no control has nothing pending, so nothing changes.
CTL_EXPORT void DDP_PostProcessing(CDataExchange* pDX);
