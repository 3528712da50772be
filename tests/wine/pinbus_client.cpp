// A compiled client of Pinbus under Wine (a Winelib program built with wineg++): it creates the
// control by class identity through the platform's CoCreateInstance and calls it through the
// platform's interfaces, so every call crosses the platform's calling convention.
//
//   pinbus_client.exe NATIVE_STREAM
//       NATIVE_STREAM: the stream (hex) the native control saves after Address = 632, Bits = 16.
//       Prints "ok ..." or "FAIL ..." per check and "stream HEX", the stream saved here after the
//       same puts; exits with the number of failures.
//   pinbus_client.exe hold RELEASE_FILE
//       holds the port as any host of Pinbus does after its first cycle: writes the control
//       register (0x27) through a Pinbus object, prints "holding", then waits until RELEASE_FILE
//       (a Windows path) exists, at most a minute, and releases the object.
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "portctl/pinbus_identity.h"

namespace {

int failures = 0;

void Check(bool ok, const char* what) {
    std::printf("%s %s\n", ok ? "ok" : "FAIL", what);
    if (!ok) ++failures;
}

void CheckHr(HRESULT got, HRESULT want, const char* what) {
    if (got == want) {
        std::printf("ok %s\n", what);
        return;
    }
    std::printf("FAIL %s: 0x%08x, want 0x%08x\n", what, static_cast<unsigned>(got),
                static_cast<unsigned>(want));
    ++failures;
}

// One property get by DISPID; the result in *out (VT_EMPTY on failure).
HRESULT Get(IDispatch* object, DISPID id, VARIANT* out) {
    VariantInit(out);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, out,
                          nullptr, nullptr);
}

// One property put by DISPID of `value` as it is (no conversion here: the control converts).
HRESULT Put(IDispatch* object, DISPID id, VARIANT value, UINT* argErr = nullptr) {
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{&value, &named, 1, 1};
    EXCEPINFO info{};
    UINT unused = 0;
    HRESULT hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params,
                                nullptr, &info, argErr ? argErr : &unused);
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
    return hr;
}

VARIANT I4(LONG v) {
    VARIANT r;
    VariantInit(&r);
    r.vt = VT_I4;
    r.lVal = v;
    return r;
}
VARIANT I2(SHORT v) {
    VARIANT r;
    VariantInit(&r);
    r.vt = VT_I2;
    r.iVal = v;
    return r;
}

bool IsLong(IDispatch* object, DISPID id, LONG want) {
    VARIANT v;
    HRESULT hr = Get(object, id, &v);
    bool ok = SUCCEEDED(hr) && v.vt == VT_I4 && v.lVal == want;
    if (!ok)
        std::printf("  get %ld: 0x%08x vt %u value %ld, want VT_I4 %ld\n", static_cast<long>(id),
                    static_cast<unsigned>(hr), v.vt, static_cast<long>(v.lVal),
                    static_cast<long>(want));
    VariantClear(&v);
    return ok;
}

bool IsShort(IDispatch* object, DISPID id, SHORT want) {
    VARIANT v;
    HRESULT hr = Get(object, id, &v);
    bool ok = SUCCEEDED(hr) && v.vt == VT_I2 && v.iVal == want;
    VariantClear(&v);
    return ok;
}

IDispatch* Create() {
    IDispatch* object = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_Pinbus, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                  reinterpret_cast<void**>(&object));
    if (FAILED(hr)) std::printf("  CoCreateInstance: 0x%08x\n", static_cast<unsigned>(hr));
    return object;
}

template <typename T>
T* Query(IUnknown* object, REFIID iid) {
    T* out = nullptr;
    if (FAILED(object->QueryInterface(iid, reinterpret_cast<void**>(&out)))) return nullptr;
    return out;
}

std::string Hex(const std::string& bytes) {
    std::string out;
    char buf[4];
    for (unsigned char c : bytes) {
        std::snprintf(buf, sizeof buf, "%02x", c);
        out += buf;
    }
    return out;
}

std::string Unhex(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2)
        out += static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16));
    return out;
}

