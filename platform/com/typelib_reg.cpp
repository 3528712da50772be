// Type-library registration under HKEY_CLASSES_ROOT\TypeLib and Interface, loading a registered
// library, and the process-wide type-library cache.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/com/com_holders.h"
#include "platform/com/error_text.h"
#include "platform/com/guid_text.h"
#include "platform/com/oaidl.h"
#include "platform/com/registry.h"
#include "platform/com/typelib.h"
#include "platform/com/typelib_cache.h"
#include "platform/com/utf.h"

namespace {

// The automation marshaller that proxies every dispinterface.
constexpr char kAutomationProxyStub[] = "{00020420-0000-0000-C000-000000000046}";

std::string Hex(unsigned v) {
    char text[16];
    std::snprintf(text, sizeof text, "%x", v);
    return text;
}

// The version key's name, as the platform spells it: hexadecimal "major.minor".
std::string VersionName(WORD major, WORD minor) { return Hex(major) + "." + Hex(minor); }

bool ParseVersionName(const std::string& name, WORD* major, WORD* minor) {
    std::size_t dot = name.find('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == name.size()) return false;
    auto part = [](const std::string& s, WORD* out) {
        if (s.size() > 4) return false;
        unsigned v = 0;
        for (char c : s) {
            int d;
            if (c >= '0' && c <= '9')
                d = c - '0';
            else if (c >= 'a' && c <= 'f')
                d = c - 'a' + 10;
            else if (c >= 'A' && c <= 'F')
                d = c - 'A' + 10;
            else
                return false;
            v = v * 16 + static_cast<unsigned>(d);
        }
        *out = static_cast<WORD>(v);
        return true;
    };
    return part(name.substr(0, dot), major) && part(name.substr(dot + 1), minor);
}

class Key {
public:
    Key() = default;
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    ~Key() {
        if (h_) RegCloseKey(h_);
    }
    HKEY* out() { return &h_; }
    HKEY get() const { return h_; }

private:
    HKEY h_ = nullptr;
};

// Sets the default value (name null) or a named REG_SZ value of HKCR\path, creating the key.
bool SetString(const std::string& path, const char* name, const std::string& value) {
    Key key;
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_WRITE, nullptr, key.out(), nullptr) != ERROR_SUCCESS)
        return false;
    return RegSetValueExA(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
}

// A REG_SZ value of HKCR\path (default when name is null); false when absent.
bool GetString(const std::string& path, const char* name, std::string* value) {
    Key key;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, key.out()) != ERROR_SUCCESS)
        return false;
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(key.get(), name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return false;
    std::string data(size, '\0');
    if (size > 0 && RegQueryValueExA(key.get(), name, nullptr, &type,
                                     reinterpret_cast<BYTE*>(data.data()), &size) != ERROR_SUCCESS)
        return false;
    data.resize(size);
    while (!data.empty() && data.back() == '\0') data.pop_back();
    *value = std::move(data);
    return true;
}

// Names of the subkeys of HKCR\path; false when the key is absent or cannot be read.
bool SubkeyNames(const std::string& path, std::vector<std::string>* names) {
    Key key;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, key.out()) != ERROR_SUCCESS)
        return false;
    names->clear();
    for (DWORD i = 0;; ++i) {
        std::string name(256, '\0');
        DWORD size = static_cast<DWORD>(name.size());
        LSTATUS st =
            RegEnumKeyExA(key.get(), i, name.data(), &size, nullptr, nullptr, nullptr, nullptr);
        if (st == ERROR_MORE_DATA) {
            name.resize(size);
            st =
                RegEnumKeyExA(key.get(), i, name.data(), &size, nullptr, nullptr, nullptr, nullptr);
        }
        if (st == ERROR_NO_MORE_ITEMS) return true;
        if (st != ERROR_SUCCESS) return false;
        name.resize(size);
        names->push_back(std::move(name));
    }
}

bool KeyExists(const std::string& path) {
    Key key;
    return RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, key.out()) == ERROR_SUCCESS;
}

std::string LibKey(REFGUID guid) { return "TypeLib\\" + GuidToString(guid); }

// A locale key's name ("409", "0") as a number; false for names that are no locale.
bool ParseLocaleName(const std::string& name, LCID* lcid) {
    if (name.empty() || name.size() > 8) return false;
    LCID v = 0;
    for (char c : name) {
        const char lower = static_cast<char>(c >= 'A' && c <= 'F' ? c - 'A' + 'a' : c);
        if (lower >= '0' && lower <= '9')
            v = v * 16 + static_cast<LCID>(lower - '0');
        else if (lower >= 'a' && lower <= 'f')
            v = v * 16 + static_cast<LCID>(lower - 'a' + 10);
        else
            return false;
    }
    *lcid = v;
    return true;
}

