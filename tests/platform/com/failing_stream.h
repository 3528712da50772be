// A test stream whose reads fail: it hands out `good` bytes (zeros unless given) and then
// answers every Read with `failure` (STG_E_READFAULT by default). Writes and seeks work on an
// in-memory copy, so a Save into it succeeds. For checking that Load fails cleanly.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>

#include "platform/com/objidl.h"

class FailingReadStream final : public IStream {
public:
    explicit FailingReadStream(std::string good = {}, HRESULT failure = STG_E_READFAULT)
        : good_(std::move(good)), failure_(failure) {}

    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_ISequentialStream || riid == IID_IStream) {
            *ppv = static_cast<IStream*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    // Lives on the test's stack: references are counted only to be checked.
    STDMETHOD_(ULONG, AddRef)() override { return ++refs_; }
    STDMETHOD_(ULONG, Release)() override { return --refs_; }

    STDMETHOD(Read)(void* pv, ULONG cb, ULONG* pcbRead) override {
        if (pcbRead) *pcbRead = 0;
        std::size_t left = pos_ < good_.size() ? good_.size() - pos_ : 0;
        ULONG n = static_cast<ULONG>(std::min<std::size_t>(cb, left));
        if (n && pv) std::memcpy(pv, good_.data() + pos_, n);
        pos_ += n;
        if (pcbRead) *pcbRead = n;
        if (n < cb) return failure_;
        return S_OK;
    }
    STDMETHOD(Write)(const void* pv, ULONG cb, ULONG* pcbWritten) override {
        if (pv) written_.append(static_cast<const char*>(pv), cb);
        if (pcbWritten) *pcbWritten = cb;
        return S_OK;
    }
    STDMETHOD(Seek)(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) override {
        long long base = origin == STREAM_SEEK_SET   ? 0
                         : origin == STREAM_SEEK_CUR ? static_cast<long long>(pos_)
                                                     : static_cast<long long>(good_.size());
        long long target = base + move.QuadPart;
        if (target < 0) return STG_E_INVALIDFUNCTION;
        pos_ = static_cast<std::size_t>(target);
        if (newPosition) newPosition->QuadPart = pos_;
        return S_OK;
    }
    STDMETHOD(SetSize)(ULARGE_INTEGER) override { return S_OK; }
    STDMETHOD(CopyTo)(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
        return E_NOTIMPL;
    }
    STDMETHOD(Commit)(DWORD) override { return S_OK; }
    STDMETHOD(Revert)() override { return S_OK; }
    STDMETHOD(LockRegion)(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }
    STDMETHOD(UnlockRegion)(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }
    STDMETHOD(Stat)(STATSTG*, DWORD) override { return E_NOTIMPL; }
    STDMETHOD(Clone)(IStream** ppstm) override {
        if (ppstm) *ppstm = nullptr;
        return E_NOTIMPL;
    }

    const std::string& written() const { return written_; }
    ULONG refs() const { return refs_; }
    // How far reads got: a Load that fails cleanly should not have read past the failure.
    std::size_t position() const { return pos_; }

private:
    std::string good_;
    HRESULT failure_;
    std::string written_;
    std::size_t pos_ = 0;
    std::atomic<ULONG> refs_{1};
};
