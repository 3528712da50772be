// Module resources: the entries a module carries and the byte formats they are written in (the
// resource table, dialog templates, version blocks). Types and ids as on the platform. Reading
// them from a module file is module_resources.h.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/base/result.h"
#include "platform/com/wtypes.h"

enum class ResourceType : std::uint16_t {
    Bitmap = 2,       // bytes: a complete .bmp file (file header included), for QImage and friends
    Icon = 14,        // bytes: a complete .ico file with all images of the icon group
    Dialog = 5,       // bytes: the serialised DialogTemplate (see ParseDialogTemplate)
    String = 6,       // bytes: UTF-8 text of one string id
    Version = 16,     // bytes: the serialised VersionInfo (see ParseVersionInfo)
    TypeLib = 0x7FFF  // bytes: our binary type-library format
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

// A dialog template in dialog units, as the resource stores it.
struct DialogItem {
    enum class Kind : std::uint8_t { Static, Button, Icon };
    Kind kind;
    std::int16_t id;      // -1 for "no identifier"
    std::uint32_t style;  // WS_* | SS_* | BS_* bits as on the platform
    std::int16_t x, y, cx, cy;
    std::string text;  // caption; for an icon, the icon resource id in decimal
};
struct DialogTemplate {
    std::uint32_t style;  // WS_POPUP 0x80000000, WS_CHILD 0x40000000, WS_CAPTION 0x00C00000,
                          // WS_SYSMENU 0x00080000, DS_MODALFRAME 0x80, DS_SETFONT 0x40
    std::int16_t x, y, cx, cy;
    std::string caption;
    std::string fontName;
    std::uint16_t pointSize;
    std::vector<DialogItem> items;
};
// Layout (little-endian; a string is u16 byte count + UTF-8): u32 style, i16 x, y, cx, cy,
// u16 pointSize, caption, fontName, u16 item count, per item: u8 kind, i16 id, u32 style,
// i16 x, y, cx, cy, text. Parsing rejects truncated data, unknown kinds and trailing bytes.
COM_EXPORT std::string SerializeDialogTemplate(const DialogTemplate& dialog);
COM_EXPORT bool ParseDialogTemplate(const std::string& bytes, DialogTemplate* out);

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
