// Dialog templates: a dialog's frame and items in dialog units, as its resource stores them.
#include "platform/com/dialog_template.h"

#include "platform/com/le_bytes.h"

std::string SerializeDialogTemplate(const DialogTemplate& dialog) {
    lebytes::Writer w;
    w.U32(dialog.style);
    w.I16(dialog.x);
    w.I16(dialog.y);
    w.I16(dialog.cx);
    w.I16(dialog.cy);
    w.U16(dialog.pointSize);
    w.Str(dialog.caption);
    w.Str(dialog.fontName);
    w.Count16(dialog.items.size());
    for (const DialogItem& item : dialog.items) {
        w.U8(static_cast<std::uint8_t>(item.kind));
        w.I16(item.id);
        w.U32(item.style);
        w.I16(item.x);
        w.I16(item.y);
        w.I16(item.cx);
        w.I16(item.cy);
        w.Str(item.text);
    }
    if (w.failed()) return {};
    return std::move(w.str());
}

bool ParseDialogTemplate(const std::string& bytes, DialogTemplate* out) {
    lebytes::Reader r(bytes);
    DialogTemplate d;
    d.style = r.U32();
    d.x = r.I16();
    d.y = r.I16();
    d.cx = r.I16();
    d.cy = r.I16();
    d.pointSize = r.U16();
    d.caption = r.Str();
    d.fontName = r.Str();
    std::uint16_t count = r.U16();
    constexpr std::size_t kMinItemSize = 1 + 2 + 4 + 8 + 2;
    if (!r.CanHold(count, kMinItemSize)) return false;
    d.items.reserve(count);
    for (std::uint16_t i = 0; i < count; ++i) {
        DialogItem item;
        std::uint8_t kind = r.U8();
        if (kind > static_cast<std::uint8_t>(DialogItem::Kind::Icon)) return false;
        item.kind = static_cast<DialogItem::Kind>(kind);
        item.id = r.I16();
        item.style = r.U32();
        item.x = r.I16();
        item.y = r.I16();
        item.cx = r.I16();
        item.cy = r.I16();
        item.text = r.Str();
        if (!r.ok()) return false;
        d.items.push_back(std::move(item));
    }
    if (!r.AtEnd()) return false;
    *out = std::move(d);
    return true;
}
