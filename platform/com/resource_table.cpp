// The resource table: the entries a module carries, serialised into its resource section.
#include "platform/com/resource_table.h"

#include <algorithm>
#include <set>
#include <tuple>

#include "platform/com/le_bytes.h"

namespace {

constexpr char kTableMagic[] = "LBRSRC01";
constexpr std::size_t kMagicSize = 8;
constexpr std::size_t kEntrySize = 16;

bool RangeInside(std::uint64_t offset, std::uint64_t size, std::uint64_t total) {
    return offset <= total && size <= total - offset;
}

}  // namespace

std::string SerializeResourceTable(const std::vector<ResourceEntry>& entries) {
    lebytes::Writer w;
    w.Bytes(std::string_view(kTableMagic, kMagicSize));
    w.U32(static_cast<std::uint32_t>(entries.size()));
    std::uint64_t offset = kMagicSize + 4 + kEntrySize * entries.size();
    for (const ResourceEntry& e : entries) {
        w.U16(static_cast<std::uint16_t>(e.type));
        w.U16(e.id);
        w.U16(e.language);
        w.U16(0);
        if (offset + e.bytes.size() > 0xFFFFFFFFu) return {};  // does not fit the 32-bit offsets
        w.U32(static_cast<std::uint32_t>(offset));
        w.U32(static_cast<std::uint32_t>(e.bytes.size()));
        offset += e.bytes.size();
    }
    for (const ResourceEntry& e : entries) w.Bytes(e.bytes);
    return std::move(w.str());
}

base::Result<std::vector<ResourceEntry>> ParseResourceTable(std::string_view table) {
    lebytes::Reader r(table);
    if (r.Bytes(kMagicSize) != std::string_view(kTableMagic, kMagicSize)) {
        return base::Fail("bad resource table signature");
    }
    std::uint32_t count = r.U32();
    if (!r.ok() || !r.CanHold(count, kEntrySize)) {
        return base::Fail("resource table truncated");
    }
    std::vector<ResourceEntry> entries;
    entries.reserve(count);
    std::set<std::tuple<std::uint16_t, std::uint16_t, std::uint16_t>> seen;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint16_t type = r.U16();
        std::uint16_t id = r.U16();
        std::uint16_t language = r.U16();
        std::uint16_t reserved = r.U16();
        std::uint32_t offset = r.U32();
        std::uint32_t size = r.U32();
        if (!r.ok()) {
            return base::Fail("resource table truncated");
        }
        if (reserved != 0) {
            return base::Fail("bad resource entry " + std::to_string(i));
        }
        if (!RangeInside(offset, size, table.size())) {
            return base::Fail("resource " + std::to_string(i) + " lies outside the table");
        }
        if (!seen.insert({type, id, language}).second) {
            return base::Fail("resource " + ResourceTypeName(static_cast<ResourceType>(type)) +
                              " " + std::to_string(id) + " appears twice");
        }
        entries.push_back({static_cast<ResourceType>(type), id, language,
                           std::string(table.substr(offset, size))});
    }
    return entries;
}

std::string ResourceTypeName(ResourceType type) {
    switch (type) {
        case ResourceType::Bitmap:
            return "BITMAP";
        case ResourceType::Icon:
            return "ICON";
        case ResourceType::Dialog:
            return "DIALOG";
        case ResourceType::String:
            return "STRING";
        case ResourceType::Version:
            return "VERSION";
        case ResourceType::TypeLib:
            return "TYPELIB";
    }
    return std::to_string(static_cast<unsigned>(type));
}
