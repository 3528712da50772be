// The compiled resources as a script of the platform's resource compiler (wrc, rc): the module
// built with it carries every resource in the platform's own formats.
#include <cstdio>

#include "generators/rescomp/rescomp.h"
#include "platform/com/dialog_template.h"
#include "platform/com/version_info.h"

namespace rescomp {
namespace {

std::string Hex(unsigned long value, int digits) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%0*lx", digits, value);
    return buf;
}

// A "..." literal of the platform's scripts: quotes doubled, backslashes and the line-control
// characters escaped; the script is read as UTF-8. Any other control character is refused: the
// script could not say it.
base::Result<std::string> Quote(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"') {
            out += "\"\"";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else if (u < 0x20 || u == 0x7F) {
            return base::Fail("the text \"" + text + "\" holds control character " +
                              std::to_string(u) + ", which a platform resource script cannot hold");
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string Language(std::uint16_t language) {
    // Primary language in the low 10 bits, sublanguage above them.
    return "LANGUAGE " + Hex(language & 0x3FFu, 2) + ", " + Hex(language >> 10, 2) + "\n";
}

base::Result<std::string> DialogStatement(std::uint16_t id, const std::string& bytes) {
    DialogTemplate d;
    if (!ParseDialogTemplate(bytes, &d))
        return base::Fail("DIALOG " + std::to_string(id) + " is malformed");
    std::string out = std::to_string(id) + " DIALOG " + std::to_string(d.x) + ", " +
                      std::to_string(d.y) + ", " + std::to_string(d.cx) + ", " +
                      std::to_string(d.cy) + "\nSTYLE " + Hex(d.style, 8) + "\n";
    if (!d.caption.empty()) {
        auto caption = Quote(d.caption);
        if (!caption) return caption.error();
        out += "CAPTION " + *caption + "\n";
    }
    if (!d.fontName.empty()) {
        auto face = Quote(d.fontName);
        if (!face) return face.error();
        out += "FONT " + std::to_string(d.pointSize) + ", " + *face + "\n";
    }
    out += "BEGIN\n";
    for (const DialogItem& item : d.items) {
        // An icon's text is the icon resource's id, which the control loads from the module.
        std::string text = item.text;
        if (item.kind != DialogItem::Kind::Icon) {
            auto quoted = Quote(item.text);
            if (!quoted) return quoted.error();
            text = *quoted;
        }
        const char* cls = item.kind == DialogItem::Kind::Button ? "\"Button\"" : "\"Static\"";
        out += "    CONTROL " + text + ", " + std::to_string(item.id) + ", " + cls + ", " +
               Hex(item.style, 8) + ", " + std::to_string(item.x) + ", " + std::to_string(item.y) +
               ", " + std::to_string(item.cx) + ", " + std::to_string(item.cy) + "\n";
    }
    return out + "END\n";
}

base::Result<std::string> VersionStatement(std::uint16_t id, const std::string& bytes) {
    VersionInfo v;
    if (!ParseVersionInfo(bytes, &v))
        return base::Fail("VERSION " + std::to_string(id) + " is malformed");
    auto quad = [](const std::uint16_t q[4]) {
        return std::to_string(q[0]) + ", " + std::to_string(q[1]) + ", " + std::to_string(q[2]) +
               ", " + std::to_string(q[3]);
    };
    char block[16];
    std::snprintf(block, sizeof block, "\"%04x%04x\"", v.language, v.codePage);
    std::string out = std::to_string(id) + " VERSIONINFO\nFILEVERSION " + quad(v.fileVersion) +
                      "\nPRODUCTVERSION " + quad(v.productVersion) +
                      "\nFILEFLAGSMASK 0x0\nFILEFLAGS 0x0\nFILEOS " + Hex(v.fileOS, 1) +
                      "\nFILETYPE " + Hex(v.fileType, 1) +
                      "\nFILESUBTYPE 0x0\nBEGIN\n    BLOCK \"StringFileInfo\"\n    BEGIN\n"
                      "        BLOCK " +
                      block + "\n        BEGIN\n";
    for (const auto& [key, value] : v.strings) {
        auto k = Quote(key);
        auto val = Quote(value);
        if (!k) return k.error();
        if (!val) return val.error();
        out += "            VALUE " + *k + ", " + *val + "\n";
    }
    out +=
        "        END\n    END\n    BLOCK \"VarFileInfo\"\n    BEGIN\n        VALUE "
        "\"Translation\", " +
        Hex(v.language, 4) + ", " + std::to_string(v.codePage) + "\n    END\nEND\n";
    return out;
}

}  // namespace

base::Result<PlatformScript> WritePlatformScript(const std::vector<ResourceEntry>& entries,
                                                 const std::string& stem) {
    PlatformScript script;
    script.text =
        "// Written by rescomp from the module's resource script: the same resources in the\n"
        "// platform's formats, for the platform's resource compiler.\n"
        "#pragma code_page(65001)\n";
    for (const ResourceEntry& e : entries) {
        const std::string id = std::to_string(e.id);
        std::string statement;
        // Pictures and the library go in files: the compiler takes them as they are (a bitmap
        // loses its file header, an icon becomes its group and its images).
        auto file = [&](const char* kind, const char* extension) {
            const std::string name = stem + "_" + kind + "_" + id + "." + extension;
            script.files.emplace_back(name, e.bytes);
            return "\"" + name + "\"";
        };
        switch (e.type) {
            case ResourceType::TypeLib:
                statement = id + " TYPELIB " + file("typelib", "tlb") + "\n";
                break;
            case ResourceType::Bitmap:
                statement = id + " BITMAP " + file("bitmap", "bmp") + "\n";
                break;
            case ResourceType::Icon:
                statement = id + " ICON " + file("icon", "ico") + "\n";
                break;
            case ResourceType::String: {
                auto text = Quote(e.bytes);
                if (!text) return text.error();
                statement = "STRINGTABLE\nBEGIN\n    " + id + ", " + *text + "\nEND\n";
                break;
            }
            case ResourceType::Dialog: {
                auto dialog = DialogStatement(e.id, e.bytes);
                if (!dialog) return dialog.error();
                statement = std::move(*dialog);
                break;
            }
            case ResourceType::Version: {
                auto version = VersionStatement(e.id, e.bytes);
                if (!version) return version.error();
                statement = std::move(*version);
                break;
            }
        }
        script.text += "\n" + Language(e.language) + statement;
    }
    return script;
}

}  // namespace rescomp