std::string StreamBytes(IStream* stream) {
    STATSTG stat{};
    if (FAILED(stream->Stat(&stat, STATFLAG_NONAME))) return {};
    std::string bytes(static_cast<std::size_t>(stat.cbSize.QuadPart), '\0');
    LARGE_INTEGER start{};
    ULONG read = 0;
    stream->Seek(start, STREAM_SEEK_SET, nullptr);
    stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &read);
    bytes.resize(read);
    return bytes;
}

// A property bag in memory, as a host keeps one per saved control.
class Bag : public IPropertyBag {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (riid != IID_IUnknown && riid != IID_IPropertyBag) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        *ppv = static_cast<IPropertyBag*>(this);
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE Read(LPCOLESTR name, VARIANT* value, IErrorLog*) override {
        auto found = values.find(name);
        if (found == values.end()) return E_INVALIDARG;
        return VariantCopy(value, &found->second);
    }
    HRESULT STDMETHODCALLTYPE Write(LPCOLESTR name, VARIANT* value) override {
        VARIANT copy;
        VariantInit(&copy);
        HRESULT hr = VariantCopy(&copy, value);
        if (SUCCEEDED(hr)) values[name] = copy;
        return hr;
    }
    // The value saved under `name` as a long (false when absent or not a number).
    bool Long(const char16_t* name, LONG* out) {
        auto found = values.find(name);
        VARIANT v;
        VariantInit(&v);
        if (found == values.end() || FAILED(VariantChangeType(&v, &found->second, 0, VT_I4)))
            return false;
        *out = v.lVal;
        return true;
    }
    std::map<std::u16string, VARIANT> values;
};

// An event sink that accepts the control's event interface.
class Sink : public IDispatch {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (riid != IID_IUnknown && riid != IID_IDispatch && riid != IID_DPinbusEvents) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        *ppv = static_cast<IDispatch*>(this);
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        return S_OK;
    }
};

void Dispatch(IDispatch* object) {
    CheckHr(Put(object, DISPID_DPinbus_Address, I4(0x37A)), S_OK, "put Address by DISPID");
    CheckHr(Put(object, DISPID_DPinbus_Value, I2(8)), S_OK, "put Value from a short");
    Check(IsLong(object, DISPID_DPinbus_Value, 8), "get Value: the control register's 8");
    VARIANT text;
    VariantInit(&text);
    text.vt = VT_BSTR;
    text.bstrVal = SysAllocString(u"16");
    CheckHr(Put(object, DISPID_DPinbus_Bits, text), S_OK, "put Bits from a string");
    VariantClear(&text);
    Check(IsShort(object, DISPID_DPinbus_Bits, 16), "get Bits: VT_I2 16");
    text.vt = VT_BSTR;
    text.bstrVal = SysAllocString(u"port");
    UINT argErr = 99;
    CheckHr(Put(object, DISPID_DPinbus_Address, text, &argErr), DISP_E_TYPEMISMATCH,
            "put Address from text that is no number");
    VariantClear(&text);
    Check(argErr == 0, "the type mismatch names argument 0");
    VARIANT v;
    CheckHr(Get(object, 99, &v), DISP_E_MEMBERNOTFOUND, "an unknown DISPID");
    CheckHr(Put(object, DISPID_DPinbus_Bits, I2(12)), S_OK, "put Bits 12");
    Check(IsShort(object, DISPID_DPinbus_Bits, 16), "Bits 12 is ignored");

    LPOLESTR names[] = {const_cast<LPOLESTR>(u"Value")};
    DISPID id = 0;
    CheckHr(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK,
            "GetIDsOfNames Value");
    Check(id == DISPID_DPinbus_Value, "Value's DISPID");

    ISupportErrorInfo* support = Query<ISupportErrorInfo>(object, IID_ISupportErrorInfo);
    Check(support && support->InterfaceSupportsErrorInfo(IID_DPinbus) == S_OK,
          "ISupportErrorInfo for _DPinbus");
    if (support) support->Release();
}

