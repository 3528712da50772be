// The DIALOG resource: a dialog template in dialog units and its byte format.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/com/wtypes.h"

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