// The path registered for the library: the newest compatible version (same major, the highest
// minor not below the one asked for), then the locale: exact, its primary language, neutral, and
// last the lowest locale registered at all (a library registered only under its own locale still
// serves callers of every other locale).
HRESULT FindRegisteredPath(REFGUID guid, WORD major, WORD minor, LCID lcid, std::string* path) {
    std::vector<std::string> versions;
    if (!SubkeyNames(LibKey(guid), &versions))
        return FailWithText(
            TYPE_E_LIBNOTREGISTERED,
            "type library " + GuidToString(guid) + " is not registered: " + TakeErrorInfoText());
    bool found = false;
    WORD bestMinor = 0;
    std::string bestName;
    for (const std::string& name : versions) {
        WORD ma, mi;
        if (!ParseVersionName(name, &ma, &mi) || ma != major || mi < minor) continue;
        if (!found || mi > bestMinor) {
            found = true;
            bestMinor = mi;
            bestName = name;
        }
    }
    if (!found)
        return FailWithText(TYPE_E_LIBNOTREGISTERED, "type library " + GuidToString(guid) + " " +
                                                         VersionName(major, minor) +
                                                         " is not registered");
    const std::string versionKey = LibKey(guid) + "\\" + bestName + "\\";
    for (LCID candidate : {lcid, lcid & 0x3FFu, LCID{0}}) {
        if (GetString(versionKey + Hex(candidate) + "\\win32", nullptr, path) && !path->empty())
            return S_OK;
    }
    std::vector<std::string> locales;
    if (SubkeyNames(LibKey(guid) + "\\" + bestName, &locales)) {
        bool any = false;
        LCID lowest = 0;
        std::string lowestName;
        for (const std::string& name : locales) {
            LCID candidate;
            std::string found;
            if (!ParseLocaleName(name, &candidate) || (any && candidate >= lowest) ||
                !GetString(versionKey + name + "\\win32", nullptr, &found) || found.empty())
                continue;
            any = true;
            lowest = candidate;
            *path = std::move(found);
        }
        if (any) return S_OK;
    }
    return FailWithText(TYPE_E_LIBNOTREGISTERED,
                        "type library " + GuidToString(guid) + " " + bestName +
                            " has no file registered for locale " + Hex(lcid));
}

std::string Bstring(BSTR b) { return b ? OleToUtf8(b) : std::string(); }

// A registered path is always absolute: a relative one would mean something else to every
// process started elsewhere.
bool AbsolutePath(const std::string& path, std::string* out) {
    if (!path.empty() && path[0] == '/') {
        *out = path;
        return true;
    }
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr),
                                                         &std::free);
    if (!resolved) return false;
    *out = resolved.get();
    return true;
}

struct TypeToRegister {
    GUID guid;
    std::string name;
};

}  // namespace

HRESULT QueryPathOfRegTypeLib(REFGUID guid, WORD wMaj, WORD wMin, LCID lcid, BSTR* lpbstrPathName) {
    if (!lpbstrPathName) return E_INVALIDARG;
    *lpbstrPathName = nullptr;
    std::string path;
    HRESULT hr = FindRegisteredPath(guid, wMaj, wMin, lcid, &path);
    if (FAILED(hr)) return hr;
    std::u16string wide = Utf8ToOle(path);
    *lpbstrPathName = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    return *lpbstrPathName ? S_OK : E_OUTOFMEMORY;
}

HRESULT LoadRegTypeLib(REFGUID rguid, WORD wVerMajor, WORD wVerMinor, LCID lcid,
                       ITypeLib** pptlib) {
    if (!pptlib) return E_INVALIDARG;
    *pptlib = nullptr;
    std::string path;
    HRESULT hr = FindRegisteredPath(rguid, wVerMajor, wVerMinor, lcid, &path);
    if (FAILED(hr)) return hr;
    ComPtr<ITypeLib> lib;
    hr = LoadTypeLib(Utf8ToOle(path).c_str(), &lib);
    if (FAILED(hr)) return hr;
    TLIBATTR* attr = nullptr;
    hr = lib->GetLibAttr(&attr);
    if (FAILED(hr)) return hr;
    const bool same = attr->guid == rguid;
    lib->ReleaseTLibAttr(attr);
    if (!same)
        return FailWithText(TYPE_E_LIBNOTREGISTERED,
                            path + " does not hold type library " + GuidToString(rguid));
    *pptlib = lib.Detach();
    return S_OK;
}

