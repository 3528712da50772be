// Object creation: the class registry names a shared object, which is opened once with dlopen
// and asked for its class objects through its DllGetClassObject export.
#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>

#include <cstdlib>
#include <map>
#include <mutex>
#include <set>
#include <vector>

#include "platform/com/combase.h"
#include "platform/com/error_text.h"
#include "platform/com/guid_text.h"
#include "platform/com/library_init.h"
#include "platform/com/oaidl.h"
#include "platform/com/registry.h"
#include "platform/com/utf.h"

namespace {

using GetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, void**);
using CanUnloadNowFn = HRESULT (*)();

struct Library {
    void* handle = nullptr;
    GetClassObjectFn getClassObject = nullptr;
    CanUnloadNowFn canUnloadNow = nullptr;  // may be absent: such a library stays loaded
};

struct Loader {
    // Recursive: a server's exports and its static destructors may come back into these
    // functions on the same thread.
    std::recursive_mutex mu;
    std::map<std::string, Library> libraries;  // by the path the registry gave
};

Loader& L() {
    static Loader* loader = new Loader;  // servers stay loaded until the process ends
    return *loader;
}

// The default value of HKEY_CLASSES_ROOT\keyPath as text, without its NUL.
LSTATUS ReadDefaultValue(const std::string& keyPath, std::string* text) {
    HKEY key = nullptr;
    LSTATUS status = RegOpenKeyExA(HKEY_CLASSES_ROOT, keyPath.c_str(), 0, KEY_READ, &key);
    if (status != ERROR_SUCCESS) return status;
    DWORD type = 0, size = 0;
    status = RegQueryValueExA(key, nullptr, nullptr, &type, nullptr, &size);
    if (status == ERROR_SUCCESS && type != REG_SZ && type != REG_EXPAND_SZ)
        status = ERROR_FILE_NOT_FOUND;
    std::string data(size, '\0');
    // The value may grow between the two calls (another process); ask again until it fits.
    while (status == ERROR_SUCCESS) {
        status = RegQueryValueExA(key, nullptr, nullptr, &type,
                                  reinterpret_cast<BYTE*>(data.data()), &size);
        if (status != ERROR_MORE_DATA) break;
        data.resize(size);
        status = ERROR_SUCCESS;
    }
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) return status;
    data.resize(size);
    while (!data.empty() && data.back() == '\0') data.pop_back();
    *text = std::move(data);
    return ERROR_SUCCESS;
}

// The libraries whose initialisation failed, by their link map (what a dlopen handle names).
struct FailedInits {
    std::mutex mu;
    std::set<const void*> maps;
};

FailedInits& Failed() {
    static FailedInits* failed = new FailedInits;
    return *failed;
}

// dlopen, refusing (and closing again) a library whose initialisation failed.
HRESULT OpenLibrary(const std::string& path, void** out) {
    // The loader's own open would wait for ever on a FIFO in a library's place.
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
        return FailWithText(CO_E_DLLNOTFOUND, "cannot load " + path + ": not a regular file");
    dlerror();
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = dlerror();
        return FailWithText(CO_E_DLLNOTFOUND,
                            "cannot load " + path + ": " + (why ? why : "unknown loader error"));
    }
    link_map* map = nullptr;
    bool refused = false;
    if (dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map) {
        FailedInits& failed = Failed();
        std::lock_guard lock(failed.mu);
        refused = failed.maps.count(map) != 0;
    }
    if (refused) {
        dlclose(handle);
        return FailWithText(CO_E_DLLNOTFOUND,
                            "cannot load " + path + ": its initialisation failed");
    }
    *out = handle;
    return S_OK;
}

