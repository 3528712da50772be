// CCmdTarget: the reference-counted base of the framework's COM objects (controls and property
// pages). A derived class inherits its interfaces, forwards their IUnknown methods here with
// AFX_DECLARE_IUNKNOWN and answers GetInterface for the identities it serves.
#pragma once

#include <atomic>

#include "platform/ctl/module.h"

class CTL_EXPORT CCmdTarget {
public:
    // Counts the object in the current module state (released in the destructor).
    CCmdTarget();
    virtual ~CCmdTarget();
    CCmdTarget(const CCmdTarget&) = delete;
    CCmdTarget& operator=(const CCmdTarget&) = delete;

    ULONG InternalAddRef() noexcept;
    ULONG InternalRelease() noexcept;  // deletes the object at zero
    // IUnknown rules: E_POINTER for a null ppv, E_NOINTERFACE with *ppv null for identities the
    // object does not serve; IUnknown always yields the same pointer.
    HRESULT InternalQueryInterface(REFIID riid, void** ppv) noexcept;

    // The object's controlling IUnknown (its identity).
    virtual IUnknown* GetControllingUnknown() = 0;
    // The interface pointer serving `riid`, or null. IUnknown is answered by the base.
    virtual void* GetInterface(REFIID riid) = 0;

    AFX_MODULE_STATE* m_pModuleState;

private:
    std::atomic<ULONG> m_dwRef{0};
};

#define AFX_DECLARE_IUNKNOWN                                                     \
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override { \
        return InternalQueryInterface(riid, ppv);                                \
    }                                                                            \
    ULONG STDMETHODCALLTYPE AddRef() override { return InternalAddRef(); }       \
    ULONG STDMETHODCALLTYPE Release() override { return InternalRelease(); }

// For a factory: creates a T (null when memory runs out).
template <typename T>
CCmdTarget* AfxCreateObject() {
    return new (std::nothrow) T();
}