HRESULT RegisterTypeLib(ITypeLib* ptlib, LPCOLESTR szFullPath, LPCOLESTR szHelpDir) {
    if (!ptlib || !szFullPath || !*szFullPath) return E_INVALIDARG;
    std::string path;
    if (!AbsolutePath(OleToUtf8(szFullPath), &path))
        return FailWithText(E_INVALIDARG,
                            OleToUtf8(szFullPath) + ": cannot make the path absolute");

    TLIBATTR* attr = nullptr;
    HRESULT hr = ptlib->GetLibAttr(&attr);
    if (FAILED(hr)) return hr;
    const TLIBATTR lib = *attr;
    ptlib->ReleaseTLibAttr(attr);

    CComBSTR name, doc;
    hr = ptlib->GetDocumentation(-1, &name, &doc, nullptr, nullptr);
    if (FAILED(hr)) return hr;
    const std::string libName = Bstring(name), libDoc = Bstring(doc);

    // Interfaces a client reaches through the automation marshaller.
    std::vector<TypeToRegister> interfaces;
    for (UINT i = 0, n = ptlib->GetTypeInfoCount(); i < n; ++i) {
        ComPtr<ITypeInfo> info;
        if (FAILED(ptlib->GetTypeInfo(i, &info))) continue;
        TYPEATTR* ta = nullptr;
        if (FAILED(info->GetTypeAttr(&ta))) continue;
        const bool marshalled =
            ta->typekind == TKIND_DISPATCH ||
            (ta->typekind == TKIND_INTERFACE &&
             (ta->wTypeFlags & (TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION)) != 0);
        const GUID guid = ta->guid;
        info->ReleaseTypeAttr(ta);
        if (!marshalled) continue;
        CComBSTR typeName;
        if (FAILED(info->GetDocumentation(MEMBERID_NIL, &typeName, nullptr, nullptr, nullptr)))
            continue;
        interfaces.push_back({guid, Bstring(typeName)});
    }

    std::string helpDir = szHelpDir ? OleToUtf8(szHelpDir) : std::string();
    if (helpDir.empty()) {
        std::size_t slash = path.rfind('/');
        helpDir = slash == 0 ? "/" : path.substr(0, slash);
    }
    const std::string libGuid = GuidToString(lib.guid);
    const std::string version = VersionName(lib.wMajorVerNum, lib.wMinorVerNum);
    const std::string versionKey = LibKey(lib.guid) + "\\" + version;
    // Registered under the library's own locale. A language-neutral key of the same version is
    // what earlier registrations of a library left there: it goes, or it would answer every other
    // locale with whatever file it names.
    const std::string localeKey = versionKey + "\\" + Hex(lib.lcid);
    const std::string neutralKey = versionKey + "\\0";
    bool ok = SetString(versionKey, nullptr, libDoc.empty() ? libName : libDoc) &&
              SetString(localeKey + "\\win32", nullptr, path) &&
              // FLAGS holds the flags the library declares; having a disk image is not one.
              SetString(versionKey + "\\FLAGS", nullptr,
                        std::to_string(lib.wLibFlags & ~LIBFLAG_FHASDISKIMAGE)) &&
              SetString(versionKey + "\\HELPDIR", nullptr, helpDir);
    for (const TypeToRegister& t : interfaces) {
        if (!ok) break;
        const std::string key = "Interface\\" + GuidToString(t.guid);
        ok = SetString(key, nullptr, t.name) &&
             SetString(key + "\\ProxyStubClsid", nullptr, kAutomationProxyStub) &&
             SetString(key + "\\ProxyStubClsid32", nullptr, kAutomationProxyStub) &&
             SetString(key + "\\TypeLib", nullptr, libGuid) &&
             SetString(key + "\\TypeLib", "Version", version);
    }
    if (ok && lib.lcid != 0) {
        const LSTATUS removed = RegDeleteTreeA(HKEY_CLASSES_ROOT, neutralKey.c_str());
        ok = removed == ERROR_SUCCESS || removed == ERROR_FILE_NOT_FOUND;
    }
    if (!ok)
        return FailWithText(TYPE_E_REGISTRYACCESS,
                            "cannot register type library " + libGuid + ": " + TakeErrorInfoText());
    return S_OK;
}

