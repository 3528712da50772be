// The platform's GUID functions over OLE strings (the text forms are in guid_text.cpp).
#include <string>

#include "platform/com/guid_text.h"
#include "platform/com/wtypes.h"

int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int capacity) {
    const std::string text = GuidToString(guid);
    const int needed = static_cast<int>(text.size()) + 1;
    if (!buffer || capacity < needed) return 0;
    for (std::size_t i = 0; i < text.size(); ++i) buffer[i] = static_cast<OLECHAR>(text[i]);
    buffer[text.size()] = 0;
    return needed;
}

namespace {

// The registry form in an OLE string; any character outside ASCII already makes it invalid.
bool GuidFromOleString(LPCOLESTR text, GUID* guid) {
    if (!text || !guid) return false;
    std::string narrow;
    for (std::size_t i = 0; text[i] != 0; ++i) {
        // No GUID's text is longer than 38 characters: stop copying well before a long string ends.
        if (text[i] > 0x7F || i >= 64) return false;
        narrow.push_back(static_cast<char>(text[i]));
    }
    return GuidFromString(narrow, guid);
}

}  // namespace

HRESULT CLSIDFromString(LPCOLESTR text, CLSID* clsid) {
    if (!text || !clsid) return E_INVALIDARG;
    return GuidFromOleString(text, clsid) ? S_OK : CO_E_CLASSSTRING;
}

HRESULT IIDFromString(LPCOLESTR text, IID* iid) {
    return GuidFromOleString(text, iid) ? S_OK : E_INVALIDARG;
}
