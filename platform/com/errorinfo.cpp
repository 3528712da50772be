// The per-thread error object.
#include <atomic>
#include <memory>
#include <new>

#include "platform/com/error_text.h"
#include "platform/com/oaidl.h"
#include "platform/com/oleauto.h"
#include "platform/com/utf.h"

namespace {

class ErrorInfo final : public IErrorInfo, public ICreateErrorInfo {
public:
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IErrorInfo) {
            *ppv = static_cast<IErrorInfo*>(this);
        } else if (riid == IID_ICreateErrorInfo) {
            *ppv = static_cast<ICreateErrorInfo*>(this);
        } else {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHOD_(ULONG, AddRef)() override { return ++refs_; }
    STDMETHOD_(ULONG, Release)() override {
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

    STDMETHOD(GetGUID)(GUID* pGUID) override {
        if (!pGUID) return E_INVALIDARG;
        *pGUID = guid_;
        return S_OK;
    }
    STDMETHOD(GetSource)(BSTR* out) override { return Copy(source_, out); }
    STDMETHOD(GetDescription)(BSTR* out) override { return Copy(description_, out); }
    STDMETHOD(GetHelpFile)(BSTR* out) override { return Copy(helpFile_, out); }
    STDMETHOD(GetHelpContext)(DWORD* out) override {
        if (!out) return E_INVALIDARG;
        *out = helpContext_;
        return S_OK;
    }

    STDMETHOD(SetGUID)(REFGUID rguid) override {
        guid_ = rguid;
        return S_OK;
    }
    STDMETHOD(SetSource)(LPOLESTR text) override { return Keep(text, &source_); }
    STDMETHOD(SetDescription)(LPOLESTR text) override { return Keep(text, &description_); }
    STDMETHOD(SetHelpFile)(LPOLESTR text) override { return Keep(text, &helpFile_); }
    STDMETHOD(SetHelpContext)(DWORD context) override {
        helpContext_ = context;
        return S_OK;
    }

private:
    ~ErrorInfo() {
        SysFreeString(source_);
        SysFreeString(description_);
        SysFreeString(helpFile_);
    }

    static HRESULT Copy(BSTR kept, BSTR* out) {
        if (!out) return E_INVALIDARG;
        *out = nullptr;
        if (!kept) return S_OK;
        *out = SysAllocStringLen(kept, SysStringLen(kept));
        return *out ? S_OK : E_OUTOFMEMORY;
    }
    static HRESULT Keep(LPCOLESTR text, BSTR* slot) {
        BSTR copy = nullptr;
        if (text && !(copy = SysAllocString(text))) return E_OUTOFMEMORY;
        SysFreeString(*slot);
        *slot = copy;
        return S_OK;
    }

    std::atomic<ULONG> refs_{1};
    GUID guid_ = GUID_NULL;
    BSTR source_ = nullptr;
    BSTR description_ = nullptr;
    BSTR helpFile_ = nullptr;
    DWORD helpContext_ = 0;
};

// The thread's error object; its reference is released when the thread ends.
struct ThreadErrorInfo {
    ~ThreadErrorInfo() {
        if (info) info->Release();
    }
    IErrorInfo* info = nullptr;
};
thread_local ThreadErrorInfo t_error;

}  // namespace

HRESULT SetErrorInfo(ULONG dwReserved, IErrorInfo* perrinfo) {
    if (dwReserved != 0) return E_INVALIDARG;
    if (perrinfo) perrinfo->AddRef();
    IErrorInfo* old = t_error.info;
    t_error.info = perrinfo;
    if (old) old->Release();  // last: its release may set the thread's object again
    return S_OK;
}

HRESULT GetErrorInfo(ULONG dwReserved, IErrorInfo** pperrinfo) {
    if (!pperrinfo) return E_INVALIDARG;
    *pperrinfo = nullptr;
    if (dwReserved != 0) return E_INVALIDARG;
    *pperrinfo = t_error.info;
    t_error.info = nullptr;
    return *pperrinfo ? S_OK : S_FALSE;
}

HRESULT CreateErrorInfo(ICreateErrorInfo** pperrinfo) {
    if (!pperrinfo) return E_INVALIDARG;
    auto* info = new (std::nothrow) ErrorInfo;
    *pperrinfo = info;
    return info ? S_OK : E_OUTOFMEMORY;
}

void SetErrorInfoText(const std::string& description, const std::string& source) {
    ComPtr<ICreateErrorInfo> create;
    ComPtr<IErrorInfo> info;
    bool ok = SUCCEEDED(CreateErrorInfo(&create)) &&
              SUCCEEDED(create.As(IID_IErrorInfo, std::addressof(info)));
    try {
        std::u16string text = Utf8ToOle(description);
        ok = ok && SUCCEEDED(create->SetDescription(text.data()));
        if (ok && !source.empty()) {
            text = Utf8ToOle(source);
            ok = SUCCEEDED(create->SetSource(text.data()));
        }
    } catch (...) {
        ok = false;
    }
    SetErrorInfo(0, ok ? info.Get() : nullptr);
}

std::string TakeErrorInfoText() {
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, &info) != S_OK) return {};
    BSTR text = nullptr;
    if (FAILED(info->GetDescription(&text)) || !text) return {};
    std::string utf8;
    try {
        utf8 = OleToUtf8(std::u16string(text, SysStringLen(text)));
    } catch (...) {
        utf8.clear();
    }
    SysFreeString(text);
    return utf8;
}
