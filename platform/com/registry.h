// The class registry (HKEY_CLASSES_ROOT) under the platform's function names. The tree lives in
// one REGEDIT4 text file: $OLE_REGISTRY, else
// ${XDG_DATA_HOME:-$HOME/.local/share}/lensbay/registry.reg. Every change is written whole to a
// temporary file and renamed into place under an exclusive lock.
#pragma once

#include <string>

#include "platform/base/result.h"
#include "platform/com/wtypes.h"

struct HKEY__;
using HKEY = HKEY__*;
using PHKEY = HKEY*;
using LSTATUS = LONG;
using REGSAM = DWORD;

// Predefined root; only HKEY_CLASSES_ROOT is backed by the file.
#define HKEY_CLASSES_ROOT (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000000u)))

constexpr LSTATUS ERROR_SUCCESS = 0;
constexpr LSTATUS ERROR_FILE_NOT_FOUND = 2;
constexpr LSTATUS ERROR_ACCESS_DENIED = 5;
constexpr LSTATUS ERROR_INVALID_HANDLE = 6;
constexpr LSTATUS ERROR_OUTOFMEMORY = 14;
constexpr LSTATUS ERROR_INVALID_PARAMETER = 87;
constexpr LSTATUS ERROR_MORE_DATA = 234;
constexpr LSTATUS ERROR_NO_MORE_ITEMS = 259;
constexpr LSTATUS ERROR_BADDB = 1009;
constexpr LSTATUS ERROR_REGISTRY_IO_FAILED = 1016;
constexpr LSTATUS ERROR_KEY_DELETED = 1018;

constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;

constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;
constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Strings are UTF-8 (the platform's "A" flavour). A REG_SZ value's data includes its NUL.
COM_EXPORT LSTATUS RegCreateKeyExA(HKEY key, const char* subKey, DWORD reserved, char* klass,
                                   DWORD options, REGSAM sam, void* security, PHKEY result,
                                   DWORD* disposition);
COM_EXPORT LSTATUS RegOpenKeyExA(HKEY key, const char* subKey, DWORD options, REGSAM sam,
                                 PHKEY result);
COM_EXPORT LSTATUS RegCloseKey(HKEY key);
COM_EXPORT LSTATUS RegSetValueExA(HKEY key, const char* valueName, DWORD reserved, DWORD type,
                                  const BYTE* data, DWORD size);
COM_EXPORT LSTATUS RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type,
                                    BYTE* data, DWORD* size);
COM_EXPORT LSTATUS RegDeleteValueA(HKEY key, const char* valueName);
COM_EXPORT LSTATUS RegDeleteKeyA(HKEY key, const char* subKey);
COM_EXPORT LSTATUS RegDeleteTreeA(HKEY key, const char* subKey);
// Subkeys in case-insensitive sorted order. *nameSize: the buffer's size in, the name's length
// (without NUL) out; ERROR_MORE_DATA sets it to the size needed with the NUL. klass gets an
// empty string; lastWrite is not written.
COM_EXPORT LSTATUS RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* nameSize,
                                 DWORD* reserved, char* klass, DWORD* klassSize, void* lastWrite);
// Values in case-insensitive sorted order, the default (empty name) first. Sizes as for
// RegEnumKeyExA (name) and RegQueryValueExA (data).
COM_EXPORT LSTATUS RegEnumValueA(HKEY key, DWORD index, char* valueName, DWORD* valueNameSize,
                                 DWORD* reserved, DWORD* type, BYTE* data, DWORD* dataSize);
// Writes a default (unnamed) REG_SZ value of key\subKey, creating the key.
COM_EXPORT LSTATUS RegSetValueA(HKEY key, const char* subKey, DWORD type, const char* data,
                                DWORD size);

// Not of the platform: the path of the registry file in use, and the last error's full text
// (for instance "registry.reg:12: expected a key or a value") for messages to the user.
// Both follow $OLE_REGISTRY as it is at the time of the call; a failure's text is the thread's
// error object's description. Every call holding a handle to a key deleted meanwhile fails with
// ERROR_KEY_DELETED; a file that does not parse makes every call fail with ERROR_BADDB until it is
// repaired.
COM_EXPORT std::string RegistryFilePath();
// Not of the platform: the machine-wide class registry, $OLE_MACHINE_REGISTRY or else
// /var/lib/lensbay/registry.reg. Without OLE_REGISTRY, reads see it beneath the user's file (a
// value or key of the user's wins, the rest falls through) while changes go to the user's file;
// `regsvr --system` changes it by naming it in OLE_REGISTRY, which means that file alone.
COM_EXPORT std::string MachineRegistryFilePath();

// Not of the platform, for tests: called before each step of writing the file ("open-temp",
// "write", "fsync", "rename"); a non-zero answer makes that step fail with that errno value.
// A hook may also end the process there to simulate a crash. Null removes the hook.
using RegistryWriteHook = int (*)(const char* step);
COM_EXPORT void SetRegistryWriteHookForTesting(RegistryWriteHook hook);

// Not of the platform: succeeds when the class registry can be read (a missing file is an empty
// registry); else the error says what is wrong with it and the way out, for a program's start-up
// message. A file that does not parse or cannot be read is said as such, not as a class that will
// not load.
COM_EXPORT base::Result<> CheckClassRegistry();
