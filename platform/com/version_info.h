// The VERSION resource: a module's version block and its byte format.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/com/wtypes.h"

struct VersionInfo {
    std::uint16_t fileVersion[4];  // 1.0.2.0
    std::uint16_t productVersion[4];
    std::uint32_t fileOS;                                      // VOS__WINDOWS32 = 0x4
    std::uint32_t fileType;                                    // VFT_DLL = 0x2
    std::uint16_t language;                                    // 0x0409
    std::uint16_t codePage;                                    // 1200 (0x04B0)
    std::vector<std::pair<std::string, std::string>> strings;  // in table order
};
// Layout (little-endian; strings as above): u16 fileVersion[4], u16 productVersion[4], u32 fileOS,
// u32 fileType, u16 language, u16 codePage, u16 string count, per string: key, value.
COM_EXPORT std::string SerializeVersionInfo(const VersionInfo& info);
COM_EXPORT bool ParseVersionInfo(const std::string& bytes, VersionInfo* out);
