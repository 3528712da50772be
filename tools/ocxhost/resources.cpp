// A module's resources, read from its file: the table and the version block.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/com/module_resources.h"
#include "platform/com/version_info.h"
#include "tools/ocxhost/host.h"

namespace ocxhost {

Outcome Host::Resources(const std::string& path) {
    if (path.empty()) return Refuse("resources needs a PATH");
    const auto read = ReadModuleResources(path);
    if (!read) return Refuse(read.message());
    const std::vector<ResourceEntry>& entries = *read;
    std::string out;
    char buf[96];
    const std::string* version = nullptr;
    for (const ResourceEntry& e : entries) {
        const std::string type = ResourceTypeName(e.type);
        std::snprintf(buf, sizeof buf, " %u 0x%04x %zu", static_cast<unsigned>(e.id),
                      static_cast<unsigned>(e.language), e.bytes.size());
        out += (out.empty() ? "" : "\n") + type + buf;
        if (e.type == ResourceType::Version && !version) version = &e.bytes;
    }
    if (!version) return out.empty() ? std::string("no resources") : out;
    VersionInfo info;
    if (!ParseVersionInfo(*version, &info)) return out + "\nerror malformed version block";
    auto quad = [](const std::uint16_t v[4]) {
        return std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]) +
               "." + std::to_string(v[3]);
    };
    out += "\nfile version " + quad(info.fileVersion);
    out += "\nproduct version " + quad(info.productVersion);
    std::snprintf(buf, sizeof buf, "\nfile OS 0x%08x\nfile type 0x%08x\ntranslation 0x%04x 0x%04x",
                  static_cast<unsigned>(info.fileOS), static_cast<unsigned>(info.fileType),
                  static_cast<unsigned>(info.language), static_cast<unsigned>(info.codePage));
    out += buf;
    for (const auto& [key, value] : info.strings) out += "\n" + key + ": " + value;
    return out;
}

}  // namespace ocxhost
