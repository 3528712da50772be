// The IUnknown of a small object of our own that serves one interface (a site, a sink, a bag): a
// class derives from SingleUnknown<Interface, IID_Interface> and writes only the interface's own
// methods. QueryInterface answers IUnknown and the interface's identity with the same pointer
// (E_POINTER for a null ppv, E_NOINTERFACE with *ppv null for any other identity), as
// platform/ctl's CCmdTarget does for the framework's objects.
#pragma once

#include <atomic>

#include "platform/com/unknwn.h"

namespace com {

enum class Lifetime {
    kCounted,  // made with new, its maker holding the first reference; deleted at the last Release
    kOwned,    // lives as long as its owner (a member, a local): the count is kept for form's sake
};

template <typename Interface, const IID& kIid, Lifetime kLifetime = Lifetime::kCounted>
class SingleUnknown : public Interface {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != kIid) return E_NOINTERFACE;
        *ppv = static_cast<Interface*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override {
        if constexpr (kLifetime == Lifetime::kOwned) return 1;
        return ++refs_;
    }
    ULONG STDMETHODCALLTYPE Release() override {
        if constexpr (kLifetime == Lifetime::kOwned) return 1;
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

protected:
    SingleUnknown() = default;
    virtual ~SingleUnknown() = default;
    SingleUnknown(const SingleUnknown&) = delete;
    SingleUnknown& operator=(const SingleUnknown&) = delete;

private:
    std::atomic<ULONG> refs_{1};
};

}  // namespace com
