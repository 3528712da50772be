// A form host as Windows programs are: a PE executable built with mingw-w64 (for i686 and for
// x86_64), which places Pinbus through Wine's atl.dll and keeps it as such hosts keep their
// controls: in a stream, in a property bag and in a compound-file storage.
//
//   form_host.exe
//       1. places Pinbus in a window with AtlAxCreateControlEx, sets Address = 956 and Bits = 16,
//          saves it (IPersistStreamInit::Save, clearing the modified flag) and prints
//          "stream HEX"; restores that stream into a second window (AtlAxCreateControlEx with
//          the stream) and reads the two properties back;
//       2. places it from a dialog template whose control names the class's CLSID
//          (AtlAxCreateDialogW);
//       3. saves it into a property bag and loads it from one (a bag without Bits gives 8);
//       4. keeps it in a compound-file storage with OleSave and loads it with OleLoad.
//   Prints "ok ..." or "FAIL ..." per check (and "skip ..." for a check the control cannot take);
//   exits with the number of failures.
#include <ocidl.h>
#include <ole2.h>
#include <olectl.h>
#include <pinbus.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>

namespace {

int failures = 0;

void Check(bool ok, const char* what) {
    std::printf("%s %s\n", ok ? "ok" : "FAIL", what);
    if (!ok) ++failures;
}

bool CheckHr(HRESULT hr, const char* what) {
    if (SUCCEEDED(hr)) return true;
    std::printf("FAIL %s: 0x%08lx\n", what, static_cast<unsigned long>(hr));
    ++failures;
    return false;
}

// Wine's atl.dll by name, as a program loads a DLL it may not have: the functions a form host of
// the platform's template library calls.
using AxWinInit = BOOL(WINAPI*)();
using AxCreateControlEx = HRESULT(WINAPI*)(LPCOLESTR, HWND, IStream*, IUnknown**, IUnknown**,
                                           REFIID, IUnknown*);
using AxCreateDialog = HWND(WINAPI*)(HINSTANCE, LPCWSTR, HWND, DLGPROC, LPARAM);
using AxGetControl = HRESULT(WINAPI*)(HWND, IUnknown**);
AxCreateControlEx createControl = nullptr;
AxCreateDialog createDialog = nullptr;
AxGetControl getControl = nullptr;

// A function of a loaded DLL as its own type (through void*: the types differ from FARPROC's).
template <class Function>
Function Proc(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

HRESULT Get(IDispatch* object, DISPID id, long* value) {
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    VARIANT out;
    VariantInit(&out);
    HRESULT hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none,
                                &out, nullptr, nullptr);
    if (SUCCEEDED(hr)) hr = VariantChangeType(&out, &out, 0, VT_I4);
    if (SUCCEEDED(hr)) *value = out.lVal;
    VariantClear(&out);
    return hr;
}

HRESULT Put(IDispatch* object, DISPID id, long value) {
    VARIANT in;
    VariantInit(&in);
    in.vt = VT_I4;
    in.lVal = value;
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{&in, &named, 1, 1};
    return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params, nullptr,
                          nullptr, nullptr);
}

// Address and Bits of a control as "ADDRESS BITS", or the failing call.
std::string Properties(IUnknown* control) {
    IDispatch* dispatch = nullptr;
    if (!control || FAILED(control->QueryInterface(IID_IDispatch, (void**)&dispatch)))
        return "no IDispatch";
    long address = -1, bits = -1;
    HRESULT hr = Get(dispatch, DISPID_DPinbus_Address, &address);
    if (SUCCEEDED(hr)) hr = Get(dispatch, DISPID_DPinbus_Bits, &bits);
    dispatch->Release();
    if (FAILED(hr)) return "get failed";
    return std::to_string(address) + " " + std::to_string(bits);
}

HRESULT SetAddressAndBits(IUnknown* control, long address, long bits) {
    IDispatch* dispatch = nullptr;
    HRESULT hr = control->QueryInterface(IID_IDispatch, (void**)&dispatch);
    if (FAILED(hr)) return hr;
    hr = Put(dispatch, DISPID_DPinbus_Address, address);
    if (SUCCEEDED(hr)) hr = Put(dispatch, DISPID_DPinbus_Bits, bits);
    dispatch->Release();
    return hr;
}

HWND MakeWindow() {
    return CreateWindowExW(0, L"STATIC", L"form", WS_OVERLAPPEDWINDOW, 0, 0, 320, 160, nullptr,
                           nullptr, GetModuleHandleW(nullptr), nullptr);
}

