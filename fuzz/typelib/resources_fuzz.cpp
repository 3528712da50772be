// The module reader on arbitrary bytes: as an ELF image, and as a bare resource table whose
// entries are then parsed as dialog templates and version blocks. Nothing may crash, and what
// parses must survive a write and re-read unchanged.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/com/dialog_template.h"
#include "platform/com/module_resources.h"
#include "platform/com/version_info.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

void ParseEntry(const ResourceEntry& e) {
    DialogTemplate d;
    if (ParseDialogTemplate(e.bytes, &d)) Check(SerializeDialogTemplate(d) == e.bytes);
    VersionInfo v;
    if (ParseVersionInfo(e.bytes, &v)) Check(SerializeVersionInfo(v) == e.bytes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    if (const auto image = ReadResourcesFromImage(input)) {
        for (const ResourceEntry& e : *image) ParseEntry(e);
    } else {
        Check(!image.message().empty());
    }
    if (const auto entries = ParseResourceTable(input)) {
        const auto again = ParseResourceTable(SerializeResourceTable(*entries));
        Check(again.ok());
        Check(again && again->size() == entries->size());
        for (const ResourceEntry& e : *entries) ParseEntry(e);
    }
    ParseEntry({ResourceType::Dialog, 1, 0, std::string(input)});
    return 0;
}
