// Object creation from the class registry: in-process servers loaded with dlopen.
#pragma once

#include <string>

#include "platform/com/unknwn.h"

constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
constexpr DWORD CLSCTX_ALL = 0x17;

COM_EXPORT HRESULT CoInitialize(void* reserved);
COM_EXPORT void CoUninitialize();

// The task allocator: memory one side of an interface allocates and the other frees (CAUUID
// arrays, OLEVERB names, PROPPAGEINFO strings). CoTaskMemFree of null does nothing.
COM_EXPORT void* CoTaskMemAlloc(std::size_t cb);
COM_EXPORT void* CoTaskMemRealloc(void* pv, std::size_t cb);
COM_EXPORT void CoTaskMemFree(void* pv);

// A class object registered by the running program, found by CoGetClassObject before the class
// registry is asked. Only CLSCTX_INPROC_SERVER with REGCLS_MULTIPLEUSE is served; the cookie
// takes it back (CO_E_OBJNOTREG for one not handed out).
enum REGCLS : DWORD { REGCLS_SINGLEUSE = 0, REGCLS_MULTIPLEUSE = 1, REGCLS_MULTI_SEPARATE = 2 };
COM_EXPORT HRESULT CoRegisterClassObject(REFCLSID rclsid, IUnknown* pUnk, DWORD dwClsContext,
                                         DWORD flags, DWORD* lpdwRegister);
COM_EXPORT HRESULT CoRevokeClassObject(DWORD dwRegister);

// CLSID\{...}\InprocServer32 -> dlopen -> DllGetClassObject. REGDB_E_CLASSNOTREG for an unknown
// class; CO_E_DLLNOTFOUND / CO_E_ERRORINDLL when the library will not load or lacks the export
// (the thread's error object then holds its path and the loader's message).
COM_EXPORT HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void* serverInfo, REFIID riid,
                                    void** ppv);
COM_EXPORT HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid,
                                    void** ppv);
// Loads an in-process server library (a dlopen handle; null when it cannot be loaded or its
// initialisation failed, and the thread's error object says why). bAutoFree is accepted for form's
// sake. Each successful call is undone by one CoFreeLibrary.
COM_EXPORT void* CoLoadLibrary(LPOLESTR lpszLibName, BOOL bAutoFree);
COM_EXPORT void CoFreeLibrary(void* hInst);
// Unloads every loaded server whose DllCanUnloadNow answers S_OK.
COM_EXPORT void CoFreeUnusedLibraries();
// PROGID\CLSID; CO_E_CLASSSTRING when absent or malformed, REGDB_E_READREGDB when the registry
// cannot be read.
COM_EXPORT HRESULT CLSIDFromProgID(LPCOLESTR progId, CLSID* clsid);
COM_EXPORT HRESULT CLSIDFromProgIDA(const char* progId, CLSID* clsid);