// The bytes a memory stream holds.
std::string StreamBytes(IStream* stream) {
    HGLOBAL memory = nullptr;
    STATSTG stat{};
    if (FAILED(GetHGlobalFromStream(stream, &memory)) ||
        FAILED(stream->Stat(&stat, STATFLAG_NONAME)))
        return {};
    const char* data = static_cast<const char*>(GlobalLock(memory));
    std::string bytes(data, data + stat.cbSize.LowPart);
    GlobalUnlock(memory);
    return bytes;
}

std::string Hex(const std::string& bytes) {
    std::string out;
    char two[3];
    for (unsigned char c : bytes) {
        std::snprintf(two, sizeof two, "%02x", c);
        out += two;
    }
    return out;
}

void StreamAndRestore() {
    HWND first = MakeWindow(), second = MakeWindow();
    IUnknown *container = nullptr, *control = nullptr;
    if (!CheckHr(createControl(L"{6B2F14D3-5C83-11D0-9E41-0040A7B3C250}", first, nullptr,
                               &container, &control, IID_NULL, nullptr),
                 "AtlAxCreateControlEx places Pinbus by its CLSID"))
        return;
    CheckHr(SetAddressAndBits(control, 956, 16), "Address = 956, Bits = 16");
    IPersistStreamInit* persist = nullptr;
    IStream* stream = nullptr;
    if (CheckHr(control->QueryInterface(IID_IPersistStreamInit, (void**)&persist),
                "IPersistStreamInit") &&
        CheckHr(CreateStreamOnHGlobal(nullptr, TRUE, &stream), "a memory stream") &&
        CheckHr(persist->Save(stream, TRUE), "Save clearing the modified flag")) {
        Check(persist->IsDirty() == S_FALSE, "not modified after the save");
        const std::string bytes = StreamBytes(stream);
        std::printf("stream %s\n", Hex(bytes).c_str());
        Check(bytes.size() == 22, "the stream holds 22 bytes");
        LARGE_INTEGER start{};
        stream->Seek(start, STREAM_SEEK_SET, nullptr);
        IUnknown *container2 = nullptr, *restored = nullptr;
        if (CheckHr(createControl(L"PINBUS.PinbusCtrl.1", second, stream, &container2, &restored,
                                  IID_NULL, nullptr),
                    "AtlAxCreateControlEx restores it from the stream by ProgID")) {
            Check(Properties(restored) == "956 16",
                  "the restored control has Address 956, Bits 16");
            restored->Release();
            container2->Release();
        }
    }
    if (stream) stream->Release();
    if (persist) persist->Release();
    control->Release();
    container->Release();
    DestroyWindow(first);
    DestroyWindow(second);
}

std::string dialogProperties;

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM, LPARAM) {
    if (message == WM_INITDIALOG) {
        IUnknown* control = nullptr;
        HWND item = GetDlgItem(dialog, 101);
        if (item && SUCCEEDED(getControl(item, &control)) && control) {
            dialogProperties = Properties(control);
            control->Release();
        } else {
            dialogProperties = "no control in the dialog";
        }
        return TRUE;
    }
    return FALSE;
}

void FromDialogTemplate() {
    HWND dialog =
        createDialog(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(100), nullptr, DialogProc, 0);
    Check(dialog != nullptr, "AtlAxCreateDialogW makes the dialog naming the CLSID");
    if (!dialog) return;
    Check(dialogProperties == "888 8", "the dialog's control is a fresh Pinbus (888 8)");
    if (dialogProperties != "888 8") std::printf("  got: %s\n", dialogProperties.c_str());
    DestroyWindow(dialog);
}

