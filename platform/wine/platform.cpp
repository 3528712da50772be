// Our own helpers of platform/com, on the platform's COM (Wine): the error object's text, the
// registry batch, the loader's initialisation mark, the type-library cache and memory streams.
#include "platform/wine/platform.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <tuple>

#include "platform/com/error_text.h"
#include "platform/com/guid_text.h"
#include "platform/com/library_init.h"
#include "platform/com/memory_stream.h"
#include "platform/com/registry_batch.h"
#include "platform/com/typelib_cache.h"
#include "platform/com/utf.h"

void SetErrorInfoText(const std::string& description, const std::string& source) {
    ICreateErrorInfo* create = nullptr;
    if (FAILED(CreateErrorInfo(&create))) return;
    std::u16string text = Utf8ToOle(description);
    create->SetDescription(text.data());
    if (!source.empty()) {
        std::u16string from = Utf8ToOle(source);
        create->SetSource(from.data());
    }
    IErrorInfo* info = nullptr;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
        SetErrorInfo(0, info);
        info->Release();
    }
    create->Release();
}

std::string TakeErrorInfoText() {
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) != S_OK || !info) return {};
    BSTR text = nullptr;
    std::string out;
    if (SUCCEEDED(info->GetDescription(&text)) && text) out = OleToUtf8(text);
    SysFreeString(text);
    info->Release();
    return out;
}

// The platform keeps each registry change as it is made: a batch is nothing and always commits.
void RegistryBeginBatch() {}
base::Result<> RegistryCommitBatch() { return {}; }
void RegistryAbandonBatch() {}

// The platform's loader learns of a failed initialisation from DllMain: nothing to tell.
void CoSetLibraryInitFailed(const void*, bool) {}

namespace {

// The platform's LoadRegTypeLib tries the locale asked for, its primary language and the neutral
// one; a library registered under its own locale only (as a module registers its own) is not
// found for the others. Like the class registry of our stand-in, the cache then takes the lowest
// locale the library is registered under at all.
bool LowestRegisteredLocale(REFGUID libid, WORD major, WORD minor, LCID* lcid) {
    char version[16];
    std::snprintf(version, sizeof version, "%x.%x", major, minor);
    const std::string key = "TypeLib\\" + GuidToString(libid) + "\\" + version;
    HKEY handle = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return false;
    bool any = false;
    char name[64];
    for (DWORD i = 0;; ++i) {
        DWORD size = sizeof name;
        if (RegEnumKeyExA(handle, i, name, &size, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        char* end = nullptr;
        const unsigned long value = std::strtoul(name, &end, 16);
        if (end == name || *end != '\0' || value > 0xFFFFFFFFul) continue;  // FLAGS, HELPDIR
        if (!any || value < *lcid) *lcid = static_cast<LCID>(value);
        any = true;
    }
    RegCloseKey(handle);
    return any;
}

}  // namespace

HRESULT GetCachedTypeLib(REFGUID libid, WORD wVerMajor, WORD wVerMinor, LCID lcid,
                         ITypeLib** pptlib) {
    if (!pptlib) return E_POINTER;
    *pptlib = nullptr;
    using Key = std::tuple<std::string, WORD, WORD, LCID>;
    static std::mutex mutex;
    static std::map<Key, ITypeLib*> kept;  // held for the life of the process
    const Key key{GuidToString(libid), wVerMajor, wVerMinor, lcid};
    std::lock_guard<std::mutex> lock(mutex);
    auto found = kept.find(key);
    if (found == kept.end()) {
        ITypeLib* lib = nullptr;
        HRESULT hr = LoadRegTypeLib(libid, wVerMajor, wVerMinor, lcid, &lib);
        LCID registered = 0;
        if (hr == TYPE_E_LIBNOTREGISTERED &&
            LowestRegisteredLocale(libid, wVerMajor, wVerMinor, &registered))
            hr = LoadRegTypeLib(libid, wVerMajor, wVerMinor, registered, &lib);
        if (FAILED(hr)) return hr;
        found = kept.emplace(key, lib).first;
    }
    *pptlib = found->second;
    (*pptlib)->AddRef();
    return S_OK;
}

HRESULT CreateStreamOnMemory(const void* bytes, ULONG size, IStream** ppstm) {
    if (!ppstm) return E_POINTER;
    *ppstm = nullptr;
    IStream* stream = nullptr;
    HRESULT hr = CreateStreamOnHGlobal(nullptr, TRUE, &stream);
    if (FAILED(hr)) return hr;
    ULONG written = 0;
    if (size && (FAILED(hr = stream->Write(bytes, size, &written)) || written != size)) {
        stream->Release();
        return FAILED(hr) ? hr : STG_E_WRITEFAULT;
    }
    LARGE_INTEGER start{};
    stream->Seek(start, STREAM_SEEK_SET, nullptr);
    *ppstm = stream;
    return S_OK;
}

bool GetMemoryStreamBytes(IStream* stream, std::string* bytes) {
    HGLOBAL memory = nullptr;
    if (!stream || !bytes || FAILED(GetHGlobalFromStream(stream, &memory))) return false;
    STATSTG stat{};
    if (FAILED(stream->Stat(&stat, STATFLAG_NONAME))) return false;
    const void* data = GlobalLock(memory);
    if (!data && stat.cbSize.QuadPart) return false;
    bytes->assign(static_cast<const char*>(data), static_cast<std::size_t>(stat.cbSize.QuadPart));
    GlobalUnlock(memory);
    return true;
}
