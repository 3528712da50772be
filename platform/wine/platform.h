// The platform's own COM and OLE Automation (Wine's headers and DLLs) under the names the control
// framework and Pinbus include from platform/com/, plus the few helpers of our own they call
// (GUID text, UTF-8 and UTF-16, the registry batch, the type-library cache). The headers of
// include/platform/com/ stand in front of platform/com/ in the Wine build's include path and all
// come here.
#pragma once

#include <string>
#include <utility>

// The framework's HINSTANCE is an address inside a module (module.h); the platform's own module
// handle type keeps its meaning under another name.
#define HINSTANCE PlatformHINSTANCE
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// The window API's A/W name macros would rename interface members of the same name.
#undef GetClassInfo
#undef RegSetValue
#undef LoadString
#include <oaidl.h>
#include <objidl.h>
#include <ocidl.h>
#include <ole2.h>
#include <oleauto.h>
#include <olectl.h>
#undef HINSTANCE

#define COM_EXPORT

// How the stand-in builds an HRESULT from its bits; the platform has the same constants.
constexpr HRESULT hresult(unsigned v) { return static_cast<HRESULT>(v); }

#include "platform/com/com_ptr.h"

// Our own helpers, as platform/com declares them.
std::string GuidToString(REFGUID guid);
bool GuidFromString(const std::string& text, GUID* guid);
std::u16string Utf8ToOle(const std::string& text);
std::string OleToUtf8(const std::u16string& text);
std::string OleToUtf8(LPCOLESTR text);
std::string HresultToString(HRESULT hr);

// The platform keeps each registry change as it is made: a batch is a no-op that always commits.
struct RegistryBatchResult {
    explicit operator bool() const { return true; }
};
void RegistryBeginBatch();
RegistryBatchResult RegistryCommitBatch();
void RegistryAbandonBatch();

// The library registered for `libid`, loaded once per process and kept.
HRESULT GetCachedTypeLib(REFGUID libid, WORD wVerMajor, WORD wVerMinor, LCID lcid,
                         ITypeLib** pptlib);

// The platform's loader learns of a failed initialisation from DllMain; nothing to tell here.
inline void CoSetLibraryInitFailed(const void*, bool) {}

// The stand-in's memory streams, on the platform's HGLOBAL streams.
HRESULT CreateStreamOnMemory(const void* bytes, ULONG size, IStream** ppstm);
bool GetMemoryStreamBytes(IStream* stream, std::string* bytes);
