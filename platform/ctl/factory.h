// COleObjectFactory: the class object of one creatable class of a module.
#pragma once

#include <atomic>

#include "platform/ctl/cmdtarget.h"

class CTL_EXPORT COleObjectFactory : public IClassFactory {
public:
    using CreateFn = CCmdTarget* (*)();

    // Links itself into `state`'s factory list (construct factories as static objects).
    COleObjectFactory(AFX_MODULE_STATE* state, REFCLSID clsid, CreateFn create, BOOL bMultiInstance,
                      const char* lpszProgID);
    virtual ~COleObjectFactory();
    COleObjectFactory(const COleObjectFactory&) = delete;
    COleObjectFactory& operator=(const COleObjectFactory&) = delete;

    // IUnknown. The factory is a static object: references do not own it, but while a host
    // holds one the module counts a lock, so it is not unloaded under the host's feet.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    // IClassFactory: one new object per request; aggregation is refused.
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

    // The class's registration (register or unregister). The default registers nothing.
    virtual BOOL UpdateRegistry(BOOL bRegister);
    // Runs UpdateRegistry on every factory of the current module, in order; FALSE at the first
    // failure.
    static BOOL UpdateRegistryAll(BOOL bRegister);

    REFCLSID GetClassID() const { return m_clsid; }
    const char* GetProgID() const { return m_lpszProgID; }
    BOOL IsMultiInstance() const { return m_bMultiInstance; }

    COleObjectFactory* m_pNextFactory = nullptr;

protected:
    AFX_MODULE_STATE* m_pModuleState;
    CLSID m_clsid;
    CreateFn m_pfnCreate;
    BOOL m_bMultiInstance;
    const char* m_lpszProgID;

private:
    std::atomic<ULONG> m_dwRef{0};
};