// A property bag as a form keeps it: the names and values the control writes.
class Bag : public IPropertyBag {
public:
    std::map<std::wstring, VARIANT> values;
    ~Bag() {
        for (auto& [name, value] : values) VariantClear(&value);
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IPropertyBag) {
            *out = static_cast<IPropertyBag*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE Read(LPCOLESTR name, VARIANT* value, IErrorLog*) override {
        auto found = values.find(name);
        if (found == values.end()) return E_INVALIDARG;
        const VARTYPE want = V_VT(value);
        HRESULT hr = VariantCopy(value, &found->second);
        if (SUCCEEDED(hr) && want != VT_EMPTY && want != V_VT(value))
            hr = VariantChangeType(value, value, 0, want);
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Write(LPCOLESTR name, VARIANT* value) override {
        VARIANT copy;
        VariantInit(&copy);
        HRESULT hr = VariantCopy(&copy, value);
        if (FAILED(hr)) return hr;
        VariantClear(&values[name]);
        values[name] = copy;
        return S_OK;
    }
};

IUnknown* CreatePinbus() {
    IUnknown* control = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_Pinbus, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                  (void**)&control);
    return SUCCEEDED(hr) ? control : nullptr;
}

void PropertyBag() {
    IUnknown* control = CreatePinbus();
    IPersistPropertyBag* persist = nullptr;
    if (!control || !CheckHr(control->QueryInterface(IID_IPersistPropertyBag, (void**)&persist),
                             "IPersistPropertyBag")) {
        if (control) control->Release();
        return;
    }
    Bag bag;
    CheckHr(persist->InitNew(), "InitNew");
    CheckHr(SetAddressAndBits(control, 956, 16), "Address = 956, Bits = 16");
    CheckHr(persist->Save(&bag, TRUE, TRUE), "Save to a property bag");
    std::string names;
    for (const auto& [name, value] : bag.values)
        names += (names.empty() ? "" : " ") + std::string(name.begin(), name.end());
    std::printf("bag %s\n", names.c_str());
    Check(names == "Address Bits _ExtentX _ExtentY _StockProps _Version",
          "the bag holds _Version, _ExtentX, _ExtentY, _StockProps, Address and Bits");
    persist->Release();
    control->Release();

    control = CreatePinbus();
    if (control && SUCCEEDED(control->QueryInterface(IID_IPersistPropertyBag, (void**)&persist))) {
        CheckHr(persist->Load(&bag, nullptr), "Load from the bag");
        Check(Properties(control) == "956 16", "the loaded control has Address 956, Bits 16");
        VariantClear(&bag.values[L"Bits"]);
        bag.values.erase(L"Bits");
        persist->Release();
    }
    if (control) control->Release();
    control = CreatePinbus();
    if (control && SUCCEEDED(control->QueryInterface(IID_IPersistPropertyBag, (void**)&persist))) {
        CheckHr(persist->Load(&bag, nullptr), "Load from a bag without Bits");
        Check(Properties(control) == "956 8", "a bag without Bits gives Bits 8");
        persist->Release();
    }
    if (control) control->Release();
}

void Storage() {
    IUnknown* control = CreatePinbus();
    if (!control) {
        Check(false, "CoCreateInstance");
        return;
    }
    IPersistStorage* persist = nullptr;
    if (FAILED(control->QueryInterface(IID_IPersistStorage, (void**)&persist))) {
        std::printf("skip storage: the control has no IPersistStorage\n");
        control->Release();
        return;
    }
    ILockBytes* bytes = nullptr;
    IStorage* storage = nullptr;
    if (CheckHr(CreateILockBytesOnHGlobal(nullptr, TRUE, &bytes), "lock bytes in memory") &&
        CheckHr(StgCreateDocfileOnILockBytes(
                    bytes, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, &storage),
                "a compound file in memory") &&
        CheckHr(persist->InitNew(storage), "IPersistStorage::InitNew") &&
        CheckHr(SetAddressAndBits(control, 956, 16), "Address = 956, Bits = 16") &&
        CheckHr(OleSave(persist, storage, TRUE), "OleSave") &&
        CheckHr(persist->SaveCompleted(nullptr), "SaveCompleted") &&
        CheckHr(storage->Commit(STGC_DEFAULT), "the storage's commit")) {
        CLSID stored{};
        Check(SUCCEEDED(ReadClassStg(storage, &stored)) && stored == CLSID_Pinbus,
              "the storage names Pinbus's class");
        persist->Release();
        persist = nullptr;
        control->Release();
        control = nullptr;
        IUnknown* loaded = nullptr;
        if (CheckHr(OleLoad(storage, IID_IUnknown, nullptr, (void**)&loaded), "OleLoad")) {
            Check(Properties(loaded) == "956 16", "OleLoad gives Address 956, Bits 16");
            loaded->Release();
        }
    }
    if (storage) storage->Release();
    if (bytes) bytes->Release();
    if (persist) persist->Release();
    if (control) control->Release();
}

}  // namespace

int main() {
    if (FAILED(CoInitialize(nullptr))) return 100;
    HMODULE atl = LoadLibraryW(L"atl.dll");
    if (!atl) {
        std::printf("FAIL atl.dll cannot be loaded\n");
        return 1;
    }
    auto init = Proc<AxWinInit>(atl, "AtlAxWinInit");
    createControl = Proc<AxCreateControlEx>(atl, "AtlAxCreateControlEx");
    createDialog = Proc<AxCreateDialog>(atl, "AtlAxCreateDialogW");
    getControl = Proc<AxGetControl>(atl, "AtlAxGetControl");
    if (!init || !createControl || !createDialog || !getControl || !init()) {
        std::printf("FAIL atl.dll's container functions\n");
        return 1;
    }
    std::printf("host %d-bit\n", static_cast<int>(sizeof(void*) * 8));
    StreamAndRestore();
    FromDialogTemplate();
    PropertyBag();
    Storage();
    CoUninitialize();
    return failures;
}