HRESULT OpenServer(const std::string& path, Library** out) {
    Loader& l = L();
    auto it = l.libraries.find(path);
    if (it != l.libraries.end()) {
        *out = &it->second;
        return S_OK;
    }
    void* handle = nullptr;
    if (HRESULT hr = OpenLibrary(path, &handle); FAILED(hr)) return hr;
    dlerror();
    auto get = reinterpret_cast<GetClassObjectFn>(dlsym(handle, "DllGetClassObject"));
    if (!get) {
        const char* why = dlerror();
        std::string text = path + " has no DllGetClassObject: " + (why ? why : "null symbol");
        dlclose(handle);
        return FailWithText(CO_E_ERRORINDLL, text);
    }
    Library lib;
    lib.handle = handle;
    lib.getClassObject = get;
    lib.canUnloadNow = reinterpret_cast<CanUnloadNowFn>(dlsym(handle, "DllCanUnloadNow"));
    *out = &l.libraries.emplace(path, lib).first->second;
    return S_OK;
}

// Class objects the program registered itself, by class identity.
struct Registered {
    std::mutex mu;
    DWORD nextCookie = 1;
    std::map<DWORD, std::pair<CLSID, IUnknown*>> objects;  // one reference each
};

Registered& R() {
    static Registered* registered = new Registered;
    return *registered;
}

// A registered class object for `clsid` answering riid; S_FALSE when none is registered.
HRESULT FindRegistered(REFCLSID clsid, REFIID riid, void** ppv) {
    IUnknown* object = nullptr;
    {
        Registered& r = R();
        std::lock_guard lock(r.mu);
        for (const auto& entry : r.objects)
            if (entry.second.first == clsid) object = entry.second.second;
        if (!object) return S_FALSE;
        object->AddRef();
    }
    const HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
}

}  // namespace

HRESULT CoInitialize(void*) { return S_OK; }

void CoUninitialize() {}

void* CoTaskMemAlloc(std::size_t cb) { return std::malloc(cb ? cb : 1); }

void* CoTaskMemRealloc(void* pv, std::size_t cb) { return std::realloc(pv, cb ? cb : 1); }

void CoTaskMemFree(void* pv) { std::free(pv); }

HRESULT CoRegisterClassObject(REFCLSID rclsid, IUnknown* pUnk, DWORD dwClsContext, DWORD flags,
                              DWORD* lpdwRegister) {
    if (!pUnk || !lpdwRegister) return E_INVALIDARG;
    *lpdwRegister = 0;
    if (dwClsContext != CLSCTX_INPROC_SERVER || flags != REGCLS_MULTIPLEUSE) return E_INVALIDARG;
    Registered& r = R();
    std::lock_guard lock(r.mu);
    const DWORD cookie = r.nextCookie++;
    r.objects.emplace(cookie, std::make_pair(rclsid, pUnk));
    pUnk->AddRef();
    *lpdwRegister = cookie;
    return S_OK;
}

HRESULT CoRevokeClassObject(DWORD dwRegister) {
    IUnknown* object = nullptr;
    {
        Registered& r = R();
        std::lock_guard lock(r.mu);
        auto found = r.objects.find(dwRegister);
        if (found == r.objects.end()) return CO_E_OBJNOTREG;
        object = found->second.second;
        r.objects.erase(found);
    }
    object->Release();  // outside the lock: the object may go, and its destructor call back
    return S_OK;
}

HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void*, REFIID riid, void** ppv) {
    if (!ppv) return FailWithText(E_INVALIDARG, "no place for the class object");
    *ppv = nullptr;
    std::string clsidText = GuidToString(clsid);
    if (!(context & CLSCTX_INPROC_SERVER))
        return FailWithText(REGDB_E_CLASSNOTREG, "only in-process servers can be created");
    if (HRESULT hr = FindRegistered(clsid, riid, ppv); hr != S_FALSE) return hr;
    std::string path;
    LSTATUS status = ReadDefaultValue("CLSID\\" + clsidText + "\\InprocServer32", &path);
    if (status == ERROR_FILE_NOT_FOUND || (status == ERROR_SUCCESS && path.empty()))
        return FailWithText(REGDB_E_CLASSNOTREG,
                            "class " + clsidText + " is not registered as an in-process server");
    if (status != ERROR_SUCCESS) return FailWithText(REGDB_E_READREGDB, TakeErrorInfoText());

    Loader& l = L();
    std::lock_guard lock(l.mu);
    Library* lib = nullptr;
    HRESULT hr = OpenServer(path, &lib);
    if (FAILED(hr)) return hr;
    hr = lib->getClassObject(clsid, riid, ppv);
    if (FAILED(hr)) {
        *ppv = nullptr;
        return FailWithText(
            hr, path + " has no class object " + clsidText + " (" + HresultToString(hr) + ")");
    }
    return hr;
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** ppv) {
    if (!ppv) return FailWithText(E_INVALIDARG, "no place for the object");
    *ppv = nullptr;
    if (outer) return FailWithText(CLASS_E_NOAGGREGATION, "aggregation is not supported");
    IClassFactory* factory = nullptr;
    HRESULT hr = CoGetClassObject(clsid, context, nullptr, IID_IClassFactory,
                                  reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) return hr;
    hr = factory->CreateInstance(nullptr, riid, ppv);
    factory->Release();
    if (FAILED(hr)) {
        *ppv = nullptr;
        return FailWithText(hr, "the class factory of " + GuidToString(clsid) + " failed (" +
                                    HresultToString(hr) + ")");
    }
    return hr;
}

void* CoLoadLibrary(LPOLESTR lpszLibName, BOOL) {
    if (!lpszLibName || !*lpszLibName) {
        FailWithText(E_INVALIDARG, "no library name");
        return nullptr;
    }
    void* handle = nullptr;
    return SUCCEEDED(OpenLibrary(OleToUtf8(lpszLibName), &handle)) ? handle : nullptr;
}

void CoFreeLibrary(void* hInst) {
    if (hInst) dlclose(hInst);
}

void CoSetLibraryInitFailed(const void* addressInLibrary, bool failed) {
    Dl_info info{};
    link_map* map = nullptr;
    if (!addressInLibrary ||
        dladdr1(addressInLibrary, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) == 0 ||
        !map)
        return;
    FailedInits& f = Failed();
    std::lock_guard lock(f.mu);
    if (failed)
        f.maps.insert(map);
    else
        f.maps.erase(map);
}

void CoFreeUnusedLibraries() {
    Loader& l = L();
    std::lock_guard lock(l.mu);
    std::vector<std::string> paths;
    for (const auto& entry : l.libraries) paths.push_back(entry.first);
    for (const auto& path : paths) {
        // Looked up again: a server's answer may have loaded or unloaded others meanwhile.
        auto it = l.libraries.find(path);
        if (it == l.libraries.end() || !it->second.canUnloadNow) continue;
        if (it->second.canUnloadNow() != S_OK) continue;
        void* handle = it->second.handle;
        l.libraries.erase(it);
        dlclose(handle);
    }
}

HRESULT CLSIDFromProgIDA(const char* progId, CLSID* clsid) {
    if (!progId || !clsid) return FailWithText(E_INVALIDARG, "no ProgID or no place for the CLSID");
    *clsid = GUID_NULL;
    std::string name = progId;
    if (name.empty()) return FailWithText(CO_E_CLASSSTRING, "empty ProgID");
    std::string text;
    LSTATUS status = ReadDefaultValue(name + "\\CLSID", &text);
    if (status == ERROR_FILE_NOT_FOUND || status == ERROR_INVALID_PARAMETER)
        return FailWithText(CO_E_CLASSSTRING, "the ProgID \"" + name + "\" is not registered");
    if (status != ERROR_SUCCESS) return FailWithText(REGDB_E_READREGDB, TakeErrorInfoText());
    if (!GuidFromString(text, clsid))
        return FailWithText(CO_E_CLASSSTRING, "the ProgID \"" + name +
                                                  "\" names no class identity (\"" + text + "\")");
    return S_OK;
}

HRESULT CLSIDFromProgID(LPCOLESTR progId, CLSID* clsid) {
    if (!progId) return FailWithText(E_INVALIDARG, "no ProgID");
    return CLSIDFromProgIDA(OleToUtf8(progId).c_str(), clsid);
}
