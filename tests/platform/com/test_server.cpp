// A small in-process server for the object-creation and tool tests. One class: an automation
// object with three properties and one method, persisted in a 6-byte stream.
//   Number (DISPID 1, VT_I4), Text (DISPID 2, VT_BSTR), Small (DISPID 3, VT_I2), Reset (4).
// Exports the four Dll* functions only; everything else is hidden.
#include "tests/platform/com/test_server.h"

#include <dlfcn.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/com/oaidl.h"
#include "platform/com/objidl.h"
#include "platform/com/oleauto.h"
#include "platform/com/registry.h"

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {

std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};

class TestObject final : public IDispatch, public IPersistStreamInit {
public:
    TestObject() { ++g_objects; }

    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IDispatch)
            *ppv = static_cast<IDispatch*>(this);
        else if (riid == IID_IPersistStreamInit || riid == IID_IPersist)
            *ppv = static_cast<IPersistStreamInit*>(this);
        else {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHOD_(ULONG, AddRef)() override { return ++refs_; }
    STDMETHOD_(ULONG, Release)() override {
        ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

    STDMETHOD(GetTypeInfoCount)(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo** info) override {
        if (info) *info = nullptr;
        return DISP_E_BADINDEX;
    }
    STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        if (!names || !ids) return E_POINTER;
        static const char* const kNames[] = {"Number", "Text", "Small", "Reset", "Refuse"};
        HRESULT hr = S_OK;
        for (UINT i = 0; i < count; ++i) {
            ids[i] = DISPID_UNKNOWN;
            std::string name = names[i] ? OleToUtf8(names[i]) : "";
            for (int k = 0; k < 5; ++k)
                if (strcasecmp(name.c_str(), kNames[k]) == 0) ids[i] = k + 1;
            if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
        }
        return hr;
    }
    STDMETHOD(Invoke)
    (DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
     UINT*) override {
        if (id == 4) {
            if (!(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
            number_ = 0;
            small_ = 0;
            text_.clear();
            dirty_ = true;
            return S_OK;
        }
        if (id == 5) {
            // A failure whose reason is in the error object alone, as many objects give theirs.
            SetErrorInfoText("the test object refuses, as asked");
            return E_FAIL;
        }
        if (id < 1 || id > 3) return DISP_E_MEMBERNOTFOUND;
        static const VARTYPE kTypes[] = {VT_I4, VT_BSTR, VT_I2};
        VARTYPE vt = kTypes[id - 1];
        if (flags & DISPATCH_PROPERTYPUT) {
            if (!params || params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
            VARIANT v;
            VariantInit(&v);
            HRESULT hr = VariantChangeType(&v, &params->rgvarg[0], 0, vt);
            if (FAILED(hr)) return hr;
            if (id == 1) number_ = v.lVal;
            if (id == 2) text_ = OleToUtf8(v.bstrVal);
            if (id == 3) small_ = v.iVal;
            VariantClear(&v);
            dirty_ = true;
            return S_OK;
        }
        if (!(flags & DISPATCH_PROPERTYGET)) return DISP_E_MEMBERNOTFOUND;
        if (!result) return S_OK;
        VariantInit(result);
        result->vt = vt;
        if (id == 1) result->lVal = number_;
        if (id == 2) result->bstrVal = SysAllocString(Utf8ToOle(text_).c_str());
        if (id == 3) result->iVal = small_;
        return S_OK;
    }

    STDMETHOD(GetClassID)(CLSID* clsid) override {
        if (!clsid) return E_POINTER;
        *clsid = kTestObjectClsid;
        return S_OK;
    }
    STDMETHOD(IsDirty)() override { return dirty_ ? S_OK : S_FALSE; }
    STDMETHOD(Load)(IStream* stream) override {
        if (!stream) return E_POINTER;
        unsigned char b[6];
        ULONG got = 0;
        HRESULT hr = stream->Read(b, sizeof b, &got);
        if (FAILED(hr)) return hr;
        if (got != sizeof b) return STG_E_READFAULT;
        number_ =
            static_cast<LONG>(b[0] | b[1] << 8 | b[2] << 16 | static_cast<unsigned>(b[3]) << 24);
        small_ = static_cast<SHORT>(b[4] | b[5] << 8);
        dirty_ = false;
        return S_OK;
    }
    STDMETHOD(Save)(IStream* stream, BOOL clearDirty) override {
        if (!stream) return E_POINTER;
        auto n = static_cast<std::uint32_t>(number_);
        auto s = static_cast<std::uint16_t>(small_);
        unsigned char b[6] = {
            static_cast<unsigned char>(n),       static_cast<unsigned char>(n >> 8),
            static_cast<unsigned char>(n >> 16), static_cast<unsigned char>(n >> 24),
            static_cast<unsigned char>(s),       static_cast<unsigned char>(s >> 8)};
        ULONG put = 0;
        HRESULT hr = stream->Write(b, sizeof b, &put);
        if (FAILED(hr)) return hr;
        if (put != sizeof b) return STG_E_WRITEFAULT;
        if (clearDirty) dirty_ = false;
        return S_OK;
    }
    STDMETHOD(GetSizeMax)(ULARGE_INTEGER* size) override {
        if (!size) return E_POINTER;
        size->QuadPart = 6;
        return S_OK;
    }
    STDMETHOD(InitNew)() override {
        number_ = 888;
        small_ = 8;
        text_.clear();
        dirty_ = false;
        return S_OK;
    }

private:
    ~TestObject() { --g_objects; }

    std::atomic<ULONG> refs_{1};
    LONG number_ = 0;
    SHORT small_ = 0;
    std::string text_;
    bool dirty_ = false;
};

class Factory final : public IClassFactory {
public:
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    // The factory is static; its references do not keep the module loaded, locks do.
    STDMETHOD_(ULONG, AddRef)() override { return 2; }
    STDMETHOD_(ULONG, Release)() override { return 1; }
    STDMETHOD(CreateInstance)(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        auto* object = new TestObject;
        HRESULT hr = object->QueryInterface(riid, ppv);
        static_cast<IDispatch*>(object)->Release();
        return hr;
    }
    STDMETHOD(LockServer)(BOOL lock) override {
        if (lock)
            ++g_locks;
        else
            --g_locks;
        return S_OK;
    }
};

Factory g_factory;

std::string ModulePath() {
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&ModulePath), &info) || !info.dli_fname) return "";
    return info.dli_fname;
}

