// The module's file name under Wine: the PE module the loader mapped (for a Winelib module, the
// placeholder that stands for its ELF file), which is what the class registry and LoadTypeLib must
// see.
#include <string>

#include "platform/com/utf.h"
#include "platform/ctl/module.h"

bool AfxGetModuleFileName(HINSTANCE instance, std::string* path) {
    if (!path) return false;
    HMODULE module = nullptr;
    if (instance && !GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                            GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                        static_cast<LPCWSTR>(instance), &module))
        return false;
    WCHAR buffer[MAX_PATH + 1];
    const DWORD n = GetModuleFileNameW(module, buffer, MAX_PATH + 1);
    if (n == 0 || n > MAX_PATH) return false;
    *path = OleToUtf8(std::u16string(buffer, n));
    return true;
}
