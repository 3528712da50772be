#include <cstdio>

#include "platform/com/wtypes.h"

std::string HresultToString(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", static_cast<unsigned>(hr));
    return text;
}
