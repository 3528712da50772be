#include "platform/ctl/cmdtarget.h"

CCmdTarget::CCmdTarget() : m_pModuleState(AfxGetModuleState()) { ++m_pModuleState->m_nObjectCount; }

CCmdTarget::~CCmdTarget() { --m_pModuleState->m_nObjectCount; }

ULONG CCmdTarget::InternalAddRef() noexcept { return ++m_dwRef; }

ULONG CCmdTarget::InternalRelease() noexcept {
    ULONG count = --m_dwRef;
    if (count == 0) delete this;
    return count;
}

HRESULT CCmdTarget::InternalQueryInterface(REFIID riid, void** ppv) noexcept {
    if (!ppv) return E_POINTER;
    void* found = riid == IID_IUnknown ? GetControllingUnknown() : GetInterface(riid);
    *ppv = found;
    if (!found) return E_NOINTERFACE;
    InternalAddRef();
    return S_OK;
}
