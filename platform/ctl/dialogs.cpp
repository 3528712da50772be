#include "platform/ctl/dialogs.h"

#include <cstring>

#include "platform/com/combase.h"
#include "platform/com/utf.h"
#include "platform/ctl/control_ui.h"

int AfxDoModalDialog(HINSTANCE instance, std::uint16_t id) {
    return ctl::TheControlUi().RunModuleDialog(instance, id);
}

HRESULT AfxLoadTaskString(HINSTANCE instance, std::uint16_t id, LPOLESTR* text) {
    *text = nullptr;
    std::string utf8;
    if (!AfxLoadString(instance, id, &utf8)) return E_FAIL;
    const std::u16string ole = Utf8ToOle(utf8);
    const std::size_t bytes = (ole.size() + 1) * sizeof(OLECHAR);
    *text = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
    if (!*text) return E_OUTOFMEMORY;
    std::memcpy(*text, ole.c_str(), bytes);
    return S_OK;
}