HRESULT UnRegisterTypeLib(REFGUID libID, WORD wVerMajor, WORD wVerMinor, LCID lcid,
                          SYSKIND syskind) {
    const std::string libKey = LibKey(libID);
    const std::string version = VersionName(wVerMajor, wVerMinor);
    const std::string libGuid = GuidToString(libID);
    if (!KeyExists(libKey + "\\" + version))
        return FailWithText(TYPE_E_REGISTRYACCESS,
                            "type library " + libGuid + " " + version + " is not registered");
    const char* kind = syskind == SYS_WIN16   ? "win16"
                       : syskind == SYS_WIN32 ? "win32"
                       : syskind == SYS_WIN64 ? "win64"
                                              : nullptr;
    if (!kind)
        return FailWithText(E_INVALIDARG,
                            "no registration is made for system kind " + Hex(syskind));

    // Exactly what a registration for this locale and system kind wrote.
    const std::string versionKey = libKey + "\\" + version;
    const std::string localeKey = versionKey + "\\" + Hex(lcid);
    if (!KeyExists(localeKey + "\\" + kind))
        return FailWithText(TYPE_E_REGISTRYACCESS, "type library " + libGuid + " " + version +
                                                       " is not registered for locale " +
                                                       Hex(lcid) + " (" + kind + ")");
    if (RegDeleteTreeA(HKEY_CLASSES_ROOT, (localeKey + "\\" + kind).c_str()) != ERROR_SUCCESS)
        return FailWithText(TYPE_E_REGISTRYACCESS, "cannot remove " + localeKey + "\\" + kind +
                                                       ": " + TakeErrorInfoText());
    std::vector<std::string> inLocale;
    if (SubkeyNames(localeKey, &inLocale) && inLocale.empty() &&
        RegDeleteTreeA(HKEY_CLASSES_ROOT, localeKey.c_str()) != ERROR_SUCCESS)
        return FailWithText(TYPE_E_REGISTRYACCESS,
                            "cannot remove " + localeKey + ": " + TakeErrorInfoText());
    // The version, its interfaces included, stays while another locale or kind is registered.
    std::vector<std::string> entries;
    if (!SubkeyNames(versionKey, &entries))
        return FailWithText(TYPE_E_REGISTRYACCESS,
                            "cannot read " + versionKey + ": " + TakeErrorInfoText());
    for (const std::string& name : entries) {
        LCID other;
        if (ParseLocaleName(name, &other)) return S_OK;
    }

    // The interfaces that name this library and version, whether or not its file still exists.
    std::vector<std::string> interfaces, ours;
    if (KeyExists("Interface") && !SubkeyNames("Interface", &interfaces))
        return FailWithText(TYPE_E_REGISTRYACCESS, "cannot read Interface: " + TakeErrorInfoText());
    for (const std::string& iid : interfaces) {
        std::string lib, ver;
        const std::string key = "Interface\\" + iid + "\\TypeLib";
        GUID named;
        if (GetString(key, nullptr, &lib) && GuidFromString(lib, &named) && named == libID &&
            GetString(key, "Version", &ver) && ver == version)
            ours.push_back(iid);
    }
    for (const std::string& iid : ours) {
        if (RegDeleteTreeA(HKEY_CLASSES_ROOT, ("Interface\\" + iid).c_str()) != ERROR_SUCCESS)
            return FailWithText(TYPE_E_REGISTRYACCESS,
                                "cannot remove Interface\\" + iid + ": " + TakeErrorInfoText());
    }
    if (RegDeleteTreeA(HKEY_CLASSES_ROOT, (libKey + "\\" + version).c_str()) != ERROR_SUCCESS)
        return FailWithText(TYPE_E_REGISTRYACCESS, "cannot remove " + libKey + "\\" + version +
                                                       ": " + TakeErrorInfoText());
    std::vector<std::string> left;
    if (SubkeyNames(libKey, &left) && left.empty() &&
        RegDeleteTreeA(HKEY_CLASSES_ROOT, libKey.c_str()) != ERROR_SUCCESS)
        return FailWithText(TYPE_E_REGISTRYACCESS,
                            "cannot remove " + libKey + ": " + TakeErrorInfoText());
    return S_OK;
}

namespace {

struct Cache {
    std::mutex mutex;
    std::map<std::string, ITypeLib*> libs;  // GUID in registry form -> one reference
};

// Never destroyed: libraries may still be handed out while other statics are torn down.
Cache& TheCache() {
    static Cache* cache = new Cache;
    return *cache;
}

}  // namespace

HRESULT GetCachedTypeLib(REFGUID libid, WORD wVerMajor, WORD wVerMinor, LCID lcid,
                         ITypeLib** pptlib) {
    if (!pptlib) return E_INVALIDARG;
    *pptlib = nullptr;
    Cache& cache = TheCache();
    const std::string key = GuidToString(libid);
    std::lock_guard<std::mutex> lock(cache.mutex);
    auto it = cache.libs.find(key);
    if (it == cache.libs.end()) {
        ITypeLib* lib = nullptr;
        HRESULT hr = LoadRegTypeLib(libid, wVerMajor, wVerMinor, lcid, &lib);
        if (FAILED(hr)) return hr;
        it = cache.libs.emplace(key, lib).first;
    }
    it->second->AddRef();
    *pptlib = it->second;
    return S_OK;
}

void ClearTypeLibCache() {
    Cache& cache = TheCache();
    std::map<std::string, ITypeLib*> libs;
    {
        std::lock_guard<std::mutex> lock(cache.mutex);
        libs.swap(cache.libs);
    }
    for (auto& [key, lib] : libs) lib->Release();
}
