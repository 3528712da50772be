// A compiled client of Pinbus under Wine (a Winelib program built with wineg++): it creates the
// control by class identity through the platform's CoCreateInstance and calls it through the
// platform's interfaces, so every call crosses the platform's calling convention.
//
// The embedding interfaces are called through the platform's own declarations, so a method out of
// the platform's order or layout in the control shows here; and the platform's own container,
// the AtlAxWin window of Wine's atl.dll, places the control where windows can be made (a display:
// the test runs the client under Xvfb).
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
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "portctl/pinbus_identity.h"

// Wine's atl.dll, as atliface.h declares them (that header cannot come after the adapter's).
extern "C" BOOL WINAPI AtlAxWinInit(void);
extern "C" HRESULT WINAPI AtlAxGetControl(HWND hWnd, IUnknown** pUnk);

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

// Kept in the platform's compound file through OleSave and OleLoad (the object's bytes in the
// storage's stream "Contents", the same as the native control's stream), in a memory block, and
// placed by quick activation with the platform's QACONTAINER and QACONTROL.
void Storages(const std::string& nativeStream) {
    const std::string native = Unhex(nativeStream);
    ILockBytes* bytes = nullptr;
    IStorage* storage = nullptr;
    HRESULT hr = CreateILockBytesOnHGlobal(nullptr, TRUE, &bytes);
    if (SUCCEEDED(hr))
        hr = StgCreateDocfileOnILockBytes(
            bytes, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, &storage);
    CheckHr(hr, S_OK, "a compound file in memory");
    IDispatch* object = Create();
    IPersistStorage* persist =
        object ? Query<IPersistStorage>(object, IID_IPersistStorage) : nullptr;
    Check(persist != nullptr, "IPersistStorage");
    if (storage && persist) {
        CheckHr(persist->InitNew(storage), S_OK, "IPersistStorage::InitNew");
        CheckHr(persist->InitNew(storage), CO_E_ALREADYINITIALIZED, "InitNew twice");
        Put(object, DISPID_DPinbus_Address, I4(632));
        Put(object, DISPID_DPinbus_Bits, I2(16));
        CheckHr(OleSave(persist, storage, TRUE), S_OK, "OleSave");
        CheckHr(persist->SaveCompleted(nullptr), S_OK, "SaveCompleted");
        CheckHr(persist->IsDirty(), S_FALSE, "clean after OleSave");
        CLSID stored{};
        Check(SUCCEEDED(ReadClassStg(storage, &stored)) && stored == CLSID_Pinbus,
              "the storage names Pinbus's class");
        IStream* contents = nullptr;
        CheckHr(storage->OpenStream(u"Contents", nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0,
                                    &contents),
                S_OK, "the stream \"Contents\"");
        if (contents) {
            Check(StreamBytes(contents) == native, "\"Contents\" holds the native stream");
            contents->Release();
        }
        CheckHr(persist->HandsOffStorage(), S_OK, "HandsOffStorage");
        CheckHr(persist->Save(storage, TRUE), E_UNEXPECTED, "no Save while hands off");
        CheckHr(persist->SaveCompleted(storage), S_OK, "SaveCompleted with the storage");

        // A new object from the storage, by the class it names.
        IDispatch* loaded = nullptr;
        CheckHr(OleLoad(storage, IID_IDispatch, nullptr, reinterpret_cast<void**>(&loaded)), S_OK,
                "OleLoad");
        if (loaded) {
            Check(IsLong(loaded, DISPID_DPinbus_Address, 632), "OleLoad's Address 632");
            Check(IsShort(loaded, DISPID_DPinbus_Bits, 16), "OleLoad's Bits 16");
            loaded->Release();
        }
    }
    if (persist) persist->Release();
    if (object) object->Release();
    if (storage) storage->Release();
    if (bytes) bytes->Release();

    // A memory block, and quick activation.
    object = Create();
    IPersistMemory* memory = object ? Query<IPersistMemory>(object, IID_IPersistMemory) : nullptr;
    Check(memory != nullptr, "IPersistMemory");
    if (memory) {
        CheckHr(memory->Load(const_cast<char*>(native.data()), static_cast<ULONG>(native.size())),
                S_OK, "IPersistMemory::Load");
        ULONG size = 0;
        Check(memory->GetSizeMax(&size) == S_OK && size == 22, "IPersistMemory's 22 bytes");
        std::string block(22, '\0');
        CheckHr(memory->Save(block.data(), TRUE, 22), S_OK, "IPersistMemory::Save");
        Check(block == native, "the block holds the native stream");
        CheckHr(memory->Save(block.data(), TRUE, 21), STG_E_MEDIUMFULL, "a block too small");
        memory->Release();
    }
    IQuickActivate* quick = object ? Query<IQuickActivate>(object, IID_IQuickActivate) : nullptr;
    Check(quick != nullptr, "IQuickActivate");
    if (quick) {
        Sink sink;
        QACONTAINER container{};
        container.cbSize = sizeof container;
        container.pUnkEventSink = &sink;
        QACONTROL control{};
        control.cbSize = sizeof control;
        CheckHr(quick->QuickActivate(&container, &control), S_OK, "QuickActivate");
        Check(control.dwMiscStatus == 0x20591 && control.dwViewStatus == VIEWSTATUS_OPAQUE,
              "quick activation's misc and view status");
        Check(control.dwEventCookie != 0 && control.dwPropNotifyCookie == 0,
              "quick activation's event cookie");
        SIZEL extent{1085, 873};
        SIZEL back{};
        Check(quick->SetContentExtent(&extent) == S_OK && quick->GetContentExtent(&back) == S_OK &&
                  back.cx == 1085 && back.cy == 873,
              "the content extent");
        quick->Release();
    }
    if (object) object->Release();
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

// A container's client site and nothing more (no in-place activation), counting its references.
class ClientSite : public IOleClientSite {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (riid != IID_IUnknown && riid != IID_IOleClientSite) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        *ppv = static_cast<IOleClientSite*>(this);
        ++refs;
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    HRESULT STDMETHODCALLTYPE SaveObject() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker** moniker) override {
        *moniker = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer** container) override {
        *container = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE ShowObject() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() override { return E_NOTIMPL; }
    ULONG refs = 1;
};

// The verbs in menu order: the standard ones, then the properties verb, nothing past it.
void Verbs(IOleObject* ole) {
    IEnumOLEVERB* verbs = nullptr;
    CheckHr(ole->EnumVerbs(&verbs), S_OK, "EnumVerbs");
    if (!verbs) return;
    OLEVERB got[10] = {};
    ULONG fetched = 0;
    CheckHr(verbs->Next(10, got, &fetched), S_FALSE, "Next past the end");
    Check(fetched == 8 && got[0].lVerb == OLEIVERB_PRIMARY && got[7].lVerb == OLEIVERB_PROPERTIES,
          "eight verbs, the properties verb last");
    Check(fetched == 8 && got[7].lpszVerbName &&
              std::u16string(got[7].lpszVerbName) == u"&Properties...",
          "the properties verb's name");
    for (ULONG i = 0; i < fetched; ++i) CoTaskMemFree(got[i].lpszVerbName);
    verbs->Release();
}

void Embedding(IDispatch* object) {
    IOleObject* ole = Query<IOleObject>(object, IID_IOleObject);
    Check(ole != nullptr, "IOleObject");
    if (!ole) return;
    DWORD misc = 0;
    CheckHr(ole->GetMiscStatus(DVASPECT_CONTENT, &misc), S_OK, "GetMiscStatus");
    Check(misc == 0x20591 && (misc & OLEMISC_SETCLIENTSITEFIRST), "misc status 0x20591");
    ClientSite site;
    CheckHr(ole->SetClientSite(&site), S_OK, "SetClientSite before the state");
    IPersistStreamInit* persist = Query<IPersistStreamInit>(object, IID_IPersistStreamInit);
    if (persist) {
        CheckHr(persist->InitNew(), S_OK, "InitNew with the site set");
        persist->Release();
    }
    LPOLESTR name = nullptr;
    CheckHr(ole->GetUserType(USERCLASSTYPE_FULL, &name), S_OK, "GetUserType");
    Check(name && std::u16string(name) == u"Pinbus Control", "the user type name");
    CoTaskMemFree(name);
    SIZEL size{1085, 873}, back{};
    CheckHr(ole->SetExtent(DVASPECT_CONTENT, &size), S_OK, "SetExtent");
    ole->GetExtent(DVASPECT_CONTENT, &back);
    Check(back.cx == 1085 && back.cy == 873, "the extent in HIMETRIC");
    Verbs(ole);

    ISpecifyPropertyPages* specify =
        Query<ISpecifyPropertyPages>(object, IID_ISpecifyPropertyPages);
    Check(specify != nullptr, "ISpecifyPropertyPages");
    if (specify) {
        CAUUID pages{0, nullptr};
        CheckHr(specify->GetPages(&pages), S_OK, "GetPages");
        Check(pages.cElems == 1 && pages.pElems[0] == CLSID_PinbusPropPage, "the one page");
        CoTaskMemFree(pages.pElems);
        specify->Release();
    }
    IOleControl* control = Query<IOleControl>(object, IID_IOleControl);
    CONTROLINFO info{};
    Check(control && control->GetControlInfo(&info) == S_OK && info.cAccel == 0,
          "IOleControl: no mnemonics");
    if (control) control->Release();
    IViewObject2* view = Query<IViewObject2>(object, IID_IViewObject2);
    SIZEL viewSize{};
    Check(view && view->GetExtent(DVASPECT_CONTENT, -1, nullptr, &viewSize) == S_OK &&
              viewSize.cx == 1085,
          "IViewObject2's extent");
    if (view) view->Release();
    // This site offers no in-place activation.
    RECT rect{0, 0, 41, 33};
    CheckHr(ole->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site, 0, nullptr, &rect), E_NOINTERFACE,
            "no in-place activation without an in-place site");
    CheckHr(ole->Close(OLECLOSE_NOSAVE), S_OK, "Close");
    CheckHr(ole->SetClientSite(nullptr), S_OK, "SetClientSite(NULL)");
    Check(site.refs == 1, "the site is let go");
    ole->Release();
}

