// A small owning pointer for interface references, for any interface T. It needs only HRESULT,
// REFIID and E_POINTER, so the Wine build takes it too, over the platform's own definitions.
#pragma once

#include <utility>

#include "platform/com/wtypes.h"

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
