// Text from outside (a path, an argument) quoted back in a message: control characters escaped so
// that no name can drive the user's terminal, and a runaway one cut with a note of its length.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace base {

// Backslash, tab, newline and CR as \\, \t, \n and \r, every other control character (C0, DEL,
// and the C1 range as UTF-8 encodes it) as \xNN; everything else as it is.
inline std::string EscapeText(std::string_view text) {
    static const char kDigits[] = "0123456789abcdef";
    auto hex = [](std::string* out, unsigned char byte) {
        *out += "\\x";
        *out += kDigits[byte >> 4];
        *out += kDigits[byte & 0xF];
    };
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            default: {
                const auto byte = static_cast<unsigned char>(c);
                const bool c1 = byte == 0xC2 && i + 1 < text.size() &&
                                static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                                static_cast<unsigned char>(text[i + 1]) <= 0x9F;
                if (byte < 0x20 || byte == 0x7F || c1) {
                    hex(&out, byte);
                    if (c1) hex(&out, static_cast<unsigned char>(text[++i]));
                } else {
                    out += c;
                }
            }
        }
    }
    return out;
}

// How many bytes of a name a message shows before cutting it.
inline constexpr std::size_t kShownLimit = 200;

// The name in double quotes, escaped; past kShownLimit bytes (cut at a character boundary) a
// note of its whole length follows the quote.
inline std::string Shown(std::string_view name) {
    if (name.size() <= kShownLimit) return "\"" + EscapeText(name) + "\"";
    std::size_t cut = kShownLimit;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
    return "\"" + EscapeText(name.substr(0, cut)) + "\"... (cut; " + std::to_string(name.size()) +
           " bytes in all)";
}

}  // namespace base