HRESULT SetDefault(const std::string& key, const std::string& value) {
    return RegSetValueA(HKEY_CLASSES_ROOT, key.c_str(), REG_SZ, value.c_str(), 0) == ERROR_SUCCESS
               ? S_OK
               : SELFREG_E_CLASS;
}

// The forced answer of DllRegisterServer/DllUnregisterServer, for the tool tests.
bool ForcedResult(HRESULT* hr) {
    const char* forced = std::getenv("TEST_SERVER_REGISTER_RESULT");
    if (!forced || !*forced) return false;
    *hr = static_cast<HRESULT>(std::strtoul(forced, nullptr, 16));
    return true;
}

}  // namespace

EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (clsid != kTestObjectClsid) return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(riid, ppv);
}

EXPORT HRESULT DllCanUnloadNow() { return g_objects == 0 && g_locks == 0 ? S_OK : S_FALSE; }

EXPORT HRESULT DllRegisterServer() {
    HRESULT hr;
    if (ForcedResult(&hr)) return hr;
    std::string clsid = "CLSID\\" + GuidToString(kTestObjectClsid);
    if (FAILED(hr = SetDefault(clsid, "Test Object"))) return hr;
    if (FAILED(hr = SetDefault(clsid + "\\InprocServer32", ModulePath()))) return hr;
    if (FAILED(hr = SetDefault(clsid + "\\ProgID", kTestObjectProgId))) return hr;
    if (FAILED(hr = SetDefault(clsid + "\\MiscStatus", "0"))) return hr;
    if (FAILED(hr = SetDefault(clsid + "\\MiscStatus\\1", "132497"))) return hr;
    if (FAILED(hr = SetDefault(kTestObjectProgId, "Test Object"))) return hr;
    return SetDefault(std::string(kTestObjectProgId) + "\\CLSID", GuidToString(kTestObjectClsid));
}

EXPORT HRESULT DllUnregisterServer() {
    HRESULT hr;
    if (ForcedResult(&hr)) return hr;
    LSTATUS a =
        RegDeleteTreeA(HKEY_CLASSES_ROOT, ("CLSID\\" + GuidToString(kTestObjectClsid)).c_str());
    LSTATUS b = RegDeleteTreeA(HKEY_CLASSES_ROOT, kTestObjectProgId);
    bool ok = (a == ERROR_SUCCESS || a == ERROR_FILE_NOT_FOUND) &&
              (b == ERROR_SUCCESS || b == ERROR_FILE_NOT_FOUND);
    return ok ? S_OK : SELFREG_E_CLASS;
}