void ConnectionPoints(IDispatch* object) {
    IConnectionPointContainer* container =
        Query<IConnectionPointContainer>(object, IID_IConnectionPointContainer);
    Check(container != nullptr, "IConnectionPointContainer");
    if (!container) return;
    IConnectionPoint* point = nullptr;
    CheckHr(container->FindConnectionPoint(IID_DPinbusEvents, &point), S_OK,
            "FindConnectionPoint _DPinbusEvents");
    IConnectionPoint* none = nullptr;
    CheckHr(container->FindConnectionPoint(IID_IDispatch, &none), CONNECT_E_NOCONNECTION,
            "FindConnectionPoint of another interface");
    IEnumConnectionPoints* points = nullptr;
    ULONG fetched = 0;
    IConnectionPoint* listed[2] = {};
    if (SUCCEEDED(container->EnumConnectionPoints(&points)) && points) {
        points->Next(2, listed, &fetched);
        points->Release();
    }
    Check(fetched == 1, "one connection point listed");
    for (ULONG i = 0; i < fetched; ++i) listed[i]->Release();
    if (point) {
        IID iid{};
        Check(SUCCEEDED(point->GetConnectionInterface(&iid)) && iid == IID_DPinbusEvents,
              "the point's interface is _DPinbusEvents");
        Sink sink;
        DWORD cookie = 0;
        CheckHr(point->Advise(&sink, &cookie), S_OK, "Advise");
        Check(cookie != 0, "a cookie");
        CheckHr(point->Unadvise(cookie), S_OK, "Unadvise");
        CheckHr(point->Unadvise(cookie), CONNECT_E_NOCONNECTION, "Unadvise twice");
        point->Release();
    }
    container->Release();
}

void Streams(const std::string& nativeStream) {
    IDispatch* object = Create();
    Check(object != nullptr, "a second object");
    if (!object) return;
    IPersistStreamInit* persist = Query<IPersistStreamInit>(object, IID_IPersistStreamInit);
    Check(persist != nullptr, "IPersistStreamInit");
    if (persist) {
        CheckHr(persist->InitNew(), S_OK, "InitNew");
        Put(object, DISPID_DPinbus_Address, I4(632));
        Put(object, DISPID_DPinbus_Bits, I2(16));
        CheckHr(persist->IsDirty(), S_OK, "dirty after puts");
        IStream* stream = nullptr;
        CreateStreamOnHGlobal(nullptr, TRUE, &stream);
        CheckHr(persist->Save(stream, TRUE), S_OK, "Save");
        const std::string bytes = StreamBytes(stream);
        Check(bytes.size() == 22, "22 bytes saved");
        std::printf("stream %s\n", Hex(bytes).c_str());
        CheckHr(persist->IsDirty(), S_FALSE, "clean after Save");
        stream->Release();
        persist->Release();
    }
    object->Release();

    // The native control's stream, loaded here.
    object = Create();
    persist = object ? Query<IPersistStreamInit>(object, IID_IPersistStreamInit) : nullptr;
    if (!persist) {
        Check(false, "an object to load the native stream");
        if (object) object->Release();
        return;
    }
    const std::string native = Unhex(nativeStream);
    IStream* stream = nullptr;
    CreateStreamOnHGlobal(nullptr, TRUE, &stream);
    ULONG written = 0;
    stream->Write(native.data(), static_cast<ULONG>(native.size()), &written);
    LARGE_INTEGER start{};
    stream->Seek(start, STREAM_SEEK_SET, nullptr);
    CheckHr(persist->Load(stream), S_OK, "Load the native stream");
    Check(IsLong(object, DISPID_DPinbus_Address, 632), "loaded Address 632");
    Check(IsShort(object, DISPID_DPinbus_Bits, 16), "loaded Bits 16");
    stream->Release();
    persist->Release();
    object->Release();
}