void PropertyPage() {
    IPropertyPage* page = nullptr;
    CheckHr(CoCreateInstance(CLSID_PinbusPropPage, nullptr, CLSCTX_INPROC_SERVER, IID_IPropertyPage,
                             reinterpret_cast<void**>(&page)),
            S_OK, "the page's IPropertyPage");
    if (!page) return;
    PROPPAGEINFO info;
    std::memset(&info, 0xCD, sizeof info);  // a frame may leave cb as it pleases
    CheckHr(page->GetPageInfo(&info), S_OK, "GetPageInfo");
    Check(info.pszTitle && std::u16string(info.pszTitle) == u"General", "the page's title");
    Check(info.size.cx > 0 && info.size.cy > 0, "the page's size");
    CoTaskMemFree(info.pszTitle);
    CheckHr(page->IsPageDirty(), S_FALSE, "IsPageDirty");
    page->Release();
}

// Wine's ActiveX container places the control by its ProgID: it initialises it, gives it its site
// and its extent, and on its window's end closes it and takes the site back.
void AtlContainer() {
    if (!AtlAxWinInit()) {
        Check(false, "AtlAxWinInit");
        return;
    }
    HWND probe = CreateWindowExW(0, u"STATIC", u"", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr,
                                 nullptr, nullptr, nullptr);
    if (!probe) {
        std::printf("skip AtlAxWin: no display to make windows on\n");
        return;
    }
    DestroyWindow(probe);
    HWND host = CreateWindowExW(0, u"AtlAxWin", u"PINBUS.PinbusCtrl.1", WS_OVERLAPPEDWINDOW, 0, 0,
                                160, 120, nullptr, nullptr, nullptr, nullptr);
    Check(host != nullptr, "AtlAxWin places Pinbus by its ProgID");
    if (!host) return;
    IUnknown* control = nullptr;
    CheckHr(AtlAxGetControl(host, &control), S_OK, "AtlAxGetControl");
    IOleObject* ole = control ? Query<IOleObject>(control, IID_IOleObject) : nullptr;
    IDispatch* dispatch = control ? Query<IDispatch>(control, IID_IDispatch) : nullptr;
    if (control) control->Release();
    Check(dispatch && IsLong(dispatch, DISPID_DPinbus_Address, 0x378),
          "the container initialised it: Address 888");
    if (ole) {
        IOleClientSite* site = nullptr;
        ole->GetClientSite(&site);
        Check(site != nullptr, "the container gave it its site");
        if (site) site->Release();
        // The container sets the extent from its window's size (by its own arithmetic): no
        // longer the control's own 24 x 22 pixels (635 x 582 HIMETRIC).
        SIZEL extent{};
        ole->GetExtent(DVASPECT_CONTENT, &extent);
        Check(extent.cx != 635 && extent.cy != 582 && extent.cx > 0 && extent.cy > 0,
              "the container's extent");
    }
    DestroyWindow(host);
    if (ole) {
        IOleClientSite* site = reinterpret_cast<IOleClientSite*>(1);
        ole->GetClientSite(&site);
        Check(site == nullptr, "the container took its site back when its window went");
        ole->Release();
    }
    if (dispatch) {
        Check(IsLong(dispatch, DISPID_DPinbus_Address, 0x378), "automation after the container");
        dispatch->Release();
    }
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
        Embedding(object);
        object->Release();
    }
    PropertyPage();
    Streams(argv[1]);
    Storages(argv[1]);
    PropertyBags();
    AtlContainer();
    CoUninitialize();
    std::printf("%d failures\n", failures);
    std::fflush(stdout);
    return failures;
}
