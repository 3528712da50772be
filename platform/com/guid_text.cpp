// The text forms of GUIDs and HRESULTs used in messages and in the registry. Plain C++ over the
// platform's types, so the Wine build of the control framework takes this file too.
#include "platform/com/guid_text.h"

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/base/text.h"
#include "platform/com/wtypes.h"

std::string HresultToString(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", static_cast<unsigned>(hr));
    return text;
}

namespace {

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"
constexpr std::size_t kGuidTextLength = 38;

// Reads `count` hex digits at text[pos]; false if any is not one.
bool ReadHex(const std::string& text, std::size_t pos, int count, std::uint64_t* value) {
    std::uint64_t v = 0;
    for (int i = 0; i < count; ++i) {
        const int d = base::HexDigitValue(text[pos + i]);
        if (d < 0) return false;
        v = v * 16 + static_cast<unsigned>(d);
    }
    *value = v;
    return true;
}

}  // namespace

std::string GuidToString(REFGUID guid) {
    char text[kGuidTextLength + 1];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0],
                  guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                  guid.Data4[6], guid.Data4[7]);
    return text;
}

bool GuidFromString(const std::string& text, GUID* guid) {
    if (!guid || text.size() != kGuidTextLength) return false;
    if (text[0] != '{' || text[9] != '-' || text[14] != '-' || text[19] != '-' || text[24] != '-' ||
        text[37] != '}')
        return false;
    std::uint64_t d1, d2, d3, d4a, d4b;
    if (!ReadHex(text, 1, 8, &d1) || !ReadHex(text, 10, 4, &d2) || !ReadHex(text, 15, 4, &d3) ||
        !ReadHex(text, 20, 4, &d4a) || !ReadHex(text, 25, 12, &d4b))
        return false;
    GUID g;
    g.Data1 = static_cast<DWORD>(d1);
    g.Data2 = static_cast<WORD>(d2);
    g.Data3 = static_cast<WORD>(d3);
    g.Data4[0] = static_cast<BYTE>(d4a >> 8);
    g.Data4[1] = static_cast<BYTE>(d4a);
    for (int i = 0; i < 6; ++i) g.Data4[2 + i] = static_cast<BYTE>(d4b >> (8 * (5 - i)));
    *guid = g;
    return true;
}
