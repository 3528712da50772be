// IUnknown, IClassFactory and a small owning pointer for interface references.
#pragma once

#include <utility>

#include "platform/com/wtypes.h"

#define STDMETHODCALLTYPE
#define STDMETHOD(name) virtual HRESULT STDMETHODCALLTYPE name
#define STDMETHOD_(type, name) virtual type STDMETHODCALLTYPE name

// Well-known interface identities (the platform's documented values).
inline constexpr IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IClassFactory = {
    0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

struct IUnknown {
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) = 0;
    STDMETHOD_(ULONG, AddRef)() = 0;
    STDMETHOD_(ULONG, Release)() = 0;

protected:
    ~IUnknown() = default;  // objects die through Release only
};

struct IClassFactory : IUnknown {
    STDMETHOD(CreateInstance)(IUnknown* outer, REFIID riid, void** ppv) = 0;
    STDMETHOD(LockServer)(BOOL lock) = 0;

protected:
    ~IClassFactory() = default;
};

// Owns one reference to an interface. Attach() takes a reference the caller already owns;
// the constructor from a raw pointer adds one.
template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(T* p) : p_(p) {  // NOLINT: implicit by design, like the platform's smart pointers
        if (p_) p_->AddRef();
    }
    ComPtr(const ComPtr& o) : ComPtr(o.p_) {}
    ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    ~ComPtr() { Reset(); }
    ComPtr& operator=(ComPtr o) noexcept {
        std::swap(p_, o.p_);
        return *this;
    }

    void Reset() {
        if (T* p = std::exchange(p_, nullptr)) p->Release();
    }
    void Attach(T* p) {
        Reset();
        p_ = p;
    }
    T* Detach() { return std::exchange(p_, nullptr); }
    // For out parameters: releases what is held and hands out the slot.
    T** operator&() {
        Reset();
        return &p_;
    }
    void** ReleaseAndGetVoidAddress() {
        Reset();
        return reinterpret_cast<void**>(&p_);
    }
    T* Get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

    template <typename U>
    HRESULT As(REFIID riid, ComPtr<U>* out) const {
        if (!p_) return E_POINTER;
        return p_->QueryInterface(riid, out->ReleaseAndGetVoidAddress());
    }

private:
    T* p_ = nullptr;
};
