#include "platform/ctl/factory.h"

COleObjectFactory::COleObjectFactory(AFX_MODULE_STATE* state, REFCLSID clsid, CreateFn create,
                                     BOOL bMultiInstance, const char* lpszProgID)
    : m_pModuleState(state),
      m_clsid(clsid),
      m_pfnCreate(create),
      m_bMultiInstance(bMultiInstance),
      m_lpszProgID(lpszProgID) {
    if (state->m_pFactoryLast)
        state->m_pFactoryLast->m_pNextFactory = this;
    else
        state->m_pFactoryFirst = this;
    state->m_pFactoryLast = this;
}

COleObjectFactory::~COleObjectFactory() {
    COleObjectFactory* previous = nullptr;
    for (COleObjectFactory* f = m_pModuleState->m_pFactoryFirst; f; f = f->m_pNextFactory) {
        if (f == this) {
            (previous ? previous->m_pNextFactory : m_pModuleState->m_pFactoryFirst) =
                m_pNextFactory;
            if (m_pModuleState->m_pFactoryLast == this) m_pModuleState->m_pFactoryLast = previous;
            break;
        }
        previous = f;
    }
}

HRESULT COleObjectFactory::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG COleObjectFactory::AddRef() {
    ULONG count = ++m_dwRef;
    if (count == 1) AfxOleLockApp(m_pModuleState);
    return count;
}

ULONG COleObjectFactory::Release() {
    ULONG count = m_dwRef.load();
    // A release without a reference is the caller's fault; it must not unbalance the lock.
    while (count > 0 && !m_dwRef.compare_exchange_weak(count, count - 1)) {
    }
    if (count == 0) return 0;
    if (count == 1) AfxOleUnlockApp(m_pModuleState);
    return count - 1;
}

HRESULT COleObjectFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return AfxCallExport(m_pModuleState, [&]() -> HRESULT {
        CCmdTarget* object = m_pfnCreate ? m_pfnCreate() : nullptr;
        if (!object) return E_OUTOFMEMORY;
        // The temporary reference lets a failed QueryInterface destroy the new object.
        object->InternalAddRef();
        HRESULT hr = object->InternalQueryInterface(riid, ppv);
        object->InternalRelease();
        return hr;
    });
}

HRESULT COleObjectFactory::LockServer(BOOL lock) {
    if (lock)
        AfxOleLockApp(m_pModuleState);
    else
        AfxOleUnlockApp(m_pModuleState);
    return S_OK;
}

BOOL COleObjectFactory::UpdateRegistry(BOOL) { return TRUE; }

BOOL COleObjectFactory::UpdateRegistryAll(BOOL bRegister) {
    for (COleObjectFactory* f = AfxGetModuleState()->m_pFactoryFirst; f; f = f->m_pNextFactory) {
        if (!f->UpdateRegistry(bRegister)) return FALSE;
    }
    return TRUE;
}
