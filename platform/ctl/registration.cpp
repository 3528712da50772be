#include "platform/ctl/registration.h"

#include <cstdio>
#include <cstring>

#include "platform/com/guid_text.h"
#include "platform/com/registry.h"
#include "platform/com/registry_batch.h"
#include "platform/com/typelib.h"
#include "platform/com/utf.h"

namespace {

bool SetDefault(const std::string& key, const std::string& value) {
    return RegSetValueA(HKEY_CLASSES_ROOT, key.c_str(), REG_SZ, value.c_str(),
                        static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
}

bool CreateKey(const std::string& key) {
    HKEY handle = nullptr;
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_WRITE, nullptr, &handle, nullptr) != ERROR_SUCCESS)
        return false;
    RegCloseKey(handle);
    return true;
}

bool SetNamedValue(const std::string& key, const char* name, const std::string& value) {
    HKEY handle = nullptr;
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_WRITE, nullptr, &handle, nullptr) != ERROR_SUCCESS)
        return false;
    LSTATUS status =
        RegSetValueExA(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>(value.size() + 1));
    RegCloseKey(handle);
    return status == ERROR_SUCCESS;
}

// Deleting what is not there is no failure.
bool DeleteTree(const std::string& key) {
    LSTATUS status = RegDeleteTreeA(HKEY_CLASSES_ROOT, key.c_str());
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

bool DeleteNamedValue(const std::string& key, const char* name) {
    HKEY handle = nullptr;
    LSTATUS status = RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_WRITE, &handle);
    if (status == ERROR_FILE_NOT_FOUND) return true;
    if (status != ERROR_SUCCESS) return false;
    status = RegDeleteValueA(handle, name);
    RegCloseKey(handle);
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

#ifdef _WIN64
// TypeLib\{LIBID}\MAJOR.MINOR\LCID\win64, the numbers in hex as the platform writes them.
std::string Win64LibraryKey(REFGUID tlid, WORD major, WORD minor, LCID lcid) {
    char tail[64];
    std::snprintf(tail, sizeof tail, "\\%x.%x\\%lx\\win64", static_cast<unsigned>(major),
                  static_cast<unsigned>(minor), static_cast<unsigned long>(lcid));
    return "TypeLib\\" + GuidToString(tlid) + tail;
}

// The default value of a key; empty when it has none.
std::string DefaultValue(const std::string& key) {
    char value[1024];
    LONG size = sizeof value;
    if (RegQueryValueA(HKEY_CLASSES_ROOT, key.c_str(), value, &size) != ERROR_SUCCESS || size <= 0)
        return {};
    return std::string(value, strnlen(value, static_cast<std::size_t>(size)));
}

bool KeyExists(const std::string& key) {
    HKEY handle = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return false;
    RegCloseKey(handle);
    return true;
}
#endif

}  // namespace

BOOL AfxOleRegisterControlClass(HINSTANCE instance, REFCLSID clsid, const char* progId,
                                std::uint16_t idTypeName, std::uint16_t idBitmap, UINT nRegFlags,
                                DWORD dwMiscStatus, REFGUID tlid, WORD wVerMajor, WORD wVerMinor) {
    std::string path, typeName;
    if (!progId || !*progId || !AfxGetModuleFileName(instance, &path) ||
        !AfxLoadString(instance, idTypeName, &typeName))
        return FALSE;
    const std::string key = "CLSID\\" + GuidToString(clsid);
    const std::string server = key + "\\InprocServer32";
    bool ok = SetDefault(key, typeName) && SetDefault(server, path) &&
              SetDefault(key + "\\ProgID", progId) && CreateKey(key + "\\Control") &&
              SetDefault(key + "\\ToolboxBitmap32", path + ", " + std::to_string(idBitmap)) &&
              SetDefault(key + "\\MiscStatus", "0") &&
              SetDefault(key + "\\MiscStatus\\1", std::to_string(dwMiscStatus)) &&
              SetDefault(key + "\\TypeLib", GuidToString(tlid)) &&
              SetDefault(key + "\\Version",
                         std::to_string(wVerMajor) + "." + std::to_string(wVerMinor)) &&
              SetDefault(progId, typeName) &&
              SetDefault(std::string(progId) + "\\CLSID", GuidToString(clsid));
    if (!ok) return FALSE;
    ok = (nRegFlags & afxRegApartmentThreading)
             ? SetNamedValue(server, "ThreadingModel", "Apartment")
             : DeleteNamedValue(server, "ThreadingModel");
    ok = ok && ((nRegFlags & afxRegInsertable) ? CreateKey(key + "\\Insertable")
                                               : DeleteTree(key + "\\Insertable"));
    return ok ? TRUE : FALSE;
}

