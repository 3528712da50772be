#include "platform/ctl/propertypage.h"

#include "platform/com/com_exception.h"
#include "platform/ctl/dialogs.h"

COlePropertyPage::COlePropertyPage(std::uint16_t idTemplate, std::uint16_t idCaption)
    : m_idTemplate(idTemplate), m_idCaption(idCaption) {}

COlePropertyPage::~COlePropertyPage() { SetObjects(0, nullptr); }

IUnknown* COlePropertyPage::GetControllingUnknown() { return static_cast<IAfxPropertyPage*>(this); }

void* COlePropertyPage::GetInterface(REFIID riid) {
    if (riid == IID_IAfxPropertyPage) return static_cast<IAfxPropertyPage*>(this);
    return nullptr;
}

HRESULT COlePropertyPage::SetObjects(ULONG count, IUnknown** objects) {
    if (count && !objects) return E_POINTER;
    for (IUnknown* o : m_objects) o->Release();
    m_objects.clear();
    try {
        m_objects.reserve(count);
    } catch (...) {
        return HresultFromCurrentException();
    }
    for (ULONG i = 0; i < count; ++i) {
        if (!objects[i]) continue;
        objects[i]->AddRef();
        m_objects.push_back(objects[i]);
    }
    return S_OK;
}

HRESULT COlePropertyPage::GetPageView(ui::PropertyPageView* view) {
    if (!view) return E_POINTER;
    HINSTANCE instance = m_pModuleState->m_hCurrentInstanceHandle;
    std::string bytes;
    ui::PropertyPageView result;
    if (!AfxLoadString(instance, m_idCaption, &result.caption) ||
        !AfxLoadResource(instance, ResourceType::Dialog, m_idTemplate, &bytes) ||
        !ParseDialogTemplate(bytes, &result.dialog))
        return E_FAIL;
    result.icons = AfxModuleIcons(instance);
    *view = std::move(result);
    return S_OK;
}

HRESULT COlePropertyPage::Apply() {
    CDataExchange dx(this, TRUE);
    DoDataExchange(&dx);
    m_bDirty = false;
    return S_OK;
}

HRESULT COlePropertyPage::IsPageDirty() { return m_bDirty ? S_OK : S_FALSE; }

void COlePropertyPage::DoDataExchange(CDataExchange* pDX) { DDP_PostProcessing(pDX); }

void DDP_PostProcessing(CDataExchange*) {
    // No DDP_ control binding exists in this framework yet, so nothing is ever pending.
}
