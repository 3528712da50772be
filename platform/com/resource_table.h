// Module resources: the entries a module carries (types and ids as on the platform) and the
// resource table they are stored in. Reading them from a module file is module_resources.h; the
// formats of single entries are dialog_template.h and version_info.h.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/result.h"
#include "platform/com/wtypes.h"

enum class ResourceType : std::uint16_t {
    Bitmap = 2,       // bytes: a complete .bmp file (file header included), for QImage and friends
    Icon = 14,        // bytes: a complete .ico file with all images of the icon group
    Dialog = 5,       // bytes: the serialised DialogTemplate (see ParseDialogTemplate)
    String = 6,       // bytes: UTF-8 text of one string id
    Version = 16,     // bytes: the serialised VersionInfo (see ParseVersionInfo)
    TypeLib = 0x7FFF  // bytes: a type library in the platform's format
};

struct ResourceEntry {
    ResourceType type;
    std::uint16_t id;
    std::uint16_t language;  // 0x0409
    std::string bytes;
};

// The ELF section of a shared object that holds its resource table.
inline constexpr char kResourceSectionName[] = ".lbrsrc";

// The resource table, as stored in the section (all integers little-endian):
//   magic "LBRSRC01" (8 bytes), u32 entry count,
//   per entry (16 bytes): u16 type, u16 id, u16 language, u16 reserved (0),
//                         u32 offset of the bytes from the start of the table, u32 size,
//   then the bytes of the entries. Every range lies inside the table and no (type, id, language)
//   appears twice.
COM_EXPORT std::string SerializeResourceTable(const std::vector<ResourceEntry>& entries);
COM_EXPORT base::Result<std::vector<ResourceEntry>> ParseResourceTable(std::string_view table);

// "TYPELIB", "BITMAP", "ICON", "DIALOG", "STRING", "VERSION", or the number in decimal.
COM_EXPORT std::string ResourceTypeName(ResourceType type);