BOOL AfxOleRegisterPropertyPageClass(HINSTANCE instance, REFCLSID clsid, std::uint16_t idTypeName) {
    std::string path, typeName;
    if (!AfxGetModuleFileName(instance, &path) || !AfxLoadString(instance, idTypeName, &typeName))
        return FALSE;
    const std::string key = "CLSID\\" + GuidToString(clsid);
    bool ok = SetDefault(key, typeName) && SetDefault(key + "\\InprocServer32", path) &&
              DeleteNamedValue(key + "\\InprocServer32", "ThreadingModel");
    return ok ? TRUE : FALSE;
}

BOOL AfxOleUnregisterClass(REFCLSID clsid, const char* progId) {
    bool ok = DeleteTree("CLSID\\" + GuidToString(clsid));
    if (progId && *progId) ok = DeleteTree(progId) && ok;
    return ok ? TRUE : FALSE;
}

BOOL AfxOleRegisterTypeLib(HINSTANCE instance, REFGUID tlid) {
    std::string path;
    if (!AfxGetModuleFileName(instance, &path)) return FALSE;
    std::u16string olePath = Utf8ToOle(path);
    ComPtr<ITypeLib> lib;
    if (FAILED(LoadTypeLib(olePath.c_str(), &lib))) return FALSE;
    TLIBATTR* attr = nullptr;
    if (FAILED(lib->GetLibAttr(&attr)) || !attr) return FALSE;
    const bool same = attr->guid == tlid;
    [[maybe_unused]] const WORD major = attr->wMajorVerNum, minor = attr->wMinorVerNum;
    [[maybe_unused]] const LCID lcid = attr->lcid;
    lib->ReleaseTLibAttr(attr);
    if (!same) return FALSE;
    if (FAILED(RegisterTypeLib(lib.Get(), olePath.c_str(), nullptr))) return FALSE;
#ifdef _WIN64
    // A 64-bit module of the platform also files its library under win64, where 64-bit programs
    // look first: the win32 entry its library's system kind gives is the 32-bit module's once that
    // registers.
    if (!SetDefault(Win64LibraryKey(tlid, major, minor, lcid), path)) return FALSE;
#endif
    return TRUE;
}

BOOL AfxOleUnregisterTypeLib(REFGUID tlid, WORD wVerMajor, WORD wVerMinor, LCID lcid) {
    // Registration wrote the library under its own locale and system kind: when the current
    // module's file holds this library (as for AfxOleRegisterTypeLib), those are removed.
    LCID locale = lcid;
    SYSKIND kind = SYS_WIN32;
    std::string path;
    ComPtr<ITypeLib> lib;
    TLIBATTR* attr = nullptr;
    if (AfxGetInstanceHandle() && AfxGetModuleFileName(AfxGetInstanceHandle(), &path) &&
        SUCCEEDED(LoadTypeLib(Utf8ToOle(path).c_str(), &lib)) &&
        SUCCEEDED(lib->GetLibAttr(&attr)) && attr) {
        if (attr->guid == tlid && attr->wMajorVerNum == wVerMajor &&
            attr->wMinorVerNum == wVerMinor) {
            locale = attr->lcid;
            kind = attr->syskind;
        }
        lib->ReleaseTLibAttr(attr);
    }
#ifdef _WIN64
    // A 64-bit module of the platform removes its win64 entry, and the win32 one only while it
    // names this module (else it is the 32-bit module's); the platform removes the library's keys
    // with the last entry.
    const std::string win64 = Win64LibraryKey(tlid, wVerMajor, wVerMinor, locale);
    std::string win32 = win64;
    win32.replace(win32.size() - 2, 2, "32");
    if (kind == SYS_WIN32 && !path.empty() && DefaultValue(win32) == path &&
        FAILED(UnRegisterTypeLib(tlid, wVerMajor, wVerMinor, locale, SYS_WIN32)))
        return FALSE;
    kind = SYS_WIN64;
    if (!KeyExists(win64)) return TRUE;
#endif
    return SUCCEEDED(UnRegisterTypeLib(tlid, wVerMajor, wVerMinor, locale, kind)) ? TRUE : FALSE;
}

HRESULT AfxRegisterInOneChange(const std::function<HRESULT()>& body) {
    RegistryBeginBatch();
    HRESULT hr = E_FAIL;
    try {
        hr = body();
    } catch (...) {
        RegistryAbandonBatch();
        throw;
    }
    if (hr != S_OK) {
        RegistryAbandonBatch();
        return hr;
    }
    // Nothing was written: the type library, the first step, is not registered (or still is).
    return RegistryCommitBatch() ? S_OK : SELFREG_E_TYPELIB;
}
