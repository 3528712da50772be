// The version block: a module's file and product versions and its string table.
#include "platform/com/version_info.h"

#include "platform/com/le_bytes.h"

std::string SerializeVersionInfo(const VersionInfo& info) {
    lebytes::Writer w;
    for (std::uint16_t v : info.fileVersion) w.U16(v);
    for (std::uint16_t v : info.productVersion) w.U16(v);
    w.U32(info.fileOS);
    w.U32(info.fileType);
    w.U16(info.language);
    w.U16(info.codePage);
    w.Count16(info.strings.size());
    for (const auto& [key, value] : info.strings) {
        w.Str(key);
        w.Str(value);
    }
    if (w.failed()) return {};
    return std::move(w.str());
}

bool ParseVersionInfo(const std::string& bytes, VersionInfo* out) {
    lebytes::Reader r(bytes);
    VersionInfo v;
    for (std::uint16_t& x : v.fileVersion) x = r.U16();
    for (std::uint16_t& x : v.productVersion) x = r.U16();
    v.fileOS = r.U32();
    v.fileType = r.U32();
    v.language = r.U16();
    v.codePage = r.U16();
    std::uint16_t count = r.U16();
    if (!r.CanHold(count, 4)) return false;
    v.strings.reserve(count);
    for (std::uint16_t i = 0; i < count; ++i) {
        std::string key = r.Str();
        std::string value = r.Str();
        if (!r.ok()) return false;
        v.strings.emplace_back(std::move(key), std::move(value));
    }
    if (!r.AtEnd()) return false;
    *out = std::move(v);
    return true;
}