void PropertyBags() {
    IDispatch* object = Create();
    IPersistPropertyBag* persist =
        object ? Query<IPersistPropertyBag>(object, IID_IPersistPropertyBag) : nullptr;
    Check(persist != nullptr, "IPersistPropertyBag");
    if (!persist) {
        if (object) object->Release();
        return;
    }
    CheckHr(persist->InitNew(), S_OK, "InitNew by bag");
    Put(object, DISPID_DPinbus_Address, I4(0x278));
    Bag saved;
    CheckHr(persist->Save(&saved, TRUE, TRUE), S_OK, "Save to a bag");
    LONG address = 0, bits = 0;
    Check(saved.Long(u"Address", &address) && address == 0x278, "the bag holds Address 632");
    Check(saved.Long(u"Bits", &bits) && bits == 8, "the bag holds Bits 8");
    persist->Release();
    object->Release();

    object = Create();
    persist = object ? Query<IPersistPropertyBag>(object, IID_IPersistPropertyBag) : nullptr;
    if (!persist) {
        if (object) object->Release();
        return;
    }
    Bag given;
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(u"956");
    given.Write(u"Address", &v);
    VariantClear(&v);
    CheckHr(persist->Load(&given, nullptr), S_OK, "Load from a bag with Address only");
    Check(IsLong(object, DISPID_DPinbus_Address, 956), "Address from the bag's text");
    Check(IsShort(object, DISPID_DPinbus_Bits, 8), "Bits not given takes its default");
    for (auto& entry : saved.values) VariantClear(&entry.second);
    for (auto& entry : given.values) VariantClear(&entry.second);
    persist->Release();
    object->Release();
}

void ClassInfo(IDispatch* object) {
    IProvideClassInfo2* info = Query<IProvideClassInfo2>(object, IID_IProvideClassInfo2);
    Check(info != nullptr, "IProvideClassInfo2");
    if (!info) return;
    ITypeInfo* coclass = nullptr;
    CheckHr(info->GetClassInfo(&coclass), S_OK, "GetClassInfo");
    if (coclass) {
        BSTR name = nullptr;
        coclass->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr);
        Check(name && std::u16string(name) == u"Pinbus", "the coclass is named Pinbus");
        SysFreeString(name);
        TYPEATTR* attr = nullptr;
        if (SUCCEEDED(coclass->GetTypeAttr(&attr)) && attr) {
            Check(attr->typekind == TKIND_COCLASS && attr->guid == CLSID_Pinbus,
                  "a coclass of Pinbus's class identity");
            coclass->ReleaseTypeAttr(attr);
        }
        coclass->Release();
    }
    GUID source{};
    CheckHr(info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source), S_OK, "GetGUID");
    Check(source == IID_DPinbusEvents, "the default source is _DPinbusEvents");
    info->Release();
}

int Hold(const char* release) {
    IDispatch* object = Create();
    if (object == nullptr) {
        std::printf("FAIL CoCreateInstance of Pinbus\n");
        return 1;
    }
    HRESULT hr = Put(object, DISPID_DPinbus_Address, I4(0x37A));
    if (SUCCEEDED(hr)) hr = Put(object, DISPID_DPinbus_Value, I4(0x27));
    if (SUCCEEDED(hr)) {
        std::printf("holding\n");
    } else {
        std::printf("FAIL the control register's write: 0x%08x\n", static_cast<unsigned>(hr));
    }
    std::fflush(stdout);
    for (int i = 0; i < 3000 && GetFileAttributesA(release) == INVALID_FILE_ATTRIBUTES; ++i)
        Sleep(20);
    object->Release();
    return FAILED(hr) ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "hold") {
        if (FAILED(CoInitialize(nullptr))) return 100;
        const int status = Hold(argv[2]);
        CoUninitialize();
        return status;
    }
    if (argc != 2) {
        std::printf("usage: pinbus_client.exe NATIVE_STREAM_HEX\n");
        return 100;
    }
    if (FAILED(CoInitialize(nullptr))) {
        std::printf("FAIL CoInitialize\n");
        return 100;
    }
    IDispatch* object = Create();
    Check(object != nullptr, "CoCreateInstance of Pinbus");
    if (object) {
        Dispatch(object);
        ConnectionPoints(object);
        ClassInfo(object);
        object->Release();
    }
    Streams(argv[1]);
    PropertyBags();
    CoUninitialize();
    std::printf("%d failures\n", failures);
    std::fflush(stdout);
    return failures;
}
